#include "ChunkSupport.h"

#include "cloud/DeadlineError.h"
#include "cloud/RealtimeProtocol.h"
#include "cloud/RealtimeSubscription.h"
#include "core/HubError.h"
#include "core/async/Sleep.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
// The platform's side of the realtime sockets the subscription opens, scripted per test.
class FakePlatform
{
public:
    enum class Handshake { Accept, Refuse, Silent };

    class Socket : public RealtimeSocket
    {
    public:
        explicit Socket(FakePlatform &platform) : m_platform(platform) {}

        void open(const QUrl &url, const QStringList &subprotocols) override
        {
            this->url = url;
            this->subprotocols = subprotocols;
        }
        void sendText(const QByteArray &utf8) override
        {
            if (cancelledWith)
                throw HubError(QStringLiteral("The realtime connection is closed."));
            sent.push_back(json::parse(utf8));
            m_platform.answer(*this, sent.back());
        }
        void cancel(int closeCode) override
        {
            if (!cancelledWith)
                cancelledWith = closeCode;
            m_inbox.fail(std::make_exception_ptr(CancelledError()));
        }

        void deliver(const Json &message) { m_inbox.push({json::dump(message)}); }
        void deliverBytes(QByteArray bytes, bool binary) { m_inbox.push({std::move(bytes), binary}); }
        void drop()
        {
            m_inbox.fail(std::make_exception_ptr(HubError(QStringLiteral("The realtime connection was lost."))));
        }

        QUrl url;
        QStringList subprotocols;
        std::vector<Json> sent;
        int cancelledWith = 0;

    private:
        FakePlatform &m_platform;
    };

    std::shared_ptr<RealtimeSocket> make()
    {
        sockets.push_back(std::make_shared<Socket>(*this));
        return sockets.back();
    }
    Socket &last() { return *sockets.back(); }

    // The token a socket's header sub-protocol carries.
    static std::string tokenOf(const Socket &socket)
    {
        const QByteArray encoded = socket.subprotocols.value(1).mid(7).toLatin1();
        return json::parse(QByteArray::fromBase64(encoded, QByteArray::Base64UrlEncoding)).at("Authorization");
    }

    Handshake handshake = Handshake::Accept;
    // The payload of "connection_ack" (none when null).
    Json ackPayload;
    // Messages the platform sends before its answer to the start message.
    std::vector<Json> beforeStartAck;
    std::vector<std::shared_ptr<Socket>> sockets;

private:
    void answer(Socket &socket, const Json &message)
    {
        const auto type = message.at("type").get<std::string>();
        if (type == "connection_init" && handshake != Handshake::Silent) {
            Json ack{{"type", "connection_ack"}};
            if (!ackPayload.is_null())
                ack["payload"] = ackPayload;
            socket.deliver(ack);
        }
        if (type != "start")
            return;
        for (const auto &early : std::exchange(beforeStartAck, {}))
            socket.deliver(early);
        if (handshake == Handshake::Accept)
            socket.deliver({{"type", "start_ack"}, {"id", message.at("id")}});
        else if (handshake == Handshake::Refuse)
            socket.deliver({{"type", "error"}});
    }
};

Json data(Json frame)
{
    return Json{{"type", "data"}, {"payload", {{"data", {{"onSessionFrame", std::move(frame)}}}}}};
}

HubConfiguration configuration(QString tenant = QStringLiteral("tenant-1"))
{
    HubEnvironment environment{
        {QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("test")},
        {QStringLiteral("TAVRILO_PLATFORM_GRAPHQL_URL"), QStringLiteral("https://api.tavrilo.example/graphql")}};
    HubConfiguration result(environment);
    result.graphQLEndpoint = QUrl(QStringLiteral("https://api.example.test:8443/graphql"));
    result.tenantID = tenant;
    return result;
}

// A subscription on the fake platform whose back-off waits are recorded and skipped, unless the
// test holds them.
class SubscriptionFixture : public ::testing::Test
{
protected:
    SubscriptionFixture()
    {
        RealtimeSubscription::Options options;
        options.socketFactory = [this] { return platform.make(); };
        options.handshakeTimeout = std::chrono::milliseconds(200);
        options.sleep = [this](std::chrono::milliseconds delay, CancelToken token) -> QCoro::Task<void> {
            delays.push_back(delay);
            co_await sleepFor(holdBackoff ? std::chrono::milliseconds(3600000) : std::chrono::milliseconds(0), token);
        };
        subscription = std::make_unique<RealtimeSubscription>(options);
    }

