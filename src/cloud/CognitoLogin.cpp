#include "cloud/CognitoLogin.h"

#include "cloud/HubNetwork.h"
#include "core/Deployment.h"
#include "core/HubError.h"
#include "core/Json.h"
#include "core/StrictDecoder.h"
#include "core/async/Resumer.h"
#include "platform/Keyring.h"
#include "platform/WebAuthSession.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrlQuery>
#include <QUuid>

#include <sys/random.h>

#include <chrono>
#include <coroutine>

using namespace std::chrono_literals;

namespace
{
const QString kConfigurationSentence =
    QStringLiteral("Configure a Cognito public app client and registered desktop redirect URI.");

constexpr qint64 kRenewalAnswerCap = 1048576;
constexpr std::chrono::milliseconds kExchangeDeadline = 60s;
constexpr std::chrono::milliseconds kRenewalDeadline = 30s;

QString base64url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The query encoding of a name or value: everything a query may hold stays as it is, except the
// pair delimiters "&" and "="; `encodePlus` also encodes "+", which form decoders read as a space.
QByteArray encodeQueryPart(const QString &text, bool encodePlus)
{
    return QUrl::toPercentEncoding(text, encodePlus ? QByteArray("!$'()*,;:@/?") : QByteArray("!$'()*+,;:@/?"));
}

QByteArray encodeQuery(const QList<QPair<QString, QString>> &fields, bool encodePlus)
{
    QByteArray out;
    for (const auto &[name, value] : fields) {
        if (!out.isEmpty())
            out += '&';
        out += encodeQueryPart(name, encodePlus) + '=' + encodeQueryPart(value, encodePlus);
    }
    return out;
}

// The token endpoint's answer. `access_token` is required; the other two may be absent or null.
struct TokenAnswer
{
    QString accessToken;
    std::optional<QString> identityToken;
    std::optional<QString> refreshToken;
};

TokenAnswer decodeAnswer(const QByteArray &body)
{
    const std::optional<Json> document = json::tryParse(body);
    if (!document || !document->is_object())
        throw HubError(json::decodingErrorSentence());
    const StrictDecoder fields(*document);
    TokenAnswer answer;
    const std::optional<QString> access = fields.optionalText("access_token");
    if (!access)
        throw HubError(QStringLiteral("The data couldn't be read because it is missing."));
    answer.accessToken = *access;
    answer.identityToken = fields.optionalText("id_token");
    answer.refreshToken = fields.optionalText("refresh_token");
    return answer;
}

// One form POST to the token endpoint. Redirects are never followed: a 3xx comes back as its status.
QCoro::Task<HubNetwork::Reply> postForm(QNetworkAccessManager *network, QUrl url, QByteArray body,
                                        std::chrono::milliseconds deadline, qint64 maxBytes, CancelToken token)
{
    HubNetwork::Request request;
    request.request = QNetworkRequest(url);
    request.request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    request.body = std::move(body);
    request.deadline = deadline;
    request.maxBytes = maxBytes;
    return HubNetwork::send(network, std::move(request), std::move(token));
}

// The end of one web session, handed from its completion to the waiting sign-in exactly once.
struct WebOutcome
{
    bool done = false;
    QUrl callbackURL;
    WebAuthSession::Error error = WebAuthSession::Error::None;
    Resumer::Waker waiter;
};

class WebOutcomeAwaiter
{
public:
    explicit WebOutcomeAwaiter(std::shared_ptr<WebOutcome> outcome) : m_outcome(std::move(outcome)) {}
    bool await_ready() const noexcept { return m_outcome->done; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        m_outcome->waiter = m_resumer.waker();
    }
    void await_resume() const noexcept {}

private:
    std::shared_ptr<WebOutcome> m_outcome;
    Resumer m_resumer;
};

WebAuthSession::Completion completionFor(std::shared_ptr<WebOutcome> outcome)
{
    return [outcome](QUrl callbackURL, WebAuthSession::Error error) {
        if (outcome->done)
            return;
        outcome->done = true;
        outcome->callbackURL = std::move(callbackURL);
        outcome->error = error;
        // Resumed from the event loop, never inside the session's own code: the session may be
        // in its destructor.
        std::exchange(outcome->waiter, {}).wake();
    };
}

bool sameComponent(const QString &a, const QString &b)
{
    return a.isNull() == b.isNull() && a == b;
}

// The first item named `name`: nothing when there is none; a null value when it has no "=".
std::optional<QString> firstQueryItem(const QUrlQuery &query, const QString &name)
{
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        if (key == name)
            return value;
    return std::nullopt;
}

QStringList signInHosts(const QUrl &authDomain, const QUrl &redirect)
{
    QStringList hosts;
    for (const auto &host : deployment::kSignInHosts)
        hosts << QString::fromLatin1(host.data(), qsizetype(host.size()));
    if (!authDomain.host().isEmpty() && !hosts.contains(authDomain.host()))
        hosts << authDomain.host();
    // The page behind an https redirect URI forwards the browser to the callback.
    if (redirect.scheme() == QLatin1String("https") && !redirect.host().isEmpty())
        hosts << redirect.host();
    return hosts;
}
} // namespace

