#include "standin/HostedSignIn.h"

#include "standin/EventLog.h"
#include "standin/PlatformHosts.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"
#include "standin/WorkspaceSelection.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>

#include <map>
#include <memory>

namespace hostedsignin
{
namespace
{
// Codes are good for one exchange within this many seconds, as at the real provider.
constexpr qint64 kCodeLifetimeSeconds = 300;

// The signed-in account, from the scenario's "signIn" section (key "account"), else these values.
struct Account
{
    std::string userPoolId = "us-east-1_StandIn";
    std::string sub = "standin-user";
    std::string email = "user@tavrilo.example";
    std::string workspace = "standin-workspace";
    qint64 lifetimeSeconds = 3600;
    bool rotateRefreshTokens = false;
};

QString validateAccount(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a signIn account must be an object");
    for (const auto &[key, value] : step.items()) {
        if (key == "match")
            continue;
        if (key == "userPoolId" || key == "sub" || key == "email" || key == "workspace") {
            if (!value.is_string())
                return QStringLiteral("signIn account member %1 must be a string").arg(json::toQString(key));
        } else if (key == "lifetimeSeconds") {
            if (!value.is_number_integer() || value.get<qint64>() < 1 || value.get<qint64>() > 86400)
                return QStringLiteral("signIn lifetimeSeconds must be an integer from 1 to 86400");
        } else if (key == "rotateRefreshTokens") {
            if (!value.is_boolean())
                return QStringLiteral("signIn rotateRefreshTokens must be true or false");
        } else {
            return QStringLiteral("unknown signIn account member %1").arg(json::toQString(key));
        }
    }
    return {};
}

Account accountFor(Scenario &scenario, const Json &view)
{
    Account account;
    const std::optional<Json> step = scenario.take("signIn", "account", view);
    if (!step)
        return account;
    account.userPoolId = step->value("userPoolId", account.userPoolId);
    account.sub = step->value("sub", account.sub);
    account.email = step->value("email", account.email);
    account.workspace = step->value("workspace", account.workspace);
    account.lifetimeSeconds = step->value("lifetimeSeconds", account.lifetimeSeconds);
    account.rotateRefreshTokens = step->value("rotateRefreshTokens", account.rotateRefreshTokens);
    return account;
}

QByteArray base64url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), bytes / 4);
    return base64url(raw);
}

// A JWT in compact form. The signature is random bytes: the hub reads claims without verifying it.
QByteArray jwt(const Json &claims)
{
    const Json header{{"alg", "RS256"}, {"kid", "standin"}};
    return base64url(json::dump(header)) + '.' + base64url(json::dump(claims)) + '.' + randomToken(64);
}

struct Grant
{
    std::string clientID;
    std::string redirectURI;
    std::string challenge;
    qint64 issuedAt = 0;
};

struct Session
{
    std::string clientID;
};

// What the provider remembers between requests: open codes and live refresh tokens.
struct State
{
    std::map<std::string, Grant> codes;
    std::map<std::string, Session> refreshTokens;
};

Outcome page(int status, const QByteArray &contentType, const QByteArray &body)
{
    Outcome outcome;
    outcome.response.status = status;
    outcome.response.setHeader("Content-Type", contentType);
    outcome.response.setHeader("Cache-Control", "no-store");
    outcome.response.body = body;
    return outcome;
}

Outcome oauthError(const char *error, const char *description)
{
    Outcome outcome;
    outcome.response = HttpResponse::json(400, json::dump(Json{{"error", error}, {"error_description", description}}));
    return outcome;
}

QByteArray htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// Appends query items to a URL, keeping what it already carries.
QString withQuery(const QUrl &url, const QList<QPair<QString, QString>> &items)
{
    QString out = url.toString(QUrl::FullyEncoded);
    QChar separator = out.contains(u'?') ? u'&' : u'?';
    for (const auto &[name, value] : items) {
        out += separator + name + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value));
        separator = u'&';
    }
    return out;
}

std::string query(const HttpsExchange &exchange, const char *name)
{
    return exchange.request.query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded).toStdString();
}

// The redirect URI as a URL the provider may send the browser to: absolute and without a fragment
// (RFC 6749 section 3.1.2); invalid otherwise.
QUrl redirectTarget(const std::string &text)
{
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.hasFragment())
        return {};
    return url;
}

