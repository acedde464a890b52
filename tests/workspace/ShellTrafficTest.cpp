// What the build shell sends on a stepped clock: input, pacing, heartbeat and resizes.

#include "WorkspaceFakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace workspacefakes;
using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
const QString kResizeField = QStringLiteral("tavriloResizeBuildShell");

class ShellTraffic : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakes.configure();
        fakes.openReadyShell();
        // Past the opening instant, so that nothing waits for a slot taken earlier.
        fakes.clock->advance(1s);
        start = fakes.clock->now();
    }
    NativeDocuments &model() { return *fakes.model; }
    std::vector<std::chrono::milliseconds> sentAt() const
    {
        std::vector<std::chrono::milliseconds> times;
        for (const auto &sent : fakes.sockets.back()->sent)
            times.push_back(sent.at - start);
        return times;
    }
    ModelOnFakes fakes;
    WorkspaceClock::Instant start{};
};

TEST_F(ShellTraffic, InputNeedsAReadyShellAndNothingIsNothing)
{
    awaitFor(model().send(QString()));
    EXPECT_TRUE(fakes.socket().sent.empty());

    ModelOnFakes notReady;
    notReady.configure();
    awaitFor(notReady.model->openShell());
    EXPECT_EQ(failureOf(notReady.model->send(QStringLiteral("ls\n"))),
              QStringLiteral("Wait for the shell's initial STATUS before sending input."));
    EXPECT_TRUE(notReady.socket().sent.empty());
}

TEST_F(ShellTraffic, LargeInputIsCutIntoPacedMessages)
{
    struct Case
    {
        qsizetype bytes;
        std::vector<qsizetype> messages; // sizes, the channel byte included
    };
    for (const Case &c : {Case{1, {2}}, Case{64512, {64513}}, Case{64513, {64513, 2}}, Case{129025, {64513, 64513, 2}}}) {
        fakes.socket().sent.clear();
        const WorkspaceClock::Instant began = fakes.clock->now();
        auto sending = model().send(QString(c.bytes, u'x'));
        for (std::size_t i = 1; i < c.messages.size(); ++i) {
            ASSERT_TRUE(waitUntil([&] { return fakes.socket().sent.size() == i; }));
            fakes.clock->advance(6ms);
        }
        awaitFor(std::move(sending));
        ASSERT_EQ(fakes.socket().sent.size(), c.messages.size()) << c.bytes;
        for (std::size_t i = 0; i < c.messages.size(); ++i) {
            EXPECT_EQ(fakes.socket().sent[i].bytes.size(), c.messages[i]);
            EXPECT_EQ(fakes.socket().sent[i].bytes[0], '\0');
            EXPECT_EQ(fakes.socket().sent[i].at - began, std::chrono::milliseconds(6 * i));
        }
        fakes.clock->advance(1s);
    }
}

TEST_F(ShellTraffic, MessagesAskedForTogetherGoSixMillisecondsApartInOrder)
{
    auto a = model().send(QStringLiteral("a"));
    auto b = model().send(QStringLiteral("b"));
    auto c = model().send(QStringLiteral("c"));
    fakes.clock->advance(6ms);
    ASSERT_TRUE(waitUntil([&] { return fakes.socket().sent.size() == 2; }));
    fakes.clock->advance(6ms);
    awaitFor(std::move(c));
    awaitFor(std::move(a));
    awaitFor(std::move(b));
    fakes.clock->advance(1s);
    awaitFor(model().send(QStringLiteral("d")));
    EXPECT_EQ(sentAt(), (std::vector<std::chrono::milliseconds>{0ms, 6ms, 12ms, 1012ms}));
    QByteArray order;
    for (const auto &sent : fakes.socket().sent)
        order += sent.bytes.mid(1);
    EXPECT_EQ(order, "abcd");
}

TEST_F(ShellTraffic, AMessageWaitingForItsSlotIsNotSentOnAReplacedSocket)
{
    awaitFor(model().send(QStringLiteral("a")));
    auto waiting = model().send(QStringLiteral("b"));
    awaitFor(model().openShell());
    fakes.clock->advance(6ms);
    EXPECT_EQ(failureOf(std::move(waiting)), QStringLiteral("The shell connection changed before input was sent."));
    EXPECT_EQ(fakes.sockets.front()->sent.size(), 1u);
    EXPECT_TRUE(fakes.sockets.back()->sent.empty());
}

