// The build shell's connection on a stepped clock, scripted sockets and a scripted platform: the
// grant, statuses, failures, reconnects and the time limit.

#include "WorkspaceFakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace workspacefakes;
using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
const QString kShellField = QStringLiteral("tavriloOpenBuildShell");
const QString kCloseField = QStringLiteral("tavriloCloseBuildShell");

class BuildShell : public ::testing::Test
{
protected:
    void SetUp() override { fakes.configure(); }
    NativeDocuments &model() { return *fakes.model; }
    ModelOnFakes fakes;
};

TEST_F(BuildShell, OpensOnceWhenAskedTwiceAtOnce)
{
    auto answer = std::make_shared<Gate>();
    fakes.platform.script(kShellField, FakePlatform::Answer::heldBy(answer));
    auto first = model().openShell();
    auto second = model().openShell();
    awaitFor(std::move(second));
    answer->open();
    awaitFor(std::move(first));
    EXPECT_EQ(fakes.platform.fields(), std::vector<QString>{kShellField});
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Connecting"));
    EXPECT_EQ(fakes.socket().opened, QUrl(fakes.platform.shellURL));
}

TEST_F(BuildShell, ShowsOutputOfBothChannelsAndTheConnectStatus)
{
    fakes.openReadyShell();
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Connected"));
    fakes.socket().deliver(output(1, "\x1b[32mok\x1b[0m\r\n"));
    fakes.socket().deliver(output(2, "warn\xE2\x82"));
    fakes.socket().deliver(output(5, ""));
    fakes.socket().deliver(output(2, "\xAC\n"));
    EXPECT_TRUE(waitUntil([&] { return model().shellText() == QStringLiteral("ok\nwarn€\n"); }));
}

// A flood of output is announced a few times, not once per message.
TEST_F(BuildShell, AnnouncesTheTranscriptCoalesced)
{
    fakes.openReadyShell();
    int announcements = 0;
    QObject::connect(&model(), &NativeDocuments::shellTextChanged, &model(), [&] { ++announcements; });
    for (int i = 0; i < 500; ++i)
        fakes.socket().deliver(output(1, "line\n"));
    ASSERT_TRUE(waitUntil([&] { return model().shellText().size() == 2500 && announcements >= 1; }));
    EXPECT_LE(announcements, 3);
}

TEST_F(BuildShell, GrantsThatCannotBeUsedChangeNothingAndGiveANewShellBack)
{
    struct Case
    {
        const char *url;
        QString sentence;
    };
    const QString invalid = QStringLiteral("The build-shell grant was invalid.");
    const QString insecure = QStringLiteral("The build-shell grant was not a secure WebSocket URL.");
    for (const Case &c : {Case{"https://bedrock-agentcore.us-east-1.amazonaws.com/s", invalid},
                          Case{"ws://bedrock-agentcore.us-east-1.amazonaws.com/s", invalid},
                          Case{"wss://user:pw@bedrock-agentcore.us-east-1.amazonaws.com/s", insecure},
                          Case{"wss://bedrock-agentcore.us-east-1.amazonaws.com/s#x", insecure},
                          Case{"wss:///s", insecure}}) {
        ModelOnFakes fakes;
        fakes.configure();
        fakes.platform.shellURL = QString::fromLatin1(c.url);
        EXPECT_EQ(failureOf(fakes.model->openShell()), c.sentence) << c.url;
        EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Not opened")) << c.url;
        EXPECT_EQ(fakes.model->shellID(), std::nullopt);
        EXPECT_TRUE(fakes.sockets.empty());
        EXPECT_EQ(fakes.platform.fields(), (std::vector<QString>{kShellField, kCloseField})) << c.url;
    }
}

TEST_F(BuildShell, AGrantArrivingAfterCloseIsGivenBack)
{
    auto held = std::make_shared<Gate>();
    fakes.platform.script(kShellField, FakePlatform::Answer::heldBy(held));
    auto late = model().openShell();
    auto closing = model().close();
    held->open();
    awaitFor(std::move(late));
    awaitFor(std::move(closing));
    EXPECT_EQ(fakes.platform.fields(), (std::vector<QString>{kShellField, kCloseField}));
    EXPECT_EQ(fakes.platform.requests.back().variables["input"]["shellId"], "shell-1");
    EXPECT_TRUE(fakes.sockets.empty());
    EXPECT_EQ(model().shellID(), std::nullopt);
}

