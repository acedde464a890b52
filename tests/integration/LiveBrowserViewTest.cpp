// The workspace's web views on the real browser engine, off screen, against the stand-in's live-view
// page: the live browser view shows the grant's page and nothing else (a foreign frame and a
// redirect are cancelled), is blanked when the grant goes, and the page of an input request goes
// only to https pages at the top level and is stopped when it does not arrive in time. Chromium
// reaches the stand-in through its proxy and trusts its authority through its own flags, set here
// and nowhere in the hub.

#include "core/HubError.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"
#include "workspace/NativeDocuments.h"

#include <QCryptographicHash>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSslCertificate>
#include <QSslKey>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
// The browser engine reads its flags once per process.
class StandInEnvironment : public SharedStandIn
{
public:
    void SetUp() override
    {
        SharedStandIn::SetUp();
        const auto authority = QSslCertificate::fromPath(get().caPath());
        ASSERT_EQ(authority.size(), 1);
        const QByteArray spki =
            QCryptographicHash::hash(authority[0].publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --proxy-server=" + get().proxyUrl().toEncoded() +
                                                  " --ignore-certificate-errors-spki-list=" + spki);
    }
};
[[maybe_unused]] ::testing::Environment *const s_environment =
    ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

class WorkspaceWebViews : public ::testing::Test
{
protected:
    void SetUp() override
    {
        standIn().setScenario(Json::object());
        m_cursor = standIn().logEntries().next;
        m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("views-test")}});
        configuration.tenantID = QStringLiteral("tenant-7");
        m_model.configure(configuration, QStringLiteral("prj-views"),
                          [](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("identity-token"); });
        QObject::connect(&m_engine, &QQmlEngine::warnings, &m_engine, [this](const QList<QQmlError> &warnings) {
            for (const QQmlError &warning : warnings)
                m_scriptErrors << warning.toString();
        });
    }

    // A script error in a view's handler is a step of it that never ran, such as the stop of a view
    // being taken down.
    void TearDown() override { EXPECT_TRUE(m_scriptErrors.isEmpty()) << m_scriptErrors.join(u'\n').toStdString(); }

    static StandIn &standIn() { return SharedStandIn::get(); }

    // A window holding `item`, whose root properties are `properties`.
    std::unique_ptr<QObject> show(const QByteArray &item, const QVariantMap &properties)
    {
        QQmlComponent component(&m_engine);
        component.setData("import QtQuick\nimport QtQuick.Window\nimport Tavrilo.Ui\nWindow {\n"
                          "width: 400; height: 300; visible: true\nproperty alias content: content\n" +
                              item + "\n}",
                          QUrl());
        EXPECT_TRUE(component.isReady()) << component.errorString().toStdString();
        if (!component.isReady())
            return {};
        std::unique_ptr<QObject> window(component.createWithInitialProperties(properties));
        EXPECT_TRUE(window) << component.errorString().toStdString();
        return window;
    }

    // The page of an input request at `address`, given `timeout` to load.
    std::unique_ptr<QObject> showInputRequest(const QUrl &address, std::chrono::milliseconds timeout = 60s)
    {
        return show(
            "NativeElicitationBrowser { id: content; anchors.fill: parent; url: address; loadTimeout: timeout }\n"
            "required property url address\nrequired property int timeout",
            {{QStringLiteral("address"), address}, {QStringLiteral("timeout"), int(timeout.count())}});
    }

    static QObject *webView(QObject *window)
    {
        auto *content = window->property("content").value<QObject *>();
        return content ? content->property("view").value<QObject *>() : nullptr;
    }

    static bool settledAt(QObject *view, const QUrl &url)
    {
        return view && !view->property("loading").toBool() && view->property("url").toUrl() == url;
    }

    // Whether the stand-in saw anything at all of `host`: a tunnel or a request.
    bool reached(const char *host) const
    {
        for (const Json &entry : standIn().logEntries(m_cursor).entries)
            if ((entry["kind"] == "connect" || entry["kind"] == "request") && entry.value("host", "") == host)
                return true;
        return false;
    }

    std::size_t liveViewEvents(const char *event) const
    {
        std::size_t count = 0;
        for (const Json &entry : standIn().logEntries(m_cursor).entries)
            count += entry["kind"] == "liveView" && entry.value("event", "") == event ? 1 : 0;
        return count;
    }

    qint64 m_cursor = 0;
    QQmlEngine m_engine;
    QStringList m_scriptErrors;
    NativeDocuments m_model;
};