CognitoLogin::CognitoLogin(std::shared_ptr<Keyring> keyring, WebAuthSessionFactory webSessions,
                           QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_keyring(std::move(keyring)), m_webSessions(std::move(webSessions)), m_network(network)
{}

// The running web session ends with a cancellation; its waiting sign-in resumes later, sees this
// object gone and ends with it.
CognitoLogin::~CognitoLogin()
{
    m_session.reset();
}

QString CognitoLogin::codeVerifier(const QByteArray &randomBytes)
{
    return base64url(randomBytes);
}

QString CognitoLogin::codeChallenge(const QString &verifier)
{
    return base64url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QUrl CognitoLogin::endpoint(const QUrl &authDomain, const QString &component)
{
    QUrl url = authDomain;
    QString path = url.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + component);
    return url;
}

std::optional<QUrl> CognitoLogin::expectedCallback(const std::optional<QString> &redirectURI)
{
    if (!redirectURI)
        return std::nullopt;
    const QUrl redirect(*redirectURI, QUrl::StrictMode);
    // Schemes compare without case: "HTTP" is as plain-text as "http".
    if (!redirect.isValid() || redirect.scheme() == QLatin1String("http"))
        return std::nullopt;
    const QUrl expected =
        redirect.scheme() == QLatin1String("https") ? QUrl(QString(desktopCallbackURL), QUrl::StrictMode) : redirect;
    if (!expected.isValid() || expected.scheme().isEmpty())
        return std::nullopt;
    return expected;
}

QCoro::Task<std::optional<CognitoLogin::Tokens>> CognitoLogin::restore(HubConfiguration configuration,
                                                                       CancelToken token)
{
    if (!configuration.clientID)
        co_return std::nullopt;
    const QString client = *configuration.clientID;
    QPointer self(this);
    const std::optional<QString> refreshToken = co_await storedRefreshToken(client, token);
    if (token.cancelled() || !self)
        throw CancelledError();
    if (!refreshToken)
        co_return std::nullopt;

    const QByteArray body = encodeQuery({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                         {QStringLiteral("client_id"), client},
                                         {QStringLiteral("refresh_token"), *refreshToken}},
                                        false);
    const HubNetwork::Reply reply =
        co_await postForm(m_network, endpoint(configuration.authDomain, QStringLiteral("oauth2/token")), body,
                          kRenewalDeadline, kRenewalAnswerCap, token);
    if (token.cancelled() || !self)
        throw CancelledError();
    if (reply.status != 200)
        throw HubError(
            QStringLiteral("Stored session renewal was refused. Sign in outside silent capture before retrying."));
    if (reply.overCap)
        throw HubError(QStringLiteral("The identity provider returned an oversized session response."));
    const Tokens tokens = co_await keepRefreshToken(reply.body, client);
    if (token.cancelled() || !self)
        throw CancelledError();
    co_return tokens;
}

QCoro::Task<CognitoLogin::Tokens> CognitoLogin::login(HubConfiguration configuration, CancelToken token)
{
    const std::optional<QUrl> expectedURL = expectedCallback(configuration.redirectURI);
    if (!configuration.clientID || configuration.clientID->isEmpty() || !expectedURL)
        throw HubError(kConfigurationSentence);
    const QString client = *configuration.clientID;
    const QString redirectURI = *configuration.redirectURI;
    const QUrl redirect(redirectURI, QUrl::StrictMode);
    const bool webRedirect = redirect.scheme() == QLatin1String("https");
    const QUrl expected = *expectedURL;

    QByteArray random(32, Qt::Uninitialized);
    if (getrandom(random.data(), size_t(random.size()), 0) != random.size())
        throw HubError(QStringLiteral("Cannot generate PKCE verifier."));
    const QString verifier = codeVerifier(random);
    const QString challenge = codeChallenge(verifier);
    QString state = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (webRedirect)
        state.prepend(QStringLiteral("desktop."));

    QUrl authorize = endpoint(configuration.authDomain, QStringLiteral("oauth2/authorize"));
    authorize.setQuery(
        QString::fromLatin1(encodeQuery({{QStringLiteral("client_id"), client},
                                         {QStringLiteral("redirect_uri"), redirectURI},
                                         {QStringLiteral("response_type"), QStringLiteral("code")},
                                         {QStringLiteral("scope"), QStringLiteral("openid profile email")},
                                         {QStringLiteral("state"), state},
                                         {QStringLiteral("code_challenge"), challenge},
                                         {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}},
                                        false)),
        QUrl::StrictMode);

    auto outcome = std::make_shared<WebOutcome>();
    // A sign-in still on screen ends here with a cancellation.
    m_session = m_webSessions();
    WebAuthSession *session = m_session.get();
    if (!session || !session->start({authorize, expected.scheme(), signInHosts(configuration.authDomain, redirect)},
                                    completionFor(outcome))) {
        m_session.reset();
        throw HubError(QStringLiteral("Cannot start system authentication."));
    }
    QPointer self(this);
    {
        auto cancelled = token.onCancel(this, [self, session] {
            if (self && self->m_session.get() == session)
                session->cancel();
        });
        co_await WebOutcomeAwaiter(outcome);
    }
    if (!self)
        throw CancelledError();
    if (m_session.get() == session)
        m_session.reset();
    if (outcome->error == WebAuthSession::Error::CanceledLogin || token.cancelled())
        throw CancelledError();
    if (outcome->callbackURL.isEmpty())
        throw HubError(QStringLiteral("Login returned no callback."));

    const QUrl callback = outcome->callbackURL;
    if (callback.scheme() != expected.scheme() || !sameComponent(callback.host(), expected.host()) ||
        callback.path() != expected.path())
        throw HubError(QStringLiteral("Unexpected authentication callback."));
    const QUrlQuery query(callback);
    const std::optional<QString> returnedState = firstQueryItem(query, QStringLiteral("state"));
    const std::optional<QString> code = firstQueryItem(query, QStringLiteral("code"));
    if (!returnedState || returnedState->isNull() || *returnedState != state || !code || code->isNull())
        throw HubError(QStringLiteral("Authentication state or code missing."));

    const QByteArray body = encodeQuery({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                         {QStringLiteral("client_id"), client},
                                         {QStringLiteral("redirect_uri"), redirectURI},
                                         {QStringLiteral("code"), *code},
                                         {QStringLiteral("code_verifier"), verifier}},
                                        true);
    const HubNetwork::Reply reply =
        co_await postForm(m_network, endpoint(configuration.authDomain, QStringLiteral("oauth2/token")), body,
                          kExchangeDeadline, -1, token);
    if (token.cancelled() || !self)
        throw CancelledError();
    if (reply.status != 200)
        throw HubError(QStringLiteral("Cognito token exchange rejected."));
    const Tokens tokens = co_await keepRefreshToken(reply.body, client);
    if (token.cancelled() || !self)
        throw CancelledError();
    co_return tokens;
}

// The keyring helpers hold the keyring themselves and never touch this object after a wait: the
// sign-in may be destroyed while the keyring answers.

QCoro::Task<CognitoLogin::Tokens> CognitoLogin::keepRefreshToken(QByteArray answerBody, QString client)
{
    const TokenAnswer answer = decodeAnswer(answerBody);
    if (answer.refreshToken)
        co_await saveRefreshToken(*answer.refreshToken, client);
    co_return Tokens{answer.accessToken, answer.identityToken};
}

QCoro::Task<std::optional<QString>> CognitoLogin::storedRefreshToken(QString account, CancelToken token)
{
    const std::shared_ptr<Keyring> keyring = m_keyring;
    const Keyring::ReadResult stored = co_await keyring->read(QString(keychainService), account, token);
    if (stored.status == Keyring::kItemNotFound)
        co_return std::nullopt;
    if (stored.status != Keyring::kSuccess)
        throw HubError(QStringLiteral("Stored credentials are inaccessible without Keyring interaction (status %1); "
                                      "silent capture cannot prompt.")
                           .arg(stored.status));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(stored.secret);
    if (decoder.hasError() || text.isEmpty())
        throw HubError(QStringLiteral("The stored native session credential is unreadable."));
    co_return text;
}

QCoro::Task<void> CognitoLogin::saveRefreshToken(QString token, QString client)
{
    const std::shared_ptr<Keyring> keyring = m_keyring;
    const int status = co_await keyring->write(QString(keychainService), client, token.toUtf8());
    if (status != Keyring::kSuccess)
        throw HubError(QStringLiteral("The renewed session could not be saved without Keyring interaction (status %1).")
                           .arg(status));
}