    QCoro::Task<void> connect(HubConfiguration config = configuration())
    {
        return subscription->connect(
            std::move(config), QStringLiteral("token-0"), QStringLiteral("prj-1"),
            [this](CancelToken token) -> QCoro::Task<QString> {
                tokenRequests += 1;
                if (refuseToken)
                    throw HubError(QStringLiteral("Sign in again."));
                if (holdTokenRenewal)
                    co_await sleepFor(std::chrono::hours(1), token);
                co_return QStringLiteral("token-%1").arg(tokenRequests);
            },
            [this](Json frame, CancelToken token) -> QCoro::Task<void> {
                frames.push_back(frame);
                if (holdHandler && frames.size() == 1) {
                    try {
                        co_await sleepFor(std::chrono::hours(1), releaseHandler.token());
                    } catch (const CancelledError &) {
                    }
                }
                // A long handler, as a project call is, that ends when the subscription stops.
                if (holdHandlerUntilStopped && frame.value("kind", "") != "transport_error") {
                    try {
                        co_await sleepFor(std::chrono::hours(1), token);
                    } catch (const CancelledError &) {
                        handlerStopped = true;
                        throw;
                    }
                }
                if (failHandler && frame.value("kind", "") != "transport_error") {
                    failHandler = false;
                    throw HubError(QStringLiteral("The frame could not be handled."));
                }
                co_return;
            });
    }

    // The handshake of socket `count` has been answered with "start_ack": what is delivered now
    // is streamed.
    bool waitForStreaming(std::size_t count)
    {
        return waitUntil([&] { return platform.sockets.size() == count && platform.last().sent.size() >= 2; });
    }

    std::vector<std::string> transportMessages() const
    {
        std::vector<std::string> result;
        for (const auto &frame : frames)
            if (frame.value("kind", "") == "transport_error")
                result.push_back(frame.at("payload").at("message"));
        return result;
    }

    std::vector<qint64> seqs() const
    {
        std::vector<qint64> result;
        for (const auto &frame : frames)
            if (frame.contains("seq"))
                result.push_back(frame.at("seq").get<qint64>());
        return result;
    }

    FakePlatform platform;
    std::unique_ptr<RealtimeSubscription> subscription;
    std::vector<Json> frames;
    std::vector<std::chrono::milliseconds> delays;
    bool holdBackoff = false;
    bool refuseToken = false;
    bool failHandler = false;
    // The handler waits on the first frame until released, as it does for a long project call.
    bool holdHandler = false;
    CancelSource releaseHandler;
    bool holdHandlerUntilStopped = false;
    bool handlerStopped = false;
    bool holdTokenRenewal = false;
    int tokenRequests = 0;
};

QString errorOf(QCoro::Task<void> task)
{
    try {
        awaitFor(std::move(task));
    } catch (const std::exception &e) {
        return errorDescription(e);
    }
    return QStringLiteral("(no error)");
}

