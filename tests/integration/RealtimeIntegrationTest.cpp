// The realtime subscription of NativeLive against the stand-in platform over TLS through its proxy,
// as the hub reaches the platform: scripted turns, identity filtering, dropped connections.

#include "cloud/NativeLive.h"
#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"
#include "core/async/Sleep.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
const char *kSession = "prj-0123456789abcdef0123456789abcdef01234567";
const char *kTenant = "tenant-7";

Json sessionFrame(qint64 seq, std::size_t payloadBytes = 200, const char *kind = "message")
{
    return Json{{"v", 1},
                {"ts", "2026-12-10T12:00:00Z"},
                {"turnId", "turn-1"},
                {"seq", seq},
                {"agent", "builder"},
                {"kind", kind},
                {"payload", {{"text", std::string(payloadBytes, 'a' + char(seq % 26))}}}};
}

[[maybe_unused]] ::testing::Environment *const kStandIn = ::testing::AddGlobalTestEnvironment(new SharedStandIn);

class RealtimeIntegration : public ::testing::Test
{
protected:
    void SetUp() override { m_cursor = standIn().logEntries().next; }

    static StandIn &standIn() { return SharedStandIn::get(); }

    // A NativeLive whose back-off waits are recorded and shortened unless `realWaits`.
    std::unique_ptr<NativeLive> makeLive(bool realWaits = false,
                                         std::chrono::milliseconds handshakeTimeout = std::chrono::seconds(20))
    {
        RealtimeSubscription::Options options;
        options.handshakeTimeout = handshakeTimeout;
        options.sleep = [this, realWaits](std::chrono::milliseconds delay, CancelToken token) -> QCoro::Task<void> {
            delays.push_back(delay);
            co_await sleepFor(realWaits ? delay : std::chrono::milliseconds(20), token);
        };
        return std::make_unique<NativeLive>(options);
    }

    static HubConfiguration configuration()
    {
        HubConfiguration config(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("realtime-test")}});
        config.tenantID = QString::fromLatin1(kTenant);
        return config;
    }

    QCoro::Task<void> connect(NativeLive &live)
    {
        return live.connect(
            configuration(), QStringLiteral("token-0"), QString::fromLatin1(kSession),
            [this](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("token-%1").arg(++tokenRequests); },
            [this](Json frame, CancelToken) -> QCoro::Task<void> {
                frames.push_back(frame);
                // A handler that sometimes takes its time, as a project call does, while the
                // platform keeps sending.
                if (frame.value("seq", 0) % 50 == 25)
                    co_await sleepFor(std::chrono::milliseconds(30), CancelToken());
            });
    }

    std::vector<Json> realtimeEntries(const char *event) const
    {
        std::vector<Json> found;
        for (auto &entry : standIn().logEntries(m_cursor).entries)
            if (entry["kind"] == "realtime" && entry.value("event", "") == event)
                found.push_back(entry);
        return found;
    }

    std::vector<qint64> seqs() const
    {
        std::vector<qint64> result;
        for (const auto &frame : frames)
            if (frame.contains("seq"))
                result.push_back(frame["seq"].get<qint64>());
        return result;
    }

    std::vector<std::string> transportMessages() const
    {
        std::vector<std::string> result;
        for (const auto &frame : frames)
            if (frame.value("kind", "") == "transport_error")
                result.push_back(frame["payload"]["message"]);
        return result;
    }

    qint64 m_cursor = 0;
    std::vector<Json> frames;
    std::vector<std::chrono::milliseconds> delays;
    int tokenRequests = 0;
};

