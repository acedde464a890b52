#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "platform/SecretServiceKeyring.h"
#include "platform/WebEngineAuthSession.h"
#include "support/BrowserEngineStandIn.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>

#include <gtest/gtest.h>

// The real sign-in window (Qt WebEngine, off screen) against the stand-in's hosted pages, with the
// real keyring (run under with-keyring.sh). Chromium reaches the stand-in through its proxy and
// trusts its authority through its own flags, set here and nowhere in the hub.

using testsupport::awaitFor;
using testsupport::jwtClaims;
using testsupport::waitUntil;

namespace
{
const QString kClient = QStringLiteral("window-client");
const QString kPool = QStringLiteral("eu-central-1_Window");

// The browser engine too reads its flags once per process.
class StandInEnvironment : public BrowserEngineStandIn
{
public:
    StandInEnvironment()
        : BrowserEngineStandIn(Json{{"signIn",
                                     {{"account",
                                       {{"default",
                                         {{"userPoolId", kPool.toStdString()},
                                          {"workspace", "tenant-w"},
                                          {"rotateRefreshTokens", true},
                                          {"lifetimeSeconds", 120}}}}}}}})
    {}
};
[[maybe_unused]] ::testing::Environment *const s_environment =
    ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

HubEnvironment hubEnvironment()
{
    return {{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")},
            {QStringLiteral("TAVRILO_COGNITO_CLIENT_ID"), kClient},
            {QStringLiteral("TAVRILO_REDIRECT_URI"), QStringLiteral("https://app.tavrilo.example/desktop-callback")},
            {QStringLiteral("TAVRILO_COGNITO_USER_POOL_ID"), kPool}};
}

QByteArray storedToken()
{
    SecretServiceKeyring keyring;
    return awaitFor(keyring.read(QStringLiteral("com.tavrilo.native-hub.account"), kClient)).secret;
}

// The sign-in as the application assembles it: the user's keyring and the browser-engine window.
class AssembledSignIn : public CognitoLogin
{
public:
    AssembledSignIn()
        : CognitoLogin(
              std::make_shared<SecretServiceKeyring>(), [] { return std::make_unique<WebEngineAuthSession>(); },
              HubNetwork::shared().session())
    {}
};

QQuickWindow *visibleWindow()
{
    for (QWindow *window : QGuiApplication::topLevelWindows())
        if (auto *quick = qobject_cast<QQuickWindow *>(window); quick && quick->isVisible())
            return quick;
    return nullptr;
}

// Files under `root` (bounded in size, as the token is short) that contain any of `secrets`.
QStringList filesContaining(const QString &root, const QList<QByteArray> &secrets)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isFile() || info.size() > 64 * 1024 * 1024)
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        for (const QByteArray &secret : secrets)
            if (bytes.contains(secret))
                found << path;
    }
    return found;
}

TEST(SignInWindow, SignsInKeepsOnlyTheRefreshTokenAndASecondProcessRenewsFromIt)
{
    const HubConfiguration configuration(hubEnvironment());
    AssembledSignIn login;
    const CognitoLogin::Tokens tokens = awaitFor(login.login(configuration), 90s);
    ASSERT_TRUE(tokens.identityToken);
    EXPECT_EQ(json::string(jwtClaims(*tokens.identityToken), "iss"), configuration.tokenIssuer);
    EXPECT_EQ(json::string(jwtClaims(*tokens.identityToken), "custom:tenant_id"), QStringLiteral("tenant-w"));
    EXPECT_TRUE(waitUntil([] { return visibleWindow() == nullptr; }));

    const QByteArray first = storedToken();
    ASSERT_FALSE(first.isEmpty());

    QProcess renewal;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const HubEnvironment hub = hubEnvironment();
    for (auto it = hub.cbegin(); it != hub.cend(); ++it)
        environment.insert(it.key(), it.value());
    renewal.setProcessEnvironment(environment);
    renewal.start(QCoreApplication::applicationDirPath() + QStringLiteral("/signin_renew_probe"), {});
    ASSERT_TRUE(renewal.waitForFinished(60000));
    EXPECT_EQ(renewal.exitCode(), 0) << renewal.readAllStandardError().toStdString();
    EXPECT_EQ(renewal.readAllStandardOutput(), QByteArray("renewed\n"));

    // The provider rotated the token; the second process kept the new one in place of the first.
    const QByteArray second = storedToken();
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(second, first);

    QStringList leaks = filesContaining(QDir::homePath(), {first, second});
    leaks += filesContaining(QStringLiteral("/tmp"), {first, second});
    EXPECT_TRUE(leaks.isEmpty()) << leaks.join(u' ').toStdString();
}

TEST(SignInWindow, ClosingTheWindowCancelsTheSignIn)
{
    // The authorize page waits, so the window is still open when the user closes it.
    SharedStandIn::get().setScenario(
        Json{{"https", {{"signInAuthorize", {{"queue", {{{"status", 200}, {"rawBody", "<p>Sign in</p>"}}}}}}}}});
    AssembledSignIn login;
    const qint64 before = SharedStandIn::get().logEntries().next;
    bool cancelled = false;
    bool ended = false;
    auto run = [&]() -> QCoro::Task<void> {
        try {
            co_await login.login(HubConfiguration(hubEnvironment()));
        } catch (const CancelledError &) {
            cancelled = true;
        } catch (...) {
        }
        ended = true;
    };
    run();
    ASSERT_TRUE(SharedStandIn::get().waitForEntry(
        before,
        [](const Json &entry) {
            return entry.value("kind", "") == "response" && entry.value("path", "") == "/oauth2/authorize";
        },
        60s));
    ASSERT_TRUE(waitUntil([] { return visibleWindow() != nullptr; }));
    visibleWindow()->close();
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_TRUE(cancelled);
}

TEST(SignInWindow, NavigationStaysOnTheSignInHosts)
{
    // A page that first tries to open a window on another host and to leave for it, then goes to
    // the callback.
    SharedStandIn::get().setScenario(Json{{"https",
                                           {{"signInAuthorize",
                                             {{"queue",
                                               {{{"status", 200},
                                                 {"headers", {{"Content-Type", "text/html"}}},
                                                 {"rawBody", "<script>window.open('https://api.tavrilo.example/popup');"
                                                             "location.href='https://api.tavrilo.example/elsewhere';"
                                                             "setTimeout(function(){location.href='tavrilo-code://auth/"
                                                             "callback?state=other&code=c'},300);</script>"}}}}}}}}});
    const qint64 before = SharedStandIn::get().logEntries().next;
    AssembledSignIn login;
    try {
        awaitFor(login.login(HubConfiguration(hubEnvironment())), 60s);
        ADD_FAILURE() << "the sign-in succeeded";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Authentication state or code missing."));
    }
    for (const Json &entry : SharedStandIn::get().logEntries(before).entries)
        EXPECT_NE(entry.value("host", ""), "api.tavrilo.example") << entry.dump();
}
} // namespace
