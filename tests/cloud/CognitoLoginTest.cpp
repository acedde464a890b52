#include "cloud/CognitoLogin.h"
#include "LoopbackHttpServer.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "platform/MemoryKeyring.h"
#include "platform/WebAuthSession.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

using testsupport::awaitFor;
using testsupport::failureOf;

namespace
{
const QString kClient = QStringLiteral("client-7");
const QString kService = QStringLiteral("com.tavrilo.native-hub.account");
const QString kConfigurationSentence =
    QStringLiteral("Configure a Cognito public app client and registered desktop redirect URI.");
const QString kStateOrCode = QStringLiteral("Authentication state or code missing.");
const QString kUnexpected = QStringLiteral("Unexpected authentication callback.");

// The loopback server is reached directly whatever proxy the machine running the tests sets.
QNetworkAccessManager *directSession()
{
    static QNetworkAccessManager *session = [] {
        testsupport::clearProxyVariables();
        return HubNetwork::shared().session();
    }();
    return session;
}

// The sign-in window played by the test: `answer` sees the request and says how the session ends.
struct ScriptedWeb
{
    struct End
    {
        QUrl callbackURL;
        WebAuthSession::Error error = WebAuthSession::Error::None;
        bool twice = false; // the completion runs a second time, which must change nothing
    };
    std::function<End(const WebAuthSession::Request &)> answer;
    bool refuseStart = false;
    QList<WebAuthSession::Request> started;
};

class ScriptedWebSession : public WebAuthSession
{
public:
    explicit ScriptedWebSession(ScriptedWeb *web) : m_web(web) {}

    bool start(Request request, Completion completion) override
    {
        if (m_web->refuseStart)
            return false;
        m_web->started.append(request);
        const ScriptedWeb::End end = m_web->answer(request);
        QTimer::singleShot(0, [completion, end] {
            completion(end.callbackURL, end.error);
            if (end.twice)
                completion(QUrl(QStringLiteral("tavrilo-code://auth/callback?late=1")), Error::None);
        });
        return true;
    }
    void cancel() override {}

private:
    ScriptedWeb *m_web;
};

QString stateOf(const WebAuthSession::Request &request)
{
    return QUrlQuery(request.url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
}

// Form fields of a request body, decoded, in order.
QList<QPair<QString, QString>> formFields(const QByteArray &body)
{
    QList<QPair<QString, QString>> fields;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        fields.append({QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(equals))),
                       QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1)))});
    }
    return fields;
}

QString field(const QByteArray &body, const QString &name)
{
    for (const auto &[key, value] : formFields(body))
        if (key == name)
            return value;
    return {};
}

class CognitoLoginTest : public ::testing::Test
{
protected:
    CognitoLoginTest()
        : server([this](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
              socket->write(LoopbackHttpServer::answer(status, answer, extraHeaders));
          }),
          keyring(std::make_shared<MemoryKeyring>()),
          login(
              keyring, [this] { return std::make_unique<ScriptedWebSession>(&web); }, directSession())
    {
        web.answer = [](const WebAuthSession::Request &request) {
            return ScriptedWeb::End{
                QUrl(QStringLiteral("tavrilo-code://auth/callback?code=the-code&state=") + stateOf(request))};
        };
    }