TEST_F(ShellTraffic, HeartbeatEveryFifteenSecondsAndAFailedOneReconnects)
{
    fakes.clock->advance(13s); // 14 s after the connect status
    QCoreApplication::processEvents();
    EXPECT_TRUE(fakes.socket().sent.empty());
    fakes.clock->advance(1s);
    ASSERT_TRUE(waitUntil([&] { return fakes.socket().sent.size() == 1; }));
    EXPECT_EQ(fakes.socket().sent[0].bytes, QByteArray(1, '\x05'));
    fakes.clock->advance(15s);
    ASSERT_TRUE(waitUntil([&] { return fakes.socket().sent.size() == 2; }));

    fakes.socket().failSends = true;
    fakes.clock->advance(15s);
    ASSERT_TRUE(waitUntil([&] { return !fakes.socket().cancelledWith.empty(); }));
    EXPECT_EQ(fakes.socket().cancelledWith, std::vector<int>{1001});
    ASSERT_TRUE(waitUntil([&] { return model().shellStatus().startsWith(QStringLiteral("Reconnecting (1/5; close 1001")); }));
}

TEST_F(ShellTraffic, ResizesAreAuthorisedThenSentAndSizesOutsideTheRangeNeverLeave)
{
    awaitFor(model().resize(1000, 1000));
    EXPECT_EQ(fakes.platform.requests.back().field, kResizeField);
    EXPECT_EQ(fakes.platform.requests.back().variables,
              (Json{{"input", {{"sessionId", "session-1"}, {"shellId", "shell-1"}, {"cols", 1000}, {"rows", 1000}}}}));
    EXPECT_EQ(fakes.socket().sent.back().bytes, QByteArray("\x04{\"height\":1000,\"width\":1000}"));

    const std::size_t requests = fakes.platform.requests.size();
    EXPECT_EQ(failureOf(model().resize(0, 30)), QStringLiteral("invalid frame"));
    EXPECT_EQ(failureOf(model().resize(1001, 30)), QStringLiteral("invalid frame"));
    EXPECT_EQ(fakes.platform.requests.size(), requests);
}

TEST_F(ShellTraffic, ResizesRunOneAfterAnotherAlsoAfterAFailure)
{
    auto first = std::make_shared<Gate>();
    fakes.platform.script(kResizeField, FakePlatform::Answer::with({{"ok", false}}).held(first));
    auto refused = model().resize(80, 24);
    auto second = model().resize(100, 30);
    ASSERT_TRUE(waitUntil([&] { return fakes.platform.requests.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(fakes.platform.requests.size(), 2u) << "the second waits for the first";
    first->open();
    EXPECT_EQ(failureOf(std::move(refused)), QStringLiteral("The platform refused this workspace tool request."));
    awaitFor(std::move(second));
    EXPECT_EQ(fakes.platform.requests.back().variables["input"]["cols"], 100);
}

TEST_F(ShellTraffic, AResizeRightAfterOpeningWaitsForTheFirstStatus)
{
    // Besides the expiry's wait (and the heartbeat's, once connected), the resize's time limit is
    // the only sleeper; the resize itself waits for the shell's status, not for the clock.
    const auto resizeWaits = [](ModelOnFakes &fakes) {
        const int others = fakes.model->shellReady() ? 2 : 1;
        EXPECT_TRUE(waitUntil([&] { return fakes.clock->sleeping() == others + 1; }));
    };
    ModelOnFakes opening;
    opening.configure();
    awaitFor(opening.model->openShell());
    auto resizing = opening.model->resize(100, 30);
    resizeWaits(opening);
    opening.clock->advance(14s);
    resizeWaits(opening);
    EXPECT_TRUE(opening.socket().sent.empty());
    opening.socket().deliverStatus(connectStatus(QStringLiteral("shell-1")));
    awaitFor(std::move(resizing));
    ASSERT_EQ(opening.socket().sent.size(), 1u);
    EXPECT_EQ(opening.socket().sent[0].bytes[0], '\x04');

    ModelOnFakes silent;
    silent.configure();
    awaitFor(silent.model->openShell());
    auto waiting = silent.model->resize(100, 30);
    resizeWaits(silent);
    silent.clock->advance(15s);
    EXPECT_EQ(failureOf(std::move(waiting)),
              QStringLiteral("The shell did not receive a successful initial STATUS before resize."));
    EXPECT_TRUE(silent.socket().sent.empty());
}
} // namespace
