// The live browser's grant, renewal, view and capture on a stepped clock and a scripted platform.

#include "WorkspaceFakes.h"
#include "support/TestSupport.h"


#include <gtest/gtest.h>

using namespace workspacefakes;
using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
const QString kGrantField = QStringLiteral("tavriloOpenBrowserLiveView");
const QString kCaptureField = QStringLiteral("tavriloCaptureBrowserFrame");

class LiveBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakes.configure();
        fakes.platform.capturedPNG = pngOf(32, 20).toBase64();
    }
    NativeDocuments &model() { return *fakes.model; }
    ModelOnFakes fakes;
    FakeBrowserView view;
};

TEST_F(LiveBrowser, NeedsASession)
{
    NativeDocuments unbound;
    EXPECT_EQ(failureOf(unbound.openBrowser()), QStringLiteral("Start a session before opening the browser."));
}

TEST_F(LiveBrowser, StoresTheGrantAndLoadsItIntoEachNewView)
{
    model().loadBrowser(&view);
    EXPECT_TRUE(view.calls.isEmpty()) << "nothing to show yet";
    awaitFor(model().openBrowser());
    const FakePlatform::Request &request = fakes.platform.requests.front();
    EXPECT_EQ(request.query, QStringLiteral("mutation NativeDocument($sessionId: ID!) { tavriloOpenBrowserLiveView("
                                            "sessionId: $sessionId) { ok refusal detail url browserSessionId "
                                            "expiresAt } }"));
    EXPECT_EQ(request.variables, (Json{{"sessionId", "session-1"}}));
    EXPECT_TRUE(model().browserAvailable());
    EXPECT_EQ(model().browserSessionID(), QStringLiteral("browser-1"));
    const QString load = QStringLiteral("load ") + fakes.platform.liveViewURL + QStringLiteral(" 60s");
    EXPECT_EQ(view.calls, QStringList{load});

    model().loadBrowser(&view);
    EXPECT_EQ(view.calls.size(), 1) << "the same view is not reloaded";
    FakeBrowserView second;
    model().loadBrowser(&second);
    EXPECT_EQ(second.calls, QStringList{load}) << "a new view is loaded although the URL was loaded before";
}

TEST_F(LiveBrowser, RefusesGrantsItCannotShowAndKeepsThePreviousOne)
{
    awaitFor(model().openBrowser());
    const qint64 generation = model().browserGrantGeneration();
    struct Case
    {
        Json grant;
        QString failure;
    };
    const QString insecure = QStringLiteral("The browser grant did not contain a secure live view.");
    const QString noIdentity = QStringLiteral("The browser grant has no live session identity.");
    for (const Case &c : {Case{{{"url", "http://live.tavrilo.example/browser-live/index.html#t"}, {"browserSessionId", "b"}}, insecure},
                          Case{{{"url", "https://live.tavrilo.example/browser-live/index.html"}, {"browserSessionId", "b"}}, insecure},
                          Case{{{"browserSessionId", "b"}}, insecure},
                          Case{{{"url", json::toStd(fakes.platform.liveViewURL)}, {"browserSessionId", std::string(257, 'b')}}, noIdentity},
                          Case{{{"url", json::toStd(fakes.platform.liveViewURL)}}, noIdentity}}) {
        fakes.platform.script(kGrantField, FakePlatform::Answer::with(c.grant));
        EXPECT_EQ(failureOf(model().openBrowser()), c.failure);
        EXPECT_TRUE(model().browserAvailable());
        EXPECT_EQ(model().browserSessionID(), QStringLiteral("browser-1"));
        EXPECT_EQ(model().browserGrantGeneration(), generation);
    }
}

TEST_F(LiveBrowser, AGrantDroppedWhileItWasAskedForIsNotStored)
{
    auto answer = std::make_shared<Gate>();
    fakes.platform.script(kGrantField, FakePlatform::Answer::heldBy(answer));
    auto opening = model().openBrowser();
    model().invalidateBrowser();
    answer->open();
    EXPECT_EQ(failureOf(std::move(opening)), QStringLiteral("The browser grant changed while opening the live view."));
    EXPECT_FALSE(model().browserAvailable());
    EXPECT_EQ(model().browserURL(), std::nullopt);
}