TEST_F(WorkspaceWebViews, TheLiveBrowserShowsTheGrantsPageWithoutItsForeignFrame)
{
    awaitFor(m_model.openBrowser(), 20s);
    const QUrl page = *m_model.browserURL();
    const auto window = show("NativeBrowserPreview { id: content; anchors.fill: parent; documents: model }\n"
                             "required property NativeDocuments model",
                             {{QStringLiteral("model"), QVariant::fromValue(&m_model)}});
    ASSERT_TRUE(window);
    QObject *view = webView(window.get());
    ASSERT_TRUE(waitUntil([&] { return settledAt(view, page) && liveViewEvents("page") == 1; }, 60s))
        << view->property("url").toUrl().toString().toStdString();
    // The page, frame and all, has finished loading: its foreign frame was never asked for.
    EXPECT_FALSE(reached("foreign.tavrilo-cloud.example"));
    EXPECT_EQ(m_model.loadedBrowserURL(), page);

    // Dropping the grant blanks the view.
    m_model.invalidateBrowser();
    ASSERT_TRUE(waitUntil([&] { return settledAt(view, QUrl(QStringLiteral("about:blank"))); }, 60s));
    awaitFor(m_model.close(), 20s);
}

TEST_F(WorkspaceWebViews, TheLiveBrowserFollowsNoRedirectAway)
{
    standIn().setScenario(Json{
        {"graphql",
         {{"NativeDocument",
           {{"queue", Json::array({{{"match", {{"field", "tavriloOpenBrowserLiveView"}}},
                                    {"answer",
                                     {{"ok", true},
                                      {"url", "https://live.tavrilo.example/browser-live/index.html?redirect=1#t"},
                                      {"browserSessionId", "browser-redirect"}}}}})}}}}}});
    awaitFor(m_model.openBrowser(), 20s);
    const auto window = show("NativeBrowserPreview { id: content; anchors.fill: parent; documents: model }\n"
                             "required property NativeDocuments model",
                             {{QStringLiteral("model"), QVariant::fromValue(&m_model)}});
    ASSERT_TRUE(window);
    QObject *view = webView(window.get());
    ASSERT_TRUE(waitUntil([&] { return liveViewEvents("redirect") == 1 && !view->property("loading").toBool(); }, 60s));
    EXPECT_FALSE(reached("foreign.tavrilo-cloud.example"));
    EXPECT_NE(view->property("url").toUrl().host(), QStringLiteral("foreign.tavrilo-cloud.example"));
    awaitFor(m_model.close(), 20s);
}

TEST_F(WorkspaceWebViews, AnInputRequestPageGoesOnlyToHttpsAtTheTop)
{
    // An https page loads, but its foreign frame does not.
    const QUrl page(QStringLiteral("https://live.tavrilo.example/browser-live/index.html"));
    const auto window = showInputRequest(page);
    ASSERT_TRUE(window);
    QObject *view = webView(window.get());
    ASSERT_TRUE(waitUntil([&] { return settledAt(view, page) && liveViewEvents("page") == 1; }, 60s));
    EXPECT_FALSE(reached("foreign.tavrilo-cloud.example"));

    // A plain-http address is never asked for.
    const QUrl plain(QStringLiteral("http://live.tavrilo.example/browser-live/index.html"));
    const auto second = showInputRequest(plain);
    ASSERT_TRUE(second);
    QObject *refused = webView(second.get());
    ASSERT_TRUE(waitUntil([&] { return refused && !refused->property("loading").toBool(); }, 60s));
    EXPECT_EQ(liveViewEvents("page"), 1u);
}

TEST_F(WorkspaceWebViews, AnInputRequestPageThatNeverArrivesIsStoppedAtItsDeadline)
{
    standIn().setScenario(Json{{"https", {{"liveView", {{"queue", Json::array({{{"fault", "stall"}}})}}}}}});
    const auto window =
        showInputRequest(QUrl(QStringLiteral("https://live.tavrilo.example/browser-live/index.html")), 2s);
    ASSERT_TRUE(window);
    QObject *view = webView(window.get());
    // Asked for and never answered: nothing but the deadline ends the load.
    EXPECT_TRUE(waitUntil([&] { return liveViewEvents("page") == 1 && !view->property("loading").toBool(); }, 60s));
}

TEST_F(WorkspaceWebViews, AnInputRequestPageIsNotHeldToItsDeadlineOnceLoaded)
{
    // The page comes at once; where it goes next answers only after the first load's deadline.
    standIn().setScenario(
        Json{{"https", {{"liveView", {{"queue", Json::array({{{"times", 1}}, {{"delayMs", 6000}}})}}}}}});
    const QUrl page(QStringLiteral("https://live.tavrilo.example/browser-live/index.html"));
    const auto window = showInputRequest(page, 4s);
    ASSERT_TRUE(window);
    QObject *view = webView(window.get());
    ASSERT_TRUE(waitUntil([&] { return settledAt(view, page) && liveViewEvents("page") == 1; }, 60s));

    const QUrl next(QStringLiteral("https://live.tavrilo.example/browser-live/index.html?step=2"));
    QMetaObject::invokeMethod(view, "runJavaScript",
                              Q_ARG(QString, QStringLiteral("location.assign('%1')").arg(next.toString())));
    EXPECT_TRUE(waitUntil([&] { return settledAt(view, next) && liveViewEvents("page") == 2; }, 60s))
        << view->property("url").toUrl().toString().toStdString();
}
} // namespace