TEST_F(BuildShell, ANewShellEmptiesTheTranscriptAndAReconnectKeepsIt)
{
    fakes.openReadyShell();
    fakes.socket().deliver(output(1, "kept"));
    ASSERT_TRUE(waitUntil([&] { return model().shellText() == QStringLiteral("kept"); }));
    awaitFor(model().openShell());
    EXPECT_EQ(fakes.platform.requests.back().variables["input"]["shellId"], "shell-1");
    EXPECT_EQ(model().shellText(), QStringLiteral("kept"));
    // The previous connection goes away with 1001.
    EXPECT_EQ(fakes.sockets.front()->cancelledWith, std::vector<int>{1001});

    fakes.platform.script(kShellField, FakePlatform::Answer::with({{"shellId", "other"}, {"url", json::toStd(fakes.platform.shellURL)},
                                                   {"protocol", json::toStd(NativeDocuments::shellProtocol())}}));
    EXPECT_EQ(failureOf(model().openShell()), QStringLiteral("The reconnect grant changed the shell identity."));
    EXPECT_EQ(model().shellID(), QStringLiteral("shell-1"));

    awaitFor(model().close());
    fakes.configure();
    fakes.platform.nextShellID = QStringLiteral("shell-2");
    awaitFor(model().openShell());
    EXPECT_TRUE(model().shellText().isEmpty());
}

TEST_F(BuildShell, AnotherProtocolIsRejectedAndItsShellReleased)
{
    fakes.openReadyShell();
    fakes.platform.script(kShellField, FakePlatform::Answer::with({{"shellId", "shell-1"}, {"url", json::toStd(fakes.platform.shellURL)},
                                                   {"protocol", "other.v2"}}));
    EXPECT_EQ(failureOf(model().openShell()), QStringLiteral("The build-shell grant used an unsupported protocol."));
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Shell protocol rejected"));
    EXPECT_EQ(model().shellID(), std::nullopt);
    EXPECT_FALSE(model().shellReady());
    EXPECT_EQ(fakes.socket().cancelledWith, std::vector<int>{1002});
    EXPECT_EQ(fakes.platform.fields().back(), kCloseField);
    fakes.clock->advance(10s);
    EXPECT_TRUE(waitUntil([&] { return fakes.clock->sleeping() <= 1; })); // the expiry alone
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Shell protocol rejected"));
    EXPECT_EQ(fakes.sockets.size(), 1u);
}

TEST_F(BuildShell, EndsOnCloseMessagesEndingStatusesAndTheirCloseCodes)
{
    struct Case
    {
        const char *name;
        std::function<void(FakeShellSocket &)> platform;
        QString status;
        int cancelledWith;
    };
    const QString closed = QStringLiteral("Shell closed or protocol rejected; retry available");
    const std::vector<Case> cases = {
        {"CloseMessage", [](FakeShellSocket &s) { s.deliver(output(0xFF, "")); }, QStringLiteral("Shell exited"), 1000},
        {"ExitStatus",
         [](FakeShellSocket &s) {
             s.deliverStatus(Json{{"status", "Success"},
                                  {"metadata", {{"shellId", "shell-1"}}},
                                  {"details", {{"causes", {{{"reason", "ExitCode"}, {"message", "3"}}}}}}});
         },
         QStringLiteral("Shell exited with failure (exit 3)"), 1000},
        {"TextMessage", [](FakeShellSocket &s) { s.deliver("{}", false); }, closed, 1002},
        {"UndecodableMessage", [](FakeShellSocket &s) { s.deliver(output(9, "x")); }, closed, 1002},
        {"ForeignShell", [](FakeShellSocket &s) { s.deliverStatus(connectStatus(QStringLiteral("other"))); }, closed,
         1002},
        {"OversizeMessage", [](FakeShellSocket &s) { s.endWithInvalidFrame(1009); }, closed, 1002},
        {"Close1000", [](FakeShellSocket &s) { s.end(1000); }, closed, 1002},
        {"Close1003", [](FakeShellSocket &s) { s.end(1003); }, closed, 1002},
        {"Close4000", [](FakeShellSocket &s) { s.end(4000); },
         QStringLiteral("Another client attached; reconnect manually"), 1002},
    };
    for (const Case &c : cases) {
        ModelOnFakes fakes;
        fakes.configure();
        fakes.openReadyShell();
        c.platform(fakes.socket());
        ASSERT_TRUE(waitUntil([&] { return fakes.model->shellStatus() == c.status; })) << c.name;
        EXPECT_FALSE(fakes.model->shellReady()) << c.name;
        EXPECT_EQ(fakes.socket().cancelledWith, std::vector<int>{c.cancelledWith}) << c.name;
        fakes.clock->advance(10s);
        QCoreApplication::processEvents();
        EXPECT_EQ(fakes.platform.fields(), std::vector<QString>{kShellField}) << c.name << ": no reconnect";
    }
}

