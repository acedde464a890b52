// The live browser and input-request replies against the stand-in platform over TLS through its
// proxy: grants good and bad, renewal, frame capture with its bounds. (The stand-in of this program
// is registered in BuildShellIntegrationTest.cpp.)

#include "core/HubError.h"
#include "support/SharedStandIn.h"
#include "workspace/WorkspaceFakes.h"
#include "support/TestSupport.h"
#include "workspace/NativeDocuments.h"


#include <gtest/gtest.h>

using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
template <typename T> QString failureOf(QCoro::Task<T> task)
{
    try {
        awaitFor(std::move(task), 20s);
    } catch (const HubError &error) {
        return error.description();
    }
    return {};
}

class LiveBrowserIntegration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        standIn().setScenario(Json::object());
        m_cursor = standIn().logEntries().next;
        static int sessions = 0;
        m_session = QStringLiteral("prj-live-browser-%1").arg(++sessions);
        HubConfiguration configuration(
            HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("live-browser-test")}});
        configuration.tenantID = QStringLiteral("tenant-7");
        model.configure(configuration, m_session,
                        [](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("identity-token"); });
    }

    static StandIn &standIn() { return SharedStandIn::get(); }

    // The browser grant's answer for the next grant only.
    static void scriptGrant(Json answer)
    {
        standIn().setScenario(Json{
            {"graphql",
             {{"NativeDocument",
               {{"queue", Json::array({{{"match", {{"field", "tavriloOpenBrowserLiveView"}}}, {"answer", answer}}})}}}}}});
    }

    std::vector<Json> entries(const char *kind, const char *event) const
    {
        std::vector<Json> found;
        for (auto &entry : standIn().logEntries(m_cursor).entries)
            if (entry["kind"] == kind && entry.value("event", "") == event)
                found.push_back(entry);
        return found;
    }

    qint64 m_cursor = 0;
    QString m_session;
    NativeDocuments model;
};

TEST_F(LiveBrowserIntegration, OpensCapturesAndInvalidatesTheBrowser)
{
    awaitFor(model.openBrowser(), 20s);
    ASSERT_TRUE(model.browserAvailable());
    EXPECT_EQ(model.browserURL()->host(), QStringLiteral("live.tavrilo.example"));
    EXPECT_TRUE(model.browserURL()->hasFragment());

    const QImage frame = awaitFor(model.captureBrowserSession(), 20s);
    EXPECT_EQ(frame.size(), QSize(4, 3));
    EXPECT_EQ(model.browserCaptureSource(), QStringLiteral("agentcore-invoke-browser"));
    ASSERT_EQ(entries("liveBrowser", "capture").size(), 1u);
    EXPECT_EQ(entries("liveBrowser", "capture")[0]["browserSessionId"], model.browserSessionID()->toStdString());

    model.invalidateBrowser();
    EXPECT_FALSE(model.browserAvailable());
    EXPECT_EQ(failureOf(model.captureBrowserSession()), QStringLiteral("Open a real browser grant before capturing it."));
    awaitFor(model.close(), 20s);
}