TEST_F(RealtimeIntegration, ScriptedTurnArrivesCompleteInOrderAndOnce)
{
    constexpr int kFrames = 300;
    Json send = Json::array();
    int mismatches = 0;
    int dataMessages = 0;
    for (int seq = 1; seq <= kFrames; ++seq) {
        Json action{{"frame", sessionFrame(seq)}};
        int copies = 1;
        if (seq % 10 == 0) {
            // Large frames come in chunks, shuffled and each sent twice.
            action["frame"] = sessionFrame(seq, 40000);
            action["chunked"] = {
                {"id", "c" + std::to_string(seq)}, {"order", "shuffle"}, {"seed", seq}, {"duplicate", true}};
            copies = 2 * 4;
        }
        if (seq % 5 == 0)
            action["textPayload"] = true;
        if (seq % 11 == 0)
            action["binary"] = true;
        if (seq % 7 == 0) {
            action["repeat"] = 2;
            copies *= 2;
        }
        send.push_back(action);
        dataMessages += copies;
        if (seq % 40 == 0) {
            Json other = sessionFrame(seq);
            other["sessionId"] = "prj-other";
            Json foreign = sessionFrame(seq);
            foreign["tenantId"] = "tenant-other";
            send.push_back({{"frame", other}});
            send.push_back({{"frame", foreign}});
            mismatches += 2;
            dataMessages += 2;
        }
    }
    // Status frames without turn or sequence number: each one counts.
    for (int i = 0; i < 3; ++i) {
        send.push_back({{"frame", {{"kind", "status"}, {"payload", {{"n", i}}}}}});
        dataMessages += 1;
    }
    standIn().setScenario({{"realtime", {{"*", {{"default", {{"keepAliveMs", 25}, {"send", send}}}}}}}});

    auto live = makeLive();
    awaitFor(connect(*live));
    ASSERT_TRUE(waitUntil([&] { return frames.size() >= std::size_t(kFrames + 3); }, std::chrono::seconds(20)));
    ASSERT_TRUE(waitUntil([&] { return !realtimeEntries("sent").empty(); }));

    std::vector<qint64> expected;
    for (int seq = 1; seq <= kFrames; ++seq)
        expected.push_back(seq);
    EXPECT_EQ(seqs(), expected);
    EXPECT_EQ(frames.size(), std::size_t(kFrames + 3));
    EXPECT_TRUE(transportMessages().empty());
    EXPECT_EQ(frames[9]["payload"]["text"].get<std::string>().size(), 40000u);
    EXPECT_TRUE(frames[4]["payload"].is_object());
    EXPECT_EQ(live->acceptedFrames(), kFrames + 3);
    EXPECT_EQ(live->rejectedIdentities(), mismatches);
    EXPECT_EQ(live->observedDeliveries(), dataMessages);
    EXPECT_GT(live->observedMessages(), live->observedDeliveries());
    EXPECT_EQ(live->reconnects(), 0);

    const auto starts = realtimeEntries("start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["sessionId"], kSession);
    EXPECT_EQ(starts[0]["tenantId"], kTenant);
    EXPECT_EQ(starts[0]["token"], "token-0");
    EXPECT_EQ(realtimeEntries("open")[0]["headerToken"], "token-0");
    live->disconnect();
}

struct EndCase
{
    const char *name;
    Json end;
    const char *message;
};

class RealtimeConnectionEnd : public RealtimeIntegration, public ::testing::WithParamInterface<EndCase>
{
};

TEST_P(RealtimeConnectionEnd, ReconnectsWithANewTokenAndDeliversWithoutDuplicates)
{
    Json first = Json::array();
    for (int seq = 1; seq <= 5; ++seq)
        first.push_back({{"frame", sessionFrame(seq)}});
    first.push_back(GetParam().end);
    Json second = Json::array();
    for (int seq = 3; seq <= 8; ++seq)
        second.push_back({{"frame", sessionFrame(seq)}});
    standIn().setScenario({{"realtime", {{"*", {{"queue", {{{"send", first}}}}, {"default", {{"send", second}}}}}}}});

    auto live = makeLive();
    awaitFor(connect(*live));
    ASSERT_TRUE(waitUntil([&] { return seqs().size() == 8; }, std::chrono::seconds(10)));
    EXPECT_EQ(seqs(), (std::vector<qint64>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(transportMessages(), (std::vector<std::string>{GetParam().message}));
    EXPECT_EQ(frames[5].value("kind", ""), "transport_error");
    EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(2)}));
    EXPECT_EQ(tokenRequests, 1);
    EXPECT_EQ(live->reconnects(), 1);

    const auto starts = realtimeEntries("start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0]["token"], "token-0");
    EXPECT_EQ(starts[1]["token"], "token-1");
    EXPECT_NE(starts[0]["id"], starts[1]["id"]);
    live->disconnect();
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealtimeConnectionEnd,
    ::testing::Values(
        EndCase{"Dropped", {{"drop", true}}, "Reconnecting: The realtime connection failed: Remote host closed."},
        EndCase{
            "ClosedByThePlatform", {{"close", 1000}}, "Reconnecting: The realtime connection was closed (code 1000)."},
        EndCase{"Oversize",
                {{"frame", sessionFrame(99)}, {"padTo", realtime::kMaxMessageBytes + 1}},
                "Reconnecting: Invalid realtime frame."},
        // Past what Qt itself buffers: Qt refuses it before the subscription sees it.
        EndCase{"FarOversize",
                {{"frame", sessionFrame(99)}, {"padTo", 8 * realtime::kMaxMessageBytes}},
                "Reconnecting: Invalid realtime frame."},
        EndCase{"DeliveryError", {{"message", {{"type", "error"}}}}, "Reconnecting: Realtime delivery failed."}),
    [](const auto &info) { return std::string(info.param.name); });

// A half-open connection: the platform acknowledged with a short connection timeout, then sent
// nothing at all, not even keep-alives. The hub treats the silence as a drop and subscribes anew.
TEST_F(RealtimeIntegration, SilenceLongerThanTheConnectionTimeoutReconnects)
{
    const Json silent = {{"connectionTimeoutMs", 300}, {"keepAliveMs", 0}, {"send", {{{"frame", sessionFrame(1)}}}}};
    const Json lively = {{"send", {{{"frame", sessionFrame(2)}}}}};
    standIn().setScenario({{"realtime", {{"*", {{"queue", {silent}}, {"default", lively}}}}}});

    auto live = makeLive();
    awaitFor(connect(*live));
    ASSERT_TRUE(waitUntil([&] { return seqs().size() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(seqs(), (std::vector<qint64>{1, 2}));
    EXPECT_EQ(transportMessages(), (std::vector<std::string>{"Reconnecting: The realtime connection went silent."}));
    EXPECT_EQ(live->reconnects(), 1);
    EXPECT_EQ(realtimeEntries("start").size(), 2u);
    live->disconnect();
}

TEST_F(RealtimeIntegration, CancellingDuringTheBackOffEndsAtOnce)
{
    standIn().setScenario(
        {{"realtime", {{"*", {{"default", {{"send", {{{"frame", sessionFrame(1)}}, {{"drop", true}}}}}}}}}}});
    auto live = makeLive(/*realWaits=*/true);
    awaitFor(connect(*live));
    ASSERT_TRUE(waitUntil([&] { return delays.size() == 1; }));
    auto receiver = live->subscription().receiver();
    live->disconnect();
    // Well below the 2 s the wait would have taken.
    EXPECT_TRUE(waitUntil([&] { return receiver.isFinished(); }, std::chrono::milliseconds(500)));
    EXPECT_EQ(transportMessages().size(), 1u);
    EXPECT_EQ(tokenRequests, 0);
    EXPECT_EQ(realtimeEntries("start").size(), 1u);
}

struct HandshakeCase
{
    const char *name;
    const char *handshake;
    const char *error;
};

class RealtimeHandshake : public RealtimeIntegration, public ::testing::WithParamInterface<HandshakeCase>
{
};

TEST_P(RealtimeHandshake, FailureReachesTheCaller)
{
    standIn().setScenario({{"realtime", {{"*", {{"default", {{"handshake", GetParam().handshake}}}}}}}});
    auto live = makeLive(false, std::chrono::milliseconds(500));
    QString error;
    try {
        awaitFor(connect(*live));
    } catch (const std::exception &e) {
        error = errorDescription(e);
    }
    EXPECT_EQ(error.toStdString(), GetParam().error);
    EXPECT_FALSE(live->subscription().receiver().isValid());
    ASSERT_TRUE(standIn().waitForEntry(m_cursor, [](const Json &entry) {
        return entry["kind"] == "realtime" && entry.value("event", "") == "closed";
    }));
}

INSTANTIATE_TEST_SUITE_P(Table, RealtimeHandshake,
                         ::testing::Values(HandshakeCase{"Refused", "refuse", "Realtime subscription refused."},
                                           HandshakeCase{"ConnectionError", "connection_error",
                                                         "Realtime subscription refused."},
                                           HandshakeCase{"NeverAcknowledged", "silent", "The request timed out."}),
                         [](const auto &info) { return std::string(info.param.name); });
} // namespace
