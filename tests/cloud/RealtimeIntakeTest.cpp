#include "ChunkSupport.h"

#include "cloud/RealtimeInbox.h"
#include "cloud/RealtimeIntake.h"
#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
Json data(Json frame)
{
    return Json{{"type", "data"}, {"id", "x"}, {"payload", {{"data", {{"onSessionFrame", std::move(frame)}}}}}};
}

// An intake that follows session "prj-1" of workspace "tenant-1", as the chunk helpers make them.
class IntakeFixture : public ::testing::Test
{
protected:
    IntakeFixture() { intake.begin(QStringLiteral("prj-1"), QStringLiteral("tenant-1")); }

    // Takes the message and, like the receive task after a successful handler, records the frame.
    std::optional<Json> deliver(Json message)
    {
        auto delivery = intake.take(std::move(message));
        if (!delivery)
            return std::nullopt;
        intake.delivered(*delivery);
        return delivery->frame;
    }

    RealtimeIntake intake;
};

struct MessageCase
{
    const char *name;
    Json message;
    bool delivered = false;
    const char *error = nullptr;
    qint64 deliveries = 0;
    qint64 rejected = 0;
};

class IntakeMessage : public IntakeFixture, public ::testing::WithParamInterface<MessageCase>
{
};

TEST_P(IntakeMessage, IsHandledAsItsTypeSays)
{
    const auto &c = GetParam();
    QString error;
    std::optional<Json> frame;
    try {
        frame = deliver(c.message);
    } catch (const HubError &e) {
        error = e.description();
    }
    EXPECT_EQ(error, c.error ? QString::fromUtf8(c.error) : QString());
    EXPECT_EQ(frame.has_value(), c.delivered);
    EXPECT_EQ(intake.counters().observedDeliveries, c.deliveries);
    EXPECT_EQ(intake.counters().rejectedIdentities, c.rejected);
    EXPECT_EQ(intake.counters().acceptedFrames, c.delivered ? 1 : 0);
}

Json withKey(Json frame, const char *key, Json value)
{
    frame[key] = std::move(value);
    return frame;
}