TEST_F(SubscriptionFixture, HandshakeOffersBothSubprotocolsAndStartsTheSubscription)
{
    platform.beforeStartAck = {{{"type", "ka"}}, data(chunks::frame(1)), {{"type", "connection_ack"}}};
    awaitFor(connect());
    auto &socket = platform.last();
    EXPECT_EQ(socket.url.toString(), "wss://api.example.test:8443/graphql/realtime");
    ASSERT_EQ(socket.subprotocols.size(), 2);
    EXPECT_EQ(socket.subprotocols[0], "graphql-ws");
    EXPECT_EQ(FakePlatform::tokenOf(socket), "token-0");
    const QByteArray header = socket.subprotocols[1].mid(7).toLatin1();
    EXPECT_EQ(json::parse(QByteArray::fromBase64(header, QByteArray::Base64UrlEncoding)).at("host"),
              "api.example.test");

    // connection_init, the start, and the start again for the repeated acknowledgement.
    ASSERT_EQ(socket.sent.size(), 3u);
    EXPECT_EQ(socket.sent[0], (Json{{"type", "connection_init"}}));
    EXPECT_EQ(socket.sent[1].at("type"), "start");
    EXPECT_EQ(socket.sent[1].at("id").get<std::string>(), subscription->subscriptionID().toStdString());
    EXPECT_EQ(socket.sent[1].at("payload").at("extensions").at("authorization").at("Authorization"), "token-0");
    EXPECT_EQ(socket.sent[2], socket.sent[1]);

    // The frame that came before "start_ack" belonged to the handshake and is not delivered.
    socket.deliver(data(chunks::frame(2)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }));
    EXPECT_EQ(seqs(), (std::vector<qint64>{2}));
    // The second "start_ack", answering the repeated start, came after the handshake.
    EXPECT_EQ(subscription->counters().observedMessages, 2);
}

TEST_F(SubscriptionFixture, EmptyTenantStopsTheRunningSubscriptionAndOpensNothing)
{
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return subscription->counters().acceptedFrames == 1; }));
    auto receiver = subscription->receiver();

    EXPECT_EQ(errorOf(connect(configuration(QString()))), "Select an authenticated workspace.");
    EXPECT_EQ(platform.sockets.size(), 1u);
    EXPECT_EQ(platform.last().cancelledWith, 1001);
    EXPECT_TRUE(waitUntil([&] { return receiver.isFinished(); }));
    EXPECT_EQ(subscription->counters().acceptedFrames, 0);
    EXPECT_EQ(subscription->counters().observedMessages, 0);
}

TEST_F(SubscriptionFixture, EndpointWithoutHostIsRefused)
{
    auto config = configuration();
    config.graphQLEndpoint = QUrl(QStringLiteral("file:///graphql"));
    EXPECT_EQ(errorOf(connect(config)), "Select an authenticated workspace.");
    EXPECT_TRUE(platform.sockets.empty());
}

TEST_F(SubscriptionFixture, RefusedHandshakeFailsTheConnect)
{
    platform.handshake = FakePlatform::Handshake::Refuse;
    EXPECT_EQ(errorOf(connect()), "Realtime subscription refused.");
    EXPECT_EQ(platform.last().cancelledWith, 1001);
    EXPECT_FALSE(subscription->receiver().isValid());
}

TEST_F(SubscriptionFixture, SilentPlatformIsCutOffByTheWatchdogWithADeadlineNotACancellation)
{
    platform.handshake = FakePlatform::Handshake::Silent;
    EXPECT_THROW(awaitFor(connect()), DeadlineError);
    EXPECT_EQ(errorOf(connect()), "The request timed out.");
    EXPECT_EQ(platform.last().cancelledWith, 1001);
    EXPECT_EQ(subscription->state(), RealtimeSubscription::Stopped);
}

TEST_F(SubscriptionFixture, StateFollowsHandshakesFailuresAndTheStop)
{
    std::vector<RealtimeSubscription::State> states;
    // The subscription outlives this body and announces its stop when the fixture ends it.
    QObject recording;
    QObject::connect(subscription.get(), &RealtimeSubscription::stateChanged, &recording,
                     [&] { states.push_back(subscription->state()); });
    using S = RealtimeSubscription;
    EXPECT_EQ(subscription->state(), S::Stopped);

    platform.handshake = FakePlatform::Handshake::Refuse;
    EXPECT_EQ(errorOf(connect()), "Realtime subscription refused.");
    EXPECT_EQ(states, (std::vector<S::State>{S::Connecting, S::Stopped}));

    states.clear();
    platform.handshake = FakePlatform::Handshake::Accept;
    holdBackoff = true;
    awaitFor(connect());
    EXPECT_EQ(states, (std::vector<S::State>{S::Connecting, S::Streaming}));
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return delays.size() == 1; }));
    EXPECT_EQ(subscription->state(), S::WaitingToReconnect);
    subscription->disconnect();
    EXPECT_EQ(states, (std::vector<S::State>{S::Connecting, S::Streaming, S::WaitingToReconnect, S::Stopped}));

    states.clear();
    holdBackoff = false;
    awaitFor(connect());
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return states.size() == 5; }));
    EXPECT_EQ(states,
              (std::vector<S::State>{S::Connecting, S::Streaming, S::WaitingToReconnect, S::Connecting, S::Streaming}));
}