TEST_F(LiveBrowserIntegration, RenewsAGrantNearItsExpiry)
{
    scriptGrant({{"ok", true},
                 {"url", "https://live.tavrilo.example/browser-live/index.html#token=near"},
                 {"browserSessionId", "browser-near"},
                 {"expiresAt", QDateTime::currentMSecsSinceEpoch() + 10'000}});
    awaitFor(model.openBrowser(), 20s);
    EXPECT_EQ(model.browserSessionID(), QStringLiteral("browser-near"));
    // Due a second later: the platform's own grant replaces it.
    ASSERT_TRUE(waitUntil([&] { return model.browserSessionID() != QStringLiteral("browser-near"); }, 20s));
    EXPECT_TRUE(model.browserAvailable());
    awaitFor(model.close(), 20s);
}

struct GrantCase
{
    const char *name;
    Json answer;
    QString failure; // empty: accepted
};

class BrowserGrantAnswer : public LiveBrowserIntegration, public ::testing::WithParamInterface<GrantCase>
{
};

TEST_P(BrowserGrantAnswer, IsCheckedBeforeItIsStored)
{
    scriptGrant(GetParam().answer);
    EXPECT_EQ(failureOf(model.openBrowser()), GetParam().failure);
    EXPECT_EQ(model.browserAvailable(), GetParam().failure.isEmpty());
    awaitFor(model.close(), 20s);
}

Json grantWith(const char *url, std::string identity)
{
    return Json{{"ok", true}, {"url", url}, {"browserSessionId", std::move(identity)}};
}

const char *const kPage = "https://live.tavrilo.example/browser-live/index.html#t";
const QString kInsecure = QStringLiteral("The browser grant did not contain a secure live view.");
const QString kNoIdentity = QStringLiteral("The browser grant has no live session identity.");

INSTANTIATE_TEST_SUITE_P(
    Table, BrowserGrantAnswer,
    ::testing::Values(GrantCase{"IdentityOf256", grantWith(kPage, std::string(256, 'b')), {}},
                      GrantCase{"IdentityOf257", grantWith(kPage, std::string(257, 'b')), kNoIdentity},
                      GrantCase{"PlainHttp", grantWith("http://live.tavrilo.example/browser-live/index.html#t", "b"),
                                kInsecure},
                      GrantCase{"OtherHost", grantWith("https://api.tavrilo.example/browser-live/index.html#t", "b"),
                                kInsecure},
                      GrantCase{"NoFragment", grantWith("https://live.tavrilo.example/browser-live/index.html", "b"),
                                kInsecure},
                      GrantCase{"Refused", {{"ok", false}, {"refusal", "BROWSER_UNAVAILABLE"}},
                                QStringLiteral("The platform refused this workspace tool request (BROWSER_UNAVAILABLE).")}),
    [](const auto &info) { return std::string(info.param.name); });

QByteArray png(int width, int height)
{
    return workspacefakes::pngOf(width, height);
}

TEST_F(LiveBrowserIntegration, FramesOutsideTheirBoundsAreRefused)
{
    awaitFor(model.openBrowser(), 20s);
    QByteArray tooWide = png(8, 8);
    tooWide[16] = 0;
    tooWide[17] = 0;
    tooWide[18] = 0x20;
    tooWide[19] = 0x01; // 8193 pixels wide
    struct Case
    {
        Json step;
        QString failure;
    };
    const std::vector<Case> cases = {
        {{{"answer", {{"ok", true}, {"png", png(8, 8).toBase64().toStdString()}}}}, {}},
        {{{"answer", {{"ok", true}, {"png", "bm90IGEgcG5nIGF0IGFsbCBidXQgbG9uZyBlbm91Z2g="}}}},
         QStringLiteral("The DCV server did not return a bounded PNG screenshot.")},
        {{{"answer", {{"ok", true}, {"png", tooWide.toBase64().toStdString()}}}},
         QStringLiteral("The DCV screenshot dimensions or image were invalid.")},
        {{{"answer", {{"ok", true}}}}, QStringLiteral("The browser did not return a real PNG screenshot.")},
        // Past the answer's 3 MiB cap: stopped while it streams.
        {{{"answer", {{"ok", true}, {"png", "AAAA"}}}, {"bodySize", 3145729}},
         QStringLiteral("The platform refused this workspace tool request.")},
    };
    for (const Case &c : cases) {
        Json step = c.step;
        step["match"] = {{"field", "tavriloCaptureBrowserFrame"}};
        standIn().setScenario(Json{{"graphql", {{"NativeDocument", {{"queue", Json::array({step})}}}}}});
        EXPECT_EQ(failureOf(model.captureBrowserSession()), c.failure) << json::dump(c.step).left(80).constData();
    }
    awaitFor(model.close(), 20s);
}
} // namespace