Json without(Json frame, const char *key)
{
    frame.erase(key);
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntakeMessage,
    ::testing::Values(
        MessageCase{"KeepAlive", Json{{"type", "ka"}}}, MessageCase{"NoType", Json{{"payload", 1}}},
        MessageCase{"TypeNotString", Json{{"type", 3}}},
        MessageCase{"StartAckWhileStreaming", Json{{"type", "start_ack"}}},
        MessageCase{"ConnectionErrorWhileStreaming", Json{{"type", "connection_error"}}},
        MessageCase{"Error", Json{{"type", "error"}}, false, "Realtime delivery failed."},
        MessageCase{"Plain", data(chunks::frame(1)), true, nullptr, 1},
        MessageCase{"OtherSession", data(chunks::frame(1, "message", 4, "turn-1", "prj-2")), false, nullptr, 1, 1},
        MessageCase{"OtherTenant", data(chunks::frame(1, "message", 4, "turn-1", "prj-1", "tenant-2")), false, nullptr,
                    1, 1},
        MessageCase{"SessionMissing", data(without(chunks::frame(1), "sessionId")), false, nullptr, 1, 1},
        MessageCase{"TenantNotString", data(withKey(chunks::frame(1), "tenantId", 7)), false, nullptr, 1, 1},
        MessageCase{"FrameNotObject", data("frame"), false, nullptr, 1, 1},
        MessageCase{"FrameMissing", Json{{"type", "data"}, {"payload", {{"data", nullptr}}}}, false, nullptr, 1, 1},
        MessageCase{"PayloadMissing", Json{{"type", "data"}}, false, nullptr, 1, 1},
        MessageCase{"TextPayload", data(withKey(chunks::frame(1), "payload", R"({"a":[1]})")), true, nullptr, 1},
        MessageCase{"TextPayloadArray", data(withKey(chunks::frame(1), "payload", "[1,2]")), true, nullptr, 1},
        MessageCase{"TextPayloadNotJson", data(withKey(chunks::frame(1), "payload", "{oops")), false,
                    "The data couldn't be read because it isn't in the correct format.", 1},
        MessageCase{"TextPayloadBareValue", data(withKey(chunks::frame(1), "payload", "17")), false,
                    "The data couldn't be read because it isn't in the correct format.", 1},
        MessageCase{"InvalidChunk", data(withKey(chunks::split(chunks::frame(1), "c")[0], "payload", Json::object())),
                    false, "Invalid AppSync frame chunk.", 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(IntakeFixture, TextPayloadIsReplacedByItsValue)
{
    const auto frame = deliver(data(withKey(chunks::frame(1), "payload", R"({"tool":"read"})")));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->at("payload"), (Json{{"tool", "read"}}));
}

TEST_F(IntakeFixture, RepeatedTurnAndSeqIsDeliveredOnce)
{
    EXPECT_TRUE(deliver(data(chunks::frame(1))));
    EXPECT_FALSE(deliver(data(chunks::frame(1))));
    EXPECT_TRUE(deliver(data(chunks::frame(1, "message", 16, "turn-2"))));
    EXPECT_EQ(intake.counters().acceptedFrames, 2);
}

TEST_F(IntakeFixture, IntegralFloatSeqIsTheSameKeyAsTheInteger)
{
    EXPECT_TRUE(deliver(data(withKey(chunks::frame(0), "seq", 3.0))));
    EXPECT_FALSE(deliver(data(chunks::frame(3))));
    EXPECT_FALSE(deliver(data(withKey(chunks::frame(0), "seq", 3.0))));
    // A fractional number is no sequence number: such frames are each delivered.
    EXPECT_TRUE(deliver(data(withKey(chunks::frame(0), "seq", 3.5))));
    EXPECT_TRUE(deliver(data(withKey(chunks::frame(0), "seq", 3.5))));
}

TEST_F(IntakeFixture, ProjectCallsAreNeverDeduplicated)
{
    EXPECT_TRUE(deliver(data(chunks::frame(5, "project_call"))));
    EXPECT_TRUE(deliver(data(chunks::frame(5, "project_call"))));
}

// Frames without an integer "seq" would all share one key; each of them must still arrive.
TEST_F(IntakeFixture, FramesWithoutSeqAreAllDelivered)
{
    Json first = without(without(chunks::frame(0), "turnId"), "seq");
    Json second = first;
    second["payload"] = Json{{"text", "second"}};
    EXPECT_TRUE(deliver(data(first)));
    EXPECT_TRUE(deliver(data(second)));
    EXPECT_TRUE(deliver(data(withKey(first, "seq", "3"))));
    EXPECT_TRUE(deliver(data(withKey(first, "seq", "3"))));
    EXPECT_EQ(intake.counters().acceptedFrames, 4);
}

TEST_F(IntakeFixture, KeyIsRecordedOnlyAfterTheHandlerAccepted)
{
    auto delivery = intake.take(data(chunks::frame(9)));
    ASSERT_TRUE(delivery);
    intake.handlerFailed(*delivery);
    EXPECT_TRUE(deliver(data(chunks::frame(9))));
    EXPECT_FALSE(deliver(data(chunks::frame(9))));
}

TEST_F(IntakeFixture, RetriedChunkedFrameIsRebuiltAgain)
{
    const Json whole = chunks::frame(10, "message", 20000);
    const auto parts = chunks::split(whole, "c");
    EXPECT_FALSE(intake.take(data(parts[0])));
    auto delivery = intake.take(data(parts[1]));
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->frame, whole);
    intake.handlerFailed(*delivery);
    EXPECT_FALSE(deliver(data(parts[1])));
    EXPECT_EQ(deliver(data(parts[0])), whole);
    EXPECT_FALSE(deliver(data(parts[0])));
    EXPECT_FALSE(deliver(data(parts[1])));
}

TEST_F(IntakeFixture, DeliveredKeysStartOverPastTheCap)
{
    for (int seq = 0; seq <= 4096; ++seq)
        ASSERT_TRUE(deliver(data(chunks::frame(seq))));
    EXPECT_EQ(intake.deliveredCount(), 4097u);
    EXPECT_TRUE(deliver(data(chunks::frame(5000))));
    EXPECT_EQ(intake.deliveredCount(), 1u);
    EXPECT_TRUE(deliver(data(chunks::frame(0))));
}

TEST(RealtimeProtocol, RealtimeUrlKeepsEverythingButSchemeAndPath)
{
    EXPECT_EQ(realtime::realtimeUrl(QUrl("https://api.example.test/graphql"))->toString(),
              "wss://api.example.test/graphql/realtime");
    EXPECT_EQ(realtime::realtimeUrl(QUrl("https://h.test:8443/a/?x=1#f"))->toString(),
              "wss://h.test:8443/a//realtime?x=1#f");
    EXPECT_FALSE(realtime::realtimeUrl(QUrl()).has_value());
}

TEST(RealtimeProtocol, HeaderSubprotocolIsUrlSafeBase64OfTheAuthorization)
{
    // Chosen so that the standard alphabet would need "+", "/" and padding.
    const Json authorization = realtime::authorizationObject(QStringLiteral("ey?>~~"), QStringLiteral("h.test"));
    const QString protocol = realtime::headerSubprotocol(authorization);
    ASSERT_TRUE(protocol.startsWith("header-"));
    const QByteArray encoded = protocol.mid(7).toLatin1();
    EXPECT_FALSE(encoded.contains('+') || encoded.contains('/') || encoded.contains('='));
    EXPECT_EQ(QByteArray::fromBase64(encoded, QByteArray::Base64UrlEncoding),
              R"({"Authorization":"ey?>~~","host":"h.test"})");
}

TEST(RealtimeProtocol, StartMessageCarriesTheOperationTextExactly)
{
    const Json authorization = realtime::authorizationObject(QStringLiteral("tok"), QStringLiteral("h.test"));
    const Json start = json::parse(realtime::startMessage("ID-1", "prj-1", "tenant-1", authorization));
    EXPECT_EQ(start.at("id"), "ID-1");
    EXPECT_EQ(start.at("type"), "start");
    EXPECT_EQ(start.at("payload").at("extensions"), (Json{{"authorization", authorization}}));
    const Json data = json::parse(QByteArray::fromStdString(start.at("payload").at("data").get<std::string>()));
    EXPECT_EQ(data.at("variables"), (Json{{"sessionId", "prj-1"}, {"tenantId", "tenant-1"}}));
    const auto query = data.at("query").get<std::string>();
    EXPECT_EQ(query.size(), 183u);
    EXPECT_EQ(query, "subscription NativeFrames($sessionId: ID!, $tenantId: String!) { onSessionFrame(sessionId: "
                     "$sessionId, tenantId: $tenantId) { v ts turnId seq sessionId tenantId agent kind payload } }");
}

TEST(RealtimeProtocol, MessageSizeAndShapeAreChecked)
{
    QByteArray atLimit = R"({"type":"ka","pad":")" + QByteArray(realtime::kMaxMessageBytes - 22, ' ') + "\"}";
    ASSERT_EQ(atLimit.size(), realtime::kMaxMessageBytes);
    EXPECT_NO_THROW(realtime::parseMessage(atLimit));
    atLimit.insert(1, ' ');
    EXPECT_THROW(
        {
            try {
                realtime::parseMessage(atLimit);
            } catch (const HubError &e) {
                EXPECT_EQ(e.description(), "Invalid realtime frame.");
                throw;
            }
        },
        HubError);
    try {
        realtime::parseMessage("[1]");
        ADD_FAILURE();
    } catch (const HubError &e) {
        EXPECT_EQ(e.description(), "Invalid realtime frame.");
    }
    EXPECT_THROW(realtime::parseMessage("\"text\""), HubError);
}