// A half-open connection delivers nothing at all, keep-alives included.
TEST_F(SubscriptionFixture, SilenceLongerThanTheConnectionTimeoutIsADrop)
{
    platform.ackPayload = {{"connectionTimeoutMs", 30}};
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return platform.sockets.size() >= 2 && platform.sockets[1]->sent.size() >= 2; }));
    subscription->disconnect();
    EXPECT_EQ(seqs(), (std::vector<qint64>{1}));
    const auto messages = transportMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "Reconnecting: " + RealtimeSubscription::silenceSentence().toStdString());
    EXPECT_EQ(platform.sockets[0]->cancelledWith, 1001);
    EXPECT_EQ(delays[0], std::chrono::seconds(2));
    // The back-off ends in a fresh handshake with a fresh token, as after any drop.
    EXPECT_EQ(FakePlatform::tokenOf(*platform.sockets[1]), "token-1");
}

TEST_F(SubscriptionFixture, DisconnectCancelsALongHandlerAndATokenRenewal)
{
    holdHandlerUntilStopped = true;
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }));
    auto receiver = subscription->receiver();
    subscription->disconnect();
    ASSERT_TRUE(waitUntil([&] { return receiver.isFinished(); }));
    EXPECT_TRUE(handlerStopped);

    holdHandlerUntilStopped = false;
    holdTokenRenewal = true;
    awaitFor(connect());
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return tokenRequests == 1; }));
    receiver = subscription->receiver();
    subscription->disconnect();
    ASSERT_TRUE(waitUntil([&] { return receiver.isFinished(); }));
    EXPECT_EQ(platform.sockets.size(), 2u);
}

TEST_F(SubscriptionFixture, FramesArriveInOrderOnceWithRejectsCounted)
{
    awaitFor(connect());
    auto &socket = platform.last();
    socket.deliver(data(chunks::frame(1)));
    socket.deliver({{"type", "ka"}});
    socket.deliver(data(chunks::frame(1)));
    socket.deliver(data(chunks::frame(2, "message", 4, "turn-1", "prj-other")));
    socket.deliver(data(chunks::frame(3, "message", 4, "turn-1", "prj-1", "tenant-other")));
    const Json whole = chunks::frame(4, "message", 30000);
    auto parts = chunks::split(whole, "c4");
    socket.deliver(data(parts[2]));
    socket.deliver(data(parts[0]));
    socket.deliver(data(parts[0]));
    socket.deliver(data(parts[1]));
    socket.deliver(data(parts[1]));
    socket.deliverBytes(json::dump(data(chunks::frame(5))), true);
    socket.deliver(data(chunks::frame(6)));
    ASSERT_TRUE(waitUntil([&] { return subscription->counters().observedMessages == 12; }));
    EXPECT_EQ(seqs(), (std::vector<qint64>{1, 4, 5, 6}));
    EXPECT_EQ(frames[1], whole);
    const auto &counters = subscription->counters();
    EXPECT_EQ(counters.observedDeliveries, 11);
    EXPECT_EQ(counters.acceptedFrames, 4);
    EXPECT_EQ(counters.rejectedIdentities, 2);
    EXPECT_EQ(counters.reconnects, 0);
    EXPECT_EQ(platform.sockets.size(), 1u);
}

struct FailureCase
{
    const char *name;
    std::function<void(FakePlatform::Socket &)> fault;
    const char *message;
};