// Why an authorize request with a known client and a usable redirect URI is refused, as the error
// code and description RFC 6749 section 4.1.2.1 sends back to the redirect URI; none when it is good.
std::optional<std::pair<QString, QString>> authorizeError(const HttpsExchange &exchange)
{
    static const QRegularExpression challengeForm(QStringLiteral("\\A[A-Za-z0-9_-]{43}\\z"));
    const std::string responseType = query(exchange, "response_type");
    auto error = [](const char *code, const char *description) {
        return std::make_pair(QString::fromLatin1(code), QString::fromLatin1(description));
    };
    if (responseType.empty())
        return error("invalid_request", "The response_type parameter is missing.");
    if (responseType != "code")
        return error("unsupported_response_type", "Only the authorization code flow is supported.");
    // RFC 7636 section 4.4.1: a missing challenge, or a method the server does not support.
    if (query(exchange, "code_challenge_method") != "S256")
        return error("invalid_request", "The code_challenge_method must be S256.");
    if (!challengeForm.match(QString::fromStdString(query(exchange, "code_challenge"))).hasMatch())
        return error("invalid_request", "The code_challenge must be 43 base64url characters.");
    if (query(exchange, "state").empty())
        return error("invalid_request", "The state parameter is missing.");
    return std::nullopt;
}

Outcome authorize(State &state, const HttpsExchange &exchange)
{
    const std::string clientID = query(exchange, "client_id");
    const std::string redirectURI = query(exchange, "redirect_uri");
    const std::string challenge = query(exchange, "code_challenge");
    const std::string signInState = query(exchange, "state");
    const Json view{{"client_id", clientID}, {"redirect_uri", redirectURI}, {"state", signInState}};
    exchange.context.log.append(
        {{"kind", "signin"}, {"step", "authorize"}, {"client_id", clientID}, {"redirect_uri", redirectURI}});

    auto makeDefault = [&] {
        // Without a client or a usable redirect URI there is nowhere safe to send the browser: the
        // error is shown to the user instead (RFC 6749 section 4.1.2.1).
        const QUrl redirect = redirectTarget(redirectURI);
        if (clientID.empty() || !redirect.isValid())
            return page(400, "text/html; charset=utf-8",
                        "<!doctype html><title>Sign-in error</title><p>invalid_request</p>");
        Outcome outcome = page(302, "text/html; charset=utf-8", {});
        if (const auto error = authorizeError(exchange)) {
            QList<QPair<QString, QString>> items = {{QStringLiteral("error"), error->first},
                                                    {QStringLiteral("error_description"), error->second}};
            if (!signInState.empty())
                items.append({QStringLiteral("state"), QString::fromStdString(signInState)});
            outcome.response.setHeader("Location", withQuery(redirect, items).toUtf8());
            return outcome;
        }
        const std::string code = randomToken(24).toStdString();
        state.codes[code] = {clientID, redirectURI, challenge, QDateTime::currentSecsSinceEpoch()};
        outcome.response.setHeader("Location",
                                   withQuery(redirect, {{QStringLiteral("code"), QString::fromStdString(code)},
                                                        {QStringLiteral("state"), QString::fromStdString(signInState)}})
                                       .toUtf8());
        return outcome;
    };
    return scriptedstep::answer(exchange.context.scenario, "https", "signInAuthorize", view, makeDefault);
}

Outcome desktopRedirect(const HttpsExchange &exchange)
{
    // Everything the provider sent along (a code and state, or an error and state) goes on to the
    // hub's callback as it came.
    QUrl target(QStringLiteral("tavrilo-code://auth/callback"));
    if (!exchange.request.query.isEmpty())
        target.setQuery(exchange.request.query.toString(QUrl::FullyEncoded), QUrl::StrictMode);
    const QString text = target.toString(QUrl::FullyEncoded);
    auto makeDefault = [&] {
        QByteArray quoted;
        json::appendQuoted(quoted, text);
        Outcome outcome =
            page(200, "text/html; charset=utf-8",
                 "<!doctype html><title>Signed in</title><p>Returning to the Tavrilo hub&hellip; <a href=\"" +
                     htmlEscaped(text) + "\">Continue</a></p><script>location.replace(" + quoted + ");</script>");
        // The page's own URL carries the code: no later request may name it in a Referer.
        outcome.response.setHeader("Referrer-Policy", "no-referrer");
        return outcome;
    };
    return scriptedstep::answer(exchange.context.scenario, "https", "signInDesktopRedirect", Json::object(),
                                makeDefault);
}