TEST_F(BuildShell, ReconnectsFiveTimesWithGrowingWaitsThenGivesUp)
{
    fakes.openReadyShell();
    const std::size_t sleepsBefore = fakes.clock->sleeps.size();
    for (int attempt = 1; attempt <= 5; ++attempt) {
        const std::size_t sockets = fakes.sockets.size();
        fakes.socket().end(attempt == 1 ? 0 : 1006, 1);
        const QString expected = QStringLiteral("Reconnecting (%1/5; close %2; transport 1)")
                                     .arg(attempt)
                                     .arg(attempt == 1 ? 0 : 1006);
        ASSERT_TRUE(waitUntil([&] { return fakes.model->shellStatus() == expected; })) << attempt;
        fakes.clock->advance(8s);
        ASSERT_TRUE(waitUntil([&] { return fakes.sockets.size() == sockets + 1; })) << attempt;
        EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Connecting"));
    }
    std::vector<std::chrono::milliseconds> waits;
    for (std::size_t i = sleepsBefore; i < fakes.clock->sleeps.size(); ++i)
        if (fakes.clock->sleeps[i] != 15s && fakes.clock->sleeps[i] < 30s)
            waits.push_back(fakes.clock->sleeps[i]);
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{500ms, 1s, 2s, 4s, 8s}));

    FakeShellSocket &last = fakes.socket();
    last.end(0);
    ASSERT_TRUE(waitUntil([&] { return fakes.model->shellStatus() == QStringLiteral("Connection failed after five retries"); }));
    EXPECT_FALSE(fakes.model->hasShellSocket());
    EXPECT_EQ(last.cancelledWith, std::vector<int>{1001});
    // The shell stays held: "Open shell" re-grants it, and a connect status starts the count afresh.
    awaitFor(model().openShell());
    EXPECT_EQ(fakes.platform.requests.back().variables["input"]["shellId"], "shell-1");
    fakes.socket().deliverStatus(connectStatus(QStringLiteral("shell-1"), true));
    ASSERT_TRUE(waitUntil([&] { return model().shellStatus() == QStringLiteral("Connected · replay restored"); }));
    EXPECT_EQ(model().reconnectAttempts(), 0);
}

TEST_F(BuildShell, AFailedReGrantLeavesARetryForTheUser)
{
    fakes.openReadyShell();
    fakes.platform.script(kShellField, FakePlatform::Answer::with({{"ok", false}, {"refusal", "SHELL_GONE"}}));
    fakes.socket().end(1006);
    ASSERT_TRUE(waitUntil([&] { return fakes.model->shellStatus().startsWith(QStringLiteral("Reconnecting (1/5")); }));
    fakes.clock->advance(500ms);
    ASSERT_TRUE(waitUntil([&] { return model().shellStatus() == QStringLiteral("Connection failed; retry available"); }));
}

TEST_F(BuildShell, ALoopWhoseSocketWasReplacedOrClosedChangesNothing)
{
    fakes.openReadyShell();
    FakeShellSocket &first = fakes.socket();
    awaitFor(model().openShell());
    first.deliver(output(1, "stale"));
    fakes.socket().deliver(output(1, "fresh"));
    ASSERT_TRUE(waitUntil([&] { return model().shellText() == QStringLiteral("fresh"); }));
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Connecting"));

    awaitFor(model().close());
    fakes.clock->advance(10s);
    QCoreApplication::processEvents();
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Closed"));
}

TEST_F(BuildShell, ExpiresAnHourAfterItsFirstGrantAcrossReconnects)
{
    fakes.openReadyShell();
    fakes.clock->advance(std::chrono::minutes(30));
    awaitFor(model().openShell()); // a reconnect keeps the first grant's time
    fakes.clock->advance(std::chrono::minutes(29) + 59s + 900ms);
    awaitFor(model().openShell());
    EXPECT_EQ(fakes.platform.fields().size(), 3u);
    // At the hour the limit holds even before the expiry has run.
    fakes.clock->advance(100ms);
    EXPECT_EQ(failureOf(model().openShell()),
              QStringLiteral("This shell reached its one-hour limit. Close it before opening another."));
    EXPECT_EQ(fakes.platform.fields().size(), 3u);
    ASSERT_TRUE(waitUntil([&] { return model().shellStatus() == QStringLiteral("Closed"); }));
    EXPECT_EQ(fakes.platform.fields().back(), kCloseField);
    EXPECT_EQ(model().openedAt(), std::nullopt);
}

TEST_F(BuildShell, AnExpiryWhoseCloseFailsAsksForARetry)
{
    fakes.openReadyShell();
    fakes.platform.script(kCloseField, FakePlatform::Answer::httpStatus(503));
    fakes.clock->advance(std::chrono::hours(1));
    ASSERT_TRUE(waitUntil([&] { return model().shellStatus() == QStringLiteral("Shell expiry cleanup requires retry"); }));
    EXPECT_EQ(model().shellID(), QStringLiteral("shell-1"));
}

// A close that cuts the expiry's wait short speaks for the shell's status itself: refused, it
// leaves the status as it was; accepted, it says "Closed". Neither asks the expiry for a retry.
TEST_F(BuildShell, ACloseThatCutsTheExpiryShortKeepsItsOwnStatus)
{
    fakes.openReadyShell();
    fakes.platform.script(kCloseField, FakePlatform::Answer::with({{"ok", false}, {"refusal", "SHELL_BUSY"}}));
    EXPECT_EQ(failureOf(model().close()),
              QStringLiteral("The platform refused this workspace tool request (SHELL_BUSY)."));
    EXPECT_EQ(fakes.clock->sleeping(), 0); // the expiry's wait is over
    QCoreApplication::processEvents();
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Connected"));

    awaitFor(model().close());
    QCoreApplication::processEvents();
    EXPECT_EQ(model().shellStatus(), QStringLiteral("Closed"));
}
} // namespace