class SubscriptionFailure : public SubscriptionFixture, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(SubscriptionFailure, ReconnectsWithAFreshTokenAndGoesOnWithoutDuplicates)
{
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }));
    GetParam().fault(platform.last());
    ASSERT_TRUE(waitUntil([&] { return platform.sockets.size() == 2 && subscription->counters().reconnects == 1; }));
    EXPECT_EQ(platform.sockets[0]->cancelledWith, 1001);
    EXPECT_EQ(transportMessages(), (std::vector<std::string>{GetParam().message}));
    const Json &synthetic = frames.back();
    EXPECT_EQ(synthetic.at("sessionId"), "prj-1");
    EXPECT_EQ(synthetic.at("tenantId"), "tenant-1");
    EXPECT_FALSE(synthetic.contains("seq") || synthetic.contains("turnId") || synthetic.contains("v"));
    EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(2)}));
    EXPECT_EQ(FakePlatform::tokenOf(platform.last()), "token-1");

    // The platform resends what it had sent; only the new frame is handed on.
    ASSERT_TRUE(waitForStreaming(2));
    platform.last().deliver(data(chunks::frame(1)));
    platform.last().deliver(data(chunks::frame(2)));
    ASSERT_TRUE(waitUntil([&] { return subscription->counters().observedMessages >= 3; }));
    EXPECT_EQ(seqs(), (std::vector<qint64>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SubscriptionFailure,
    ::testing::Values(
        FailureCase{"ErrorMessage",
                    [](auto &s) {
                        s.deliver({{"type", "error"}});
                    },
                    "Reconnecting: Realtime delivery failed."},
        FailureCase{"DroppedConnection", [](auto &s) { s.drop(); }, "Reconnecting: The realtime connection was lost."},
        FailureCase{"OversizeMessage",
                    [](auto &s) { s.deliverBytes(QByteArray(realtime::kMaxMessageBytes + 1, ' '), false); },
                    "Reconnecting: Invalid realtime frame."},
        FailureCase{"NotJson", [](auto &s) { s.deliverBytes("{", true); },
                    "Reconnecting: The data couldn't be read because it isn't in the correct format."},
        FailureCase{"PayloadTextNotJson",
                    [](auto &s) {
                        auto frame = chunks::frame(7);
                        frame["payload"] = "not json";
                        s.deliver(data(frame));
                    },
                    "Reconnecting: The data couldn't be read because it isn't in the correct format."},
        FailureCase{"ReassemblyError",
                    [](auto &s) {
                        auto chunk = chunks::split(chunks::frame(7), "x")[0];
                        chunk["payload"]["encoding"] = "hex";
                        s.deliver(data(chunk));
                    },
                    "Reconnecting: Invalid AppSync frame chunk."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SubscriptionFixture, HandlerFailureReconnectsAndTheFrameIsDeliveredAgain)
{
    awaitFor(connect());
    failHandler = true;
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitForStreaming(2));
    EXPECT_EQ(transportMessages(), (std::vector<std::string>{"Reconnecting: The frame could not be handled."}));
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 3; }));
    EXPECT_EQ(seqs(), (std::vector<qint64>{1, 1}));
}

TEST_F(SubscriptionFixture, InboxOverflowDeliversWhatWasQueuedAndReconnects)
{
    holdHandler = true;
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(1)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }));
    // One more than the inbox holds arrives while the handler is busy.
    for (qint64 seq = 2; seq <= RealtimeInbox::kDefaultMaxMessages + 2; ++seq)
        platform.last().deliver(data(chunks::frame(seq)));
    releaseHandler.cancel();
    ASSERT_TRUE(waitUntil([&] { return platform.sockets.size() == 2; }));
    const auto delivered = seqs();
    ASSERT_EQ(delivered.size(), std::size_t(RealtimeInbox::kDefaultMaxMessages + 1));
    EXPECT_EQ(delivered.back(), RealtimeInbox::kDefaultMaxMessages + 1);
    EXPECT_EQ(transportMessages(),
              (std::vector<std::string>{"Reconnecting: " + RealtimeInbox::overflowSentence().toStdString()}));
}

TEST_F(SubscriptionFixture, FailuresInARowWaitLongerEachTime)
{
    awaitFor(connect());
    platform.handshake = FakePlatform::Handshake::Refuse;
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return subscription->counters().reconnects >= 6; }));
    subscription->disconnect();
    EXPECT_EQ(std::vector<std::chrono::milliseconds>(delays.begin(), delays.begin() + 6),
              (std::vector<std::chrono::milliseconds>{std::chrono::seconds(2), std::chrono::seconds(4),
                                                      std::chrono::seconds(8), std::chrono::seconds(16),
                                                      std::chrono::seconds(30), std::chrono::seconds(30)}));
    const auto messages = transportMessages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Reconnecting: Realtime subscription refused.");
    for (const auto &socket : platform.sockets)
        EXPECT_EQ(socket->cancelledWith, 1001);
}