TEST_F(LiveBrowser, RenewsBeforeExpiryAndARefusedRenewalDropsTheGrant)
{
    model().loadBrowser(&view);
    awaitFor(model().openBrowser());
    const qint64 first = model().browserGrantGeneration();
    // Without an expiry the renewal comes after 30 s.
    fakes.clock->advance(29s);
    QCoreApplication::processEvents();
    EXPECT_EQ(fakes.platform.requests.size(), 1u);
    fakes.clock->advance(1s);
    ASSERT_TRUE(waitUntil([&] { return model().browserGrantGeneration() == first + 1; }));
    EXPECT_EQ(fakes.platform.fields(), (std::vector<QString>{kGrantField, kGrantField}));
    EXPECT_EQ(view.calls.size(), 1) << "a renewal with the same URL does not reload";

    fakes.platform.script(kGrantField, FakePlatform::Answer::with({{"ok", false}, {"refusal", "BROWSER_GONE"}}));
    fakes.clock->advance(30s);
    ASSERT_TRUE(waitUntil([&] { return !model().browserAvailable(); }));
    EXPECT_EQ(model().browserURL(), std::nullopt);
    EXPECT_EQ(view.calls.mid(1), (QStringList{QStringLiteral("stop"), QStringLiteral("blank")}));
    EXPECT_EQ(model().loadedBrowserURL(), std::nullopt);
}

TEST_F(LiveBrowser, ANewContextDropsTheGrantButLeavesTheViewAsItIs)
{
    model().loadBrowser(&view);
    awaitFor(model().openBrowser());
    fakes.configure(QStringLiteral("session-2"));
    EXPECT_FALSE(model().browserAvailable());
    EXPECT_EQ(view.calls.size(), 1);
    EXPECT_TRUE(model().loadedBrowserURL());

    const qint64 generation = model().browserGrantGeneration();
    model().invalidateBrowser();
    EXPECT_EQ(model().browserGrantGeneration(), generation + 1);
    EXPECT_EQ(view.calls.mid(1), (QStringList{QStringLiteral("stop"), QStringLiteral("blank")}));
}

TEST_F(LiveBrowser, CapturesAFrameOfTheGrantedBrowser)
{
    EXPECT_EQ(failureOf(model().captureBrowserSession()), QStringLiteral("Open a real browser grant before capturing it."));
    awaitFor(model().openBrowser());
    const QImage frame = awaitFor(model().captureBrowserSession());
    EXPECT_EQ(frame.size(), QSize(32, 20));
    EXPECT_EQ(model().browserCaptureSource(), QStringLiteral("agentcore-invoke-browser"));
    EXPECT_EQ(fakes.platform.requests.back().variables, (Json{{"sessionId", "session-1"}, {"browserSessionId", "browser-1"}}));

    fakes.platform.script(kCaptureField, FakePlatform::Answer::with({{"png", 7}}));
    EXPECT_EQ(failureOf(model().captureBrowserSession()), QStringLiteral("The browser did not return a real PNG screenshot."));
    // A renewal clears the source; a failed capture sets none.
    fakes.clock->advance(30s);
    ASSERT_TRUE(waitUntil([&] { return !model().browserCaptureSource(); }));
    fakes.platform.script(kCaptureField, FakePlatform::Answer::with({{"png", "AAAA"}}));
    EXPECT_EQ(failureOf(model().captureBrowserSession()),
              QStringLiteral("The DCV server did not return a bounded PNG screenshot."));
    EXPECT_EQ(model().browserCaptureSource(), std::nullopt);
}

TEST_F(LiveBrowser, ACaptureAnsweredAfterCloseIsRefused)
{
    awaitFor(model().openBrowser());
    auto answer = std::make_shared<Gate>();
    fakes.platform.script(kCaptureField, FakePlatform::Answer::heldBy(answer));
    auto capturing = model().captureBrowserSession();
    auto closing = model().close();
    answer->open();
    EXPECT_EQ(failureOf(std::move(capturing)), QStringLiteral("The browser grant changed during capture."));
    awaitFor(std::move(closing));
    EXPECT_EQ(model().browserCaptureSource(), std::nullopt);
}
} // namespace