TEST(RealtimeProtocol, ReconnectDelaysGrowToThirtySeconds)
{
    std::vector<qint64> delays;
    for (int attempt = 1; attempt <= 7; ++attempt)
        delays.push_back(qint64(realtime::reconnectDelay(attempt).count()));
    EXPECT_EQ(delays, (std::vector<qint64>{2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

struct TimeoutCase
{
    const char *name;
    Json ack;
    qint64 milliseconds;
};

class ConnectionTimeout : public ::testing::TestWithParam<TimeoutCase>
{
};

TEST_P(ConnectionTimeout, ComesFromTheAcknowledgementOrIsFiveMinutes)
{
    EXPECT_EQ(realtime::connectionTimeout(GetParam().ack).count(), GetParam().milliseconds);
}

Json ackWith(Json timeout)
{
    return Json{{"type", "connection_ack"}, {"payload", {{"connectionTimeoutMs", std::move(timeout)}}}};
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectionTimeout,
    ::testing::Values(TimeoutCase{"Given", ackWith(60000), 60000}, TimeoutCase{"IntegralFloat", ackWith(2.5e4), 25000},
                      TimeoutCase{"Absent", Json{{"type", "connection_ack"}}, 300000},
                      TimeoutCase{"PayloadNotObject", Json{{"type", "connection_ack"}, {"payload", "x"}}, 300000},
                      TimeoutCase{"Zero", ackWith(0), 300000}, TimeoutCase{"Negative", ackWith(-5), 300000},
                      TimeoutCase{"Fractional", ackWith(1.5), 300000}, TimeoutCase{"Text", ackWith("60000"), 300000}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RealtimeProtocol, WholeNumbersAreIntegralFloatsInRangeOnly)
{
    const Json values{{"int", 7},
                      {"float", 7.0},
                      {"negative", -2.0},
                      {"fraction", 7.25},
                      {"huge", 1e19},
                      {"text", "7"},
                      {"max", std::numeric_limits<qint64>::max()},
                      {"unsigned", std::numeric_limits<std::uint64_t>::max()}};
    EXPECT_EQ(json::wholeNumber(values, "int"), 7);
    EXPECT_EQ(json::wholeNumber(values, "float"), 7);
    EXPECT_EQ(json::wholeNumber(values, "negative"), -2);
    EXPECT_EQ(json::wholeNumber(values, "max"), std::numeric_limits<qint64>::max());
    for (const char *key : {"fraction", "huge", "text", "unsigned", "missing"})
        EXPECT_FALSE(json::wholeNumber(values, key).has_value()) << key;
}

TEST(RealtimeInbox, OverflowFailsAfterTheQueuedMessages)
{
    RealtimeInbox inbox(2, 1024);
    EXPECT_TRUE(inbox.push({"a"}));
    EXPECT_TRUE(inbox.push({"b", true}));
    EXPECT_FALSE(inbox.push({"c"}));
    EXPECT_FALSE(inbox.push({"d"}));
    EXPECT_EQ(testsupport::awaitFor(inbox.next(CancelToken())).bytes, "a");
    const auto second = testsupport::awaitFor(inbox.next(CancelToken()));
    EXPECT_EQ(second.bytes, "b");
    EXPECT_TRUE(second.binary);
    try {
        testsupport::awaitFor(inbox.next(CancelToken()));
        ADD_FAILURE();
    } catch (const HubError &e) {
        EXPECT_EQ(e.description(), RealtimeInbox::overflowSentence());
    }
}

TEST(RealtimeInbox, ByteBoundAlsoOverflows)
{
    RealtimeInbox inbox(100, 10);
    EXPECT_TRUE(inbox.push({QByteArray(6, 'x')}));
    EXPECT_FALSE(inbox.push({QByteArray(6, 'y')}));
    EXPECT_TRUE(inbox.hasFailed());
}

TEST(RealtimeInbox, SilenceFailsAfterTheQueuedMessages)
{
    RealtimeInbox inbox;
    inbox.push({"before"});
    inbox.failWhenSilentFor(std::chrono::milliseconds(20), std::make_exception_ptr(HubError("Silent.")));
    inbox.push({"after"});
    EXPECT_TRUE(testsupport::waitUntil([&] { return inbox.hasFailed(); }));
    EXPECT_EQ(testsupport::awaitFor(inbox.next(CancelToken())).bytes, "before");
    EXPECT_EQ(testsupport::awaitFor(inbox.next(CancelToken())).bytes, "after");
    try {
        testsupport::awaitFor(inbox.next(CancelToken()));
        ADD_FAILURE();
    } catch (const HubError &e) {
        EXPECT_EQ(e.description(), "Silent.");
    }
}

TEST(RealtimeInbox, WaitingConsumerWakesOnPushAndOnCancel)
{
    RealtimeInbox inbox;
    auto pending = inbox.next(CancelToken());
    QTimer::singleShot(0, [&] { inbox.push({"late"}); });
    EXPECT_EQ(testsupport::awaitFor(std::move(pending)).bytes, "late");

    CancelSource source;
    QTimer::singleShot(0, [&] { source.cancel(); });
    EXPECT_THROW(testsupport::awaitFor(inbox.next(source.token())), CancelledError);
}
} // namespace