// Form fields decoded as a form: "+" is a space.
std::map<std::string, std::string> formFields(const QByteArray &body)
{
    std::map<std::string, std::string> fields;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        auto decode = [](QByteArray part) {
            return QByteArray::fromPercentEncoding(part.replace('+', ' ')).toStdString();
        };
        const std::string name = decode(equals < 0 ? pair : pair.left(equals));
        if (!fields.count(name))
            fields[name] = equals < 0 ? std::string() : decode(pair.mid(equals + 1));
    }
    return fields;
}

Json tokenAnswer(const Account &account, const std::string &clientID, const std::optional<std::string> &refreshToken)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const std::string region = account.userPoolId.substr(0, account.userPoolId.find('_'));
    const std::string issuer = "https://cognito-idp." + region + ".amazonaws.com/" + account.userPoolId;
    const Json idClaims{{"sub", account.sub},
                        {"email", account.email},
                        {"custom:tenant_id", account.workspace},
                        {"iss", issuer},
                        {"aud", clientID},
                        {"token_use", "id"},
                        {"auth_time", now},
                        {"iat", now},
                        {"exp", now + account.lifetimeSeconds},
                        {"jti", QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString()}};
    const Json accessClaims{{"sub", account.sub},
                            {"iss", issuer},
                            {"client_id", clientID},
                            {"token_use", "access"},
                            {"scope", "openid profile email"},
                            {"username", account.sub},
                            {"iat", now},
                            {"exp", now + account.lifetimeSeconds},
                            {"jti", QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString()}};
    Json answer{{"id_token", jwt(idClaims).toStdString()},
                {"access_token", jwt(accessClaims).toStdString()},
                {"expires_in", account.lifetimeSeconds},
                {"token_type", "Bearer"}};
    if (refreshToken)
        answer["refresh_token"] = *refreshToken;
    return answer;
}