TEST_F(SubscriptionFixture, RefusedTokenCountsAsTheNextFailure)
{
    awaitFor(connect());
    refuseToken = true;
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return subscription->counters().reconnects >= 2; }));
    subscription->disconnect();
    EXPECT_EQ(transportMessages()[1], "Reconnecting: Sign in again.");
    EXPECT_EQ(delays[1], std::chrono::seconds(4));
    EXPECT_EQ(platform.sockets.size(), 1u);
}

TEST_F(SubscriptionFixture, DisconnectDuringTheWaitEndsAtOnceWithoutAnotherFrame)
{
    holdBackoff = true;
    awaitFor(connect());
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return delays.size() == 1; }));
    auto receiver = subscription->receiver();
    subscription->disconnect();
    EXPECT_TRUE(waitUntil([&] { return receiver.isFinished(); }, std::chrono::milliseconds(500)));
    EXPECT_EQ(transportMessages().size(), 1u);
    EXPECT_EQ(tokenRequests, 0);
    EXPECT_EQ(platform.sockets.size(), 1u);
}

TEST_F(SubscriptionFixture, DisconnectWhileStreamingSendsNoFrame)
{
    awaitFor(connect());
    auto receiver = subscription->receiver();
    subscription->disconnect();
    EXPECT_TRUE(waitUntil([&] { return receiver.isFinished(); }));
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(platform.last().cancelledWith, 1001);
    EXPECT_EQ(subscription->counters().reconnects, 0);
}

TEST_F(SubscriptionFixture, DestroyingTheSubscriptionStopsItsTask)
{
    awaitFor(connect());
    auto receiver = subscription->receiver();
    subscription.reset();
    EXPECT_TRUE(waitUntil([&] { return receiver.isFinished(); }));
    EXPECT_TRUE(frames.empty());
}
} // namespace

namespace
{
TEST_F(SubscriptionFixture, RestartFromAFinishedWaiterDuringDisconnectIsNotThrownAway)
{
    holdBackoff = true;
    awaitFor(connect());
    platform.last().drop();
    ASSERT_TRUE(waitUntil([&] { return delays.size() == 1; }));

    // Whoever learns that the receiver ended starts the subscription again.
    bool restarted = false;
    QString restartError;
    using Self = std::remove_pointer_t<decltype(this)>;
    auto restart = [](Self *fixture, Job receiver, bool *done, QString *error) -> QCoro::Task<void> {
        co_await receiver.finished();
        try {
            co_await fixture->connect();
        } catch (const std::exception &e) {
            *error = errorDescription(e);
        }
        *done = true;
    };
    restart(this, subscription->receiver(), &restarted, &restartError);
    subscription->disconnect();
    ASSERT_TRUE(waitUntil([&] { return restarted; }));
    EXPECT_EQ(restartError, QString());
    ASSERT_EQ(platform.sockets.size(), 2u);
    EXPECT_EQ(platform.sockets[1]->cancelledWith, 0);
    auto second = subscription->receiver();
    ASSERT_TRUE(second.isValid());

    // The restarted subscription is the one the owner holds: stopping it stops everything.
    subscription->disconnect();
    ASSERT_TRUE(waitUntil([&] { return second.isFinished(); }));
    const std::size_t before = frames.size();
    for (const auto &socket : platform.sockets) {
        EXPECT_EQ(socket->cancelledWith, 1001);
        socket->deliver(data(chunks::frame(99)));
    }
    holdBackoff = false;
    // A later subscription runs and delivers, so anything left of the old ones would have had its
    // turn by the time its frame arrives.
    awaitFor(connect());
    platform.last().deliver(data(chunks::frame(100)));
    ASSERT_TRUE(waitUntil([&] { return frames.size() > before; }));
    EXPECT_EQ(seqs().back(), 100);
    EXPECT_EQ(frames.size(), before + 1);
    EXPECT_EQ(platform.sockets.size(), 3u);
}
} // namespace