    HubConfiguration
    configuration(std::optional<QString> redirect = QStringLiteral("https://app.tavrilo.example/desktop"))
    {
        HubEnvironment env{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")}};
        HubConfiguration config(env);
        config.clientID = kClient;
        config.redirectURI = redirect;
        config.authDomain = server.url(QStringLiteral("/pool"));
        return config;
    }

    CognitoLogin::Tokens signIn(HubConfiguration config) { return awaitFor(login.login(std::move(config))); }
    std::optional<CognitoLogin::Tokens> renew() { return awaitFor(login.restore(configuration())); }

    QByteArray stored() { return awaitFor(keyring->read(kService, kClient)).secret; }
    void store(const QByteArray &secret)
    {
        ASSERT_EQ(awaitFor(keyring->write(kService, kClient, secret)), Keyring::kSuccess);
    }

    int status = 200;
    QByteArray answer = R"({"access_token":"acc-1","id_token":"id-1","refresh_token":"refresh-1"})";
    QByteArray extraHeaders = "Content-Type: application/json\r\n";
    LoopbackHttpServer server;
    ScriptedWeb web;
    std::shared_ptr<MemoryKeyring> keyring;
    CognitoLogin login;
};

TEST(Pkce, MatchesThePublishedExample)
{
    const QByteArray octets = QByteArray::fromHex("7418dfb49799e0254ffa607dd8adbbba16d4254d69d6bff05b5805585384"
                                                  "8d79");
    EXPECT_EQ(CognitoLogin::codeVerifier(octets), QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"));
    EXPECT_EQ(CognitoLogin::codeChallenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
}

TEST(Endpoints, AppendToThePathOfTheDomain)
{
    EXPECT_EQ(
        CognitoLogin::endpoint(QUrl(QStringLiteral("https://auth.tavrilo.example")), QStringLiteral("oauth2/token")),
        QUrl(QStringLiteral("https://auth.tavrilo.example/oauth2/token")));
    EXPECT_EQ(CognitoLogin::endpoint(QUrl(QStringLiteral("https://auth.tavrilo.example/pool")),
                                     QStringLiteral("oauth2/authorize")),
              QUrl(QStringLiteral("https://auth.tavrilo.example/pool/oauth2/authorize")));
}

TEST_F(CognitoLoginTest, SignInSendsTheSevenParametersAndExchangesTheCodeWithItsVerifier)
{
    const CognitoLogin::Tokens tokens = signIn(configuration());
    EXPECT_EQ(tokens.accessToken, QStringLiteral("acc-1"));
    EXPECT_EQ(tokens.identityToken, QStringLiteral("id-1"));
    EXPECT_EQ(stored(), QByteArray("refresh-1"));

    ASSERT_EQ(web.started.size(), 1);
    const WebAuthSession::Request &request = web.started[0];
    EXPECT_EQ(request.callbackScheme, QStringLiteral("tavrilo-code"));
    EXPECT_EQ(request.url.path(), QStringLiteral("/pool/oauth2/authorize"));
    EXPECT_TRUE(request.allowedHosts.contains(QStringLiteral("app.tavrilo.example")));
    const QUrlQuery query(request.url);
    QStringList names;
    for (const auto &[name, value] : query.queryItems())
        names << name;
    names.sort();
    EXPECT_EQ(names, QStringList({"client_id", "code_challenge", "code_challenge_method", "redirect_uri",
                                  "response_type", "scope", "state"}));
    EXPECT_EQ(query.queryItemValue("client_id"), kClient);
    EXPECT_EQ(query.queryItemValue("redirect_uri", QUrl::FullyDecoded),
              QStringLiteral("https://app.tavrilo.example/desktop"));
    EXPECT_EQ(query.queryItemValue("response_type"), QStringLiteral("code"));
    EXPECT_EQ(query.queryItemValue("scope", QUrl::FullyDecoded), QStringLiteral("openid profile email"));
    EXPECT_EQ(query.queryItemValue("code_challenge_method"), QStringLiteral("S256"));
    const QString state = stateOf(request);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^desktop\\.[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                    .match(state)
                    .hasMatch())
        << state.toStdString();

    ASSERT_EQ(server.requests().size(), 1);
    const LoopbackHttpServer::Received &exchange = server.requests()[0];
    EXPECT_EQ(exchange.method, QByteArray("POST"));
    EXPECT_EQ(exchange.path, QByteArray("/pool/oauth2/token"));
    EXPECT_EQ(exchange.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QStringList fieldNames;
    for (const auto &[name, value] : formFields(exchange.body))
        fieldNames << name;
    fieldNames.sort();
    EXPECT_EQ(fieldNames, QStringList({"client_id", "code", "code_verifier", "grant_type", "redirect_uri"}));
    EXPECT_EQ(field(exchange.body, "grant_type"), QStringLiteral("authorization_code"));
    EXPECT_EQ(field(exchange.body, "redirect_uri"), QStringLiteral("https://app.tavrilo.example/desktop"));
    EXPECT_EQ(field(exchange.body, "code"), QStringLiteral("the-code"));
    const QString verifier = field(exchange.body, "code_verifier");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{43}$")).match(verifier).hasMatch());
    EXPECT_EQ(CognitoLogin::codeChallenge(verifier), query.queryItemValue("code_challenge"));
}

TEST_F(CognitoLoginTest, CustomSchemeRedirectIsItsOwnCallbackWithABareState)
{
    web.answer = [](const WebAuthSession::Request &request) {
        return ScriptedWeb::End{
            QUrl(QStringLiteral("com.example.hub:/signed-in?state=%1&code=c").arg(stateOf(request)))};
    };
    signIn(configuration(QStringLiteral("com.example.hub:/signed-in")));
    ASSERT_EQ(web.started.size(), 1);
    EXPECT_EQ(web.started[0].callbackScheme, QStringLiteral("com.example.hub"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                    .match(stateOf(web.started[0]))
                    .hasMatch());
}

TEST_F(CognitoLoginTest, PlusInTheCodeIsPercentEncodedInTheExchange)
{
    web.answer = [](const WebAuthSession::Request &request) {
        return ScriptedWeb::End{
            QUrl(QStringLiteral("tavrilo-code://auth/callback?code=a%2Bb&state=") + stateOf(request))};
    };
    signIn(configuration());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].body.contains("code=a%2Bb")) << server.requests()[0].body.toStdString();
}

struct ConfigurationCase
{
    const char *name;
    std::optional<QString> clientID;
    std::optional<QString> redirectURI;
};

class SignInConfiguration : public CognitoLoginTest, public ::testing::WithParamInterface<ConfigurationCase>
{
};

TEST_P(SignInConfiguration, IsRefusedBeforeAnyWindowOrTraffic)
{
    HubConfiguration config = configuration(GetParam().redirectURI);
    config.clientID = GetParam().clientID;
    EXPECT_EQ(failureOf([&] { signIn(config); }), kConfigurationSentence);
    EXPECT_TRUE(web.started.isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignInConfiguration,
    ::testing::Values(ConfigurationCase{"NoClient", std::nullopt, QStringLiteral("https://app.tavrilo.example/d")},
                      ConfigurationCase{"EmptyClient", QString(""), QStringLiteral("https://app.tavrilo.example/d")},
                      ConfigurationCase{"NoRedirect", kClient, std::nullopt},
                      ConfigurationCase{"PlainHttpRedirect", kClient, QStringLiteral("http://app.tavrilo.example/d")},
                      ConfigurationCase{"UpperCaseHttpRedirect", kClient,
                                        QStringLiteral("HTTP://app.tavrilo.example/d")},
                      ConfigurationCase{"UnparsableRedirect", kClient, QStringLiteral("https://a b/%zz")},
                      ConfigurationCase{"RedirectWithoutScheme", kClient, QStringLiteral("desktop/callback")}),
    [](const auto &info) { return std::string(info.param.name); });

struct CallbackCase
{
    const char *name;
    QString callback;                   // "%1" stands for the state the sign-in sent
    QString failure;                    // empty: the sign-in succeeds
    QString code = QStringLiteral("c"); // the code exchanged on success
};

class SignInCallback : public CognitoLoginTest, public ::testing::WithParamInterface<CallbackCase>
{
};

TEST_P(SignInCallback, IsCheckedExactly)
{
    web.answer = [](const WebAuthSession::Request &request) {
        return ScriptedWeb::End{QUrl(QString(GetParam().callback).replace(QStringLiteral("%1"), stateOf(request)))};
    };
    if (GetParam().failure.isEmpty()) {
        signIn(configuration());
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_EQ(field(server.requests()[0].body, "code"), GetParam().code);
    } else {
        EXPECT_EQ(failureOf([&] { signIn(configuration()); }), GetParam().failure);
        EXPECT_TRUE(server.requests().isEmpty());
        EXPECT_EQ(keyring->writeCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignInCallback,
    ::testing::Values(
        CallbackCase{"Expected", "tavrilo-code://auth/callback?state=%1&code=c", {}},
        CallbackCase{"ExtraItemsIgnored", "tavrilo-code://auth/callback?x=1&state=%1&code=c&y", {}},
        CallbackCase{"EmptyCodePassedOn", "tavrilo-code://auth/callback?state=%1&code=", {}, QString("")},
        CallbackCase{"FirstOfTwoStatesCounts", "tavrilo-code://auth/callback?state=%1&state=other&code=c", {}},
        CallbackCase{"SecondOfTwoStatesIgnored", "tavrilo-code://auth/callback?state=other&state=%1&code=c",
                     kStateOrCode},
        CallbackCase{"OtherHost", "tavrilo-code://elsewhere/callback?state=%1&code=c", kUnexpected},
        CallbackCase{"OtherPath", "tavrilo-code://auth/other?state=%1&code=c", kUnexpected},
        CallbackCase{"NoPath", "tavrilo-code://auth?state=%1&code=c", kUnexpected},
        CallbackCase{"OtherScheme", "tavrilo-other://auth/callback?state=%1&code=c", kUnexpected},
        CallbackCase{"NoState", "tavrilo-code://auth/callback?code=c", kStateOrCode},
        CallbackCase{"StateWithoutValue", "tavrilo-code://auth/callback?state&code=c", kStateOrCode},
        CallbackCase{"OtherState", "tavrilo-code://auth/callback?state=desktop.0&code=c", kStateOrCode},
        CallbackCase{"ErrorInsteadOfCode", "tavrilo-code://auth/callback?state=%1&error=access_denied", kStateOrCode},
        CallbackCase{"CodeWithoutValue", "tavrilo-code://auth/callback?state=%1&code", kStateOrCode}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CognitoLoginTest, WebSessionEndingsResumeTheSignInOnce)
{
    web.answer = [](const WebAuthSession::Request &) {
        return ScriptedWeb::End{{}, WebAuthSession::Error::CanceledLogin, true};
    };
    EXPECT_THROW(signIn(configuration()), CancelledError);

    web.answer = [](const WebAuthSession::Request &) {
        return ScriptedWeb::End{{}, WebAuthSession::Error::None, true};
    };
    EXPECT_EQ(failureOf([&] { signIn(configuration()); }), QStringLiteral("Login returned no callback."));

    web.refuseStart = true;
    EXPECT_EQ(failureOf([&] { signIn(configuration()); }), QStringLiteral("Cannot start system authentication."));
    EXPECT_TRUE(server.requests().isEmpty());
}

struct ExchangeCase
{
    const char *name;
    int status;
    QByteArray body;
    QString failure;
};

class SignInExchange : public CognitoLoginTest, public ::testing::WithParamInterface<ExchangeCase>
{
};

TEST_P(SignInExchange, AnswerIsChecked)
{
    status = GetParam().status;
    answer = GetParam().body;
    if (status == 302)
        extraHeaders = "Location: https://auth.tavrilo.example/elsewhere\r\n";
    EXPECT_EQ(failureOf([&] { signIn(configuration()); }), GetParam().failure);
    EXPECT_EQ(keyring->writeCount(), 0);
    EXPECT_EQ(server.requests().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignInExchange,
    ::testing::Values(
        ExchangeCase{"Created", 201, R"({"access_token":"a","refresh_token":"r"})", "Cognito token exchange rejected."},
        ExchangeCase{"Redirect", 302, R"({"access_token":"a","refresh_token":"r"})",
                     "Cognito token exchange rejected."},
        ExchangeCase{"BadRequest", 400, R"({"error":"invalid_grant"})", "Cognito token exchange rejected."},
        ExchangeCase{"Forbidden", 403, R"({"error":"invalid_grant"})", "Cognito token exchange rejected."},
        ExchangeCase{"NoAccessToken", 200, R"({"id_token":"i","refresh_token":"r"})",
                     "The data couldn't be read because it is missing."},
        ExchangeCase{"AccessTokenNotText", 200, R"({"access_token":5,"refresh_token":"r"})",
                     "The data couldn't be read because it isn't in the correct format."},
        ExchangeCase{"NotJson", 200, "<html>", "The data couldn't be read because it isn't in the correct format."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CognitoLoginTest, ExchangeAnswerHasNoSizeCapAndMayLackTheIdentityToken)
{
    answer = R"({"access_token":"acc","refresh_token":"r2","padding":")" + QByteArray(1048576, 'x') + "\"}";
    const CognitoLogin::Tokens tokens = signIn(configuration());
    EXPECT_EQ(tokens.accessToken, QStringLiteral("acc"));
    EXPECT_FALSE(tokens.identityToken);
    EXPECT_EQ(stored(), QByteArray("r2"));
}

TEST_F(CognitoLoginTest, SignInFailsWhenTheRefreshTokenCannotBeKept)
{
    keyring->setLocked(true);
    EXPECT_EQ(failureOf([&] { signIn(configuration()); }),
              QStringLiteral("The renewed session could not be saved without Keyring interaction (status -25308)."));
}

TEST_F(CognitoLoginTest, RenewalWithoutClientOrStoredTokenSendsNothing)
{
    HubConfiguration config = configuration();
    config.clientID = std::nullopt;
    EXPECT_FALSE(awaitFor(login.restore(config)));
    EXPECT_FALSE(renew());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(CognitoLoginTest, RenewalSendsTheThreeFieldsInOrderAndRotatesTheToken)
{
    store("old+token/x");
    const std::optional<CognitoLogin::Tokens> tokens = renew();
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->accessToken, QStringLiteral("acc-1"));
    EXPECT_EQ(tokens->identityToken, QStringLiteral("id-1"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].path, QByteArray("/pool/oauth2/token"));
    EXPECT_EQ(server.requests()[0].body,
              QByteArray("grant_type=refresh_token&client_id=client-7&refresh_token=old+token/x"));
    EXPECT_EQ(stored(), QByteArray("refresh-1"));

    answer = R"({"access_token":"acc-2"})";
    ASSERT_TRUE(renew());
    EXPECT_EQ(stored(), QByteArray("refresh-1"));
    EXPECT_EQ(keyring->writeCount(), 2); // the test's own write and the one rotation
}

// The keyring answers on a later turn of the event loop, as the real one does over D-Bus. A renewal
// stopped meanwhile, or whose sign-in goes away meanwhile, ends as a cancellation and sends nothing;
// the keyring stays alive for the read it was asked for.
TEST_F(CognitoLoginTest, RenewalEndedWhileTheKeyringAnswersSendsNothing)
{
    store("stored");
    CancelSource stop;
    QCoro::Task<std::optional<CognitoLogin::Tokens>> stopped = login.restore(configuration(), stop.token());
    stop.cancel();
    EXPECT_THROW(awaitFor(std::move(stopped)), CancelledError);

    auto ownKeyring = std::make_shared<MemoryKeyring>();
    ASSERT_EQ(awaitFor(ownKeyring->write(kService, kClient, "stored")), Keyring::kSuccess);
    const std::weak_ptr<MemoryKeyring> keyringLeft = ownKeyring;
    auto doomed = std::make_unique<CognitoLogin>(
        std::move(ownKeyring), [this] { return std::make_unique<ScriptedWebSession>(&web); }, directSession());
    QCoro::Task<std::optional<CognitoLogin::Tokens>> orphaned = doomed->restore(configuration());
    doomed.reset();
    EXPECT_THROW(awaitFor(std::move(orphaned)), CancelledError);
    EXPECT_TRUE(keyringLeft.expired());
    EXPECT_TRUE(server.requests().isEmpty());
}

struct RenewalCase
{
    const char *name;
    int status;
    QByteArray body;
    QString failure; // empty: renewed
};

class Renewal : public CognitoLoginTest, public ::testing::WithParamInterface<RenewalCase>
{
};

QByteArray answerOfSize(qsizetype size)
{
    QByteArray body = R"({"access_token":"big","refresh_token":"r-big"})";
    return body + QByteArray(size - body.size(), ' ');
}

TEST_P(Renewal, AnswerIsChecked)
{
    store("stored");
    status = GetParam().status;
    answer = GetParam().body;
    if (status == 302)
        extraHeaders = "Location: https://auth.tavrilo.example/elsewhere\r\n";
    if (GetParam().failure.isEmpty()) {
        ASSERT_TRUE(renew());
        EXPECT_EQ(stored(), QByteArray("r-big"));
    } else {
        EXPECT_EQ(failureOf([&] { renew(); }), GetParam().failure);
        EXPECT_EQ(stored(), QByteArray("stored"));
    }
}

const QString kRefused =
    QStringLiteral("Stored session renewal was refused. Sign in outside silent capture before retrying.");

INSTANTIATE_TEST_SUITE_P(
    Cases, Renewal,
    ::testing::Values(RenewalCase{"ExactlyOneMebibyte", 200, answerOfSize(1048576), {}},
                      RenewalCase{"OneByteOver", 200, answerOfSize(1048577),
                                  "The identity provider returned an oversized session response."},
                      RenewalCase{"Created", 201, R"({"access_token":"a","refresh_token":"r"})", kRefused},
                      RenewalCase{"Redirect", 302, R"({"access_token":"a","refresh_token":"r"})", kRefused},
                      RenewalCase{"Unauthorized", 401, R"({"error":"invalid_grant"})", kRefused},
                      RenewalCase{"NoAccessToken", 200, R"({"refresh_token":"r"})",
                                  "The data couldn't be read because it is missing."}),
    [](const auto &info) { return std::string(info.param.name); });

struct StoredCase
{
    const char *name;
    QByteArray secret;
    bool locked;
    QString failure;
};

class StoredToken : public CognitoLoginTest, public ::testing::WithParamInterface<StoredCase>
{
};

TEST_P(StoredToken, ThatCannotBeReadFailsWithoutTraffic)
{
    store(GetParam().secret);
    keyring->setLocked(GetParam().locked);
    EXPECT_EQ(failureOf([&] { renew(); }), GetParam().failure);
    EXPECT_TRUE(server.requests().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredToken,
    ::testing::Values(StoredCase{"Locked", "t", true,
                                 "Stored credentials are inaccessible without Keyring interaction (status -25308); "
                                 "silent capture cannot prompt."},
                      StoredCase{"Empty", "", false, "The stored native session credential is unreadable."},
                      StoredCase{"NotUtf8", "\xff\xfe", false, "The stored native session credential is unreadable."}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