Outcome token(State &state, const WorkspaceSelection *selection, const HttpsExchange &exchange)
{
    const auto fields = formFields(exchange.request.body);
    auto field = [&](const char *name) {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    const std::string grant = field("grant_type");
    const std::string clientID = field("client_id");
    const Json view{{"grant_type", grant}, {"client_id", clientID}};
    Account account = accountFor(exchange.context.scenario, view);
    if (selection)
        account.workspace = selection->of(account.sub).value_or(account.workspace);

    // Changes to the provider's memory take effect only when a good answer really goes out.
    std::function<void()> commit;
    std::string outcomeName = "scripted";
    auto makeDefault = [&]() -> Outcome {
        if (grant == "authorization_code") {
            const auto it = state.codes.find(field("code"));
            if (it == state.codes.end() || it->second.clientID != clientID ||
                it->second.redirectURI != field("redirect_uri") ||
                QDateTime::currentSecsSinceEpoch() - it->second.issuedAt > kCodeLifetimeSeconds)
                return oauthError("invalid_grant", "The authorization code is unknown, used or expired.");
            const QByteArray verifierHash =
                QCryptographicHash::hash(QByteArray::fromStdString(field("code_verifier")), QCryptographicHash::Sha256);
            if (base64url(verifierHash).toStdString() != it->second.challenge)
                return oauthError("invalid_grant", "The code verifier does not match the code challenge.");
            const std::string refreshToken = randomToken(48).toStdString();
            const std::string code = it->first;
            commit = [&state, code, refreshToken, clientID] {
                state.codes.erase(code);
                state.refreshTokens[refreshToken] = {clientID};
            };
            outcomeName = "issued";
            Outcome outcome;
            outcome.response = HttpResponse::json(200, json::dump(tokenAnswer(account, clientID, refreshToken)));
            return outcome;
        }
        if (grant == "refresh_token") {
            const std::string presented = field("refresh_token");
            const auto it = state.refreshTokens.find(presented);
            if (it == state.refreshTokens.end() || it->second.clientID != clientID)
                return oauthError("invalid_grant", "The refresh token is unknown or revoked.");
            std::optional<std::string> rotated;
            if (account.rotateRefreshTokens) {
                rotated = randomToken(48).toStdString();
                commit = [&state, presented, rotated, clientID] {
                    state.refreshTokens.erase(presented);
                    state.refreshTokens[*rotated] = {clientID};
                };
            }
            outcomeName = rotated ? "renewed and rotated" : "renewed";
            Outcome outcome;
            outcome.response = HttpResponse::json(200, json::dump(tokenAnswer(account, clientID, rotated)));
            return outcome;
        }
        return oauthError("unsupported_grant_type", "The grant type is not supported.");
    };
    Outcome outcome = scriptedstep::answer(exchange.context.scenario, "https", "signInToken", view, makeDefault);
    // Answers holding tokens must not be cached (RFC 6749 section 5.1); a step may say otherwise.
    if (outcome.response.header("Cache-Control").isEmpty())
        outcome.response.setHeader("Cache-Control", "no-store");
    if (outcome.response.header("Pragma").isEmpty())
        outcome.response.setHeader("Pragma", "no-cache");
    const bool delivered = outcome.fault == Outcome::Fault::None && outcome.response.status == 200;
    if (delivered && commit)
        commit();
    // Tokens never go into the log: it is written to a file.
    exchange.context.log.append({{"kind", "signin"},
                                 {"step", "token"},
                                 {"grant_type", grant},
                                 {"client_id", clientID},
                                 {"outcome", delivered ? outcomeName : "refused"},
                                 {"status", outcome.response.status}});
    return outcome;
}

// The credentials a parent process hands to a headless capture of the signed-in account: the
// tokens the token endpoint would issue for `client_id` (query), with their expiry in milliseconds.
// Nothing is logged but the request.
HttpResponse captureCredential(const WorkspaceSelection *selection, const HttpRequest &request,
                               ServiceContext &context)
{
    const std::string clientID = request.query.queryItemValue(QStringLiteral("client_id")).toStdString();
    if (clientID.empty())
        return HttpResponse::json(400, R"({"error":"client_id is required"})");
    const Json view{{"grant_type", "capture"}, {"client_id", clientID}};
    Account account = accountFor(context.scenario, view);
    if (selection)
        account.workspace = selection->of(account.sub).value_or(account.workspace);
    const Json tokens = tokenAnswer(account, clientID, std::nullopt);
    const qint64 expiresAt = (QDateTime::currentSecsSinceEpoch() + account.lifetimeSeconds) * 1000;
    context.log.append({{"kind", "signin"}, {"step", "capture"}, {"client_id", clientID}});
    return HttpResponse::json(200, json::dump(Json{{"idToken", tokens["id_token"]},
                                                   {"accessToken", tokens["access_token"]},
                                                   {"expiresAt", expiresAt}}));
}

bool isDesktopRedirectHost(const QString &host)
{
    return !platformhosts::isSignInHost(host) && platformhosts::acceptsConnect(host, platformhosts::kPort, {});
}

QRegularExpression anchored(const char *pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)));
}
} // namespace

void registerService(ServiceRegistry &registry, std::shared_ptr<const WorkspaceSelection> selection)
{
    auto state = std::make_shared<State>();
    registry.addScenarioSection("signIn", validateAccount);
    registry.addHttpsRoute({QStringLiteral("signInAuthorize"), platformhosts::isSignInHost, "GET",
                            anchored("(?:/.*)?/oauth2/authorize"),
                            [state](const HttpsExchange &exchange) { return authorize(*state, exchange); }});
    registry.addHttpsRoute(
        {QStringLiteral("signInToken"), platformhosts::isSignInHost, "POST", anchored("(?:/.*)?/oauth2/token"),
         [state, selection](const HttpsExchange &exchange) { return token(*state, selection.get(), exchange); }});
    registry.addControlRoute({"POST", QStringLiteral("/_standin/captureCredential"),
                              [selection](const HttpRequest &request, ServiceContext &context) {
                                  return captureCredential(selection.get(), request, context);
                              }});
    registry.addHttpsRoute({QStringLiteral("signInDesktopRedirect"), isDesktopRedirectHost, "GET",
                            anchored("(?:/.*)?/desktop-callback"),
                            [](const HttpsExchange &exchange) { return desktopRedirect(exchange); }});
}
} // namespace hostedsignin
