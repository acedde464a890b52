// The stand-in's realtime service as a plain WebSocket client following the public protocol meets
// it ("graphql-ws"): authorization, the acknowledgement and keep-alives, and subscriptions kept
// apart by their ids.

#include "StandInTestBase.h"

#include "standin/RealtimeService.h"

#include "support/TestSupport.h"

#include <QSslConfiguration>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>

#include <gtest/gtest.h>

namespace
{
const char *kHost = "api.tavrilo.example";
const char *kSubscription =
    "subscription NativeFrames($sessionId: ID!, $tenantId: String!) { onSessionFrame(sessionId: $sessionId, "
    "tenantId: $tenantId) { v ts turnId seq sessionId tenantId agent kind payload } }";

QByteArray authorizationHeader(const std::string &token)
{
    return json::dump(Json{{"Authorization", token}, {"host", kHost}});
}

QString headerProtocol(const std::string &token)
{
    return QStringLiteral("header-") + QString::fromLatin1(authorizationHeader(token).toBase64(
                                           QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

Json startMessage(const std::string &id, const std::string &session)
{
    const Json data{{"query", kSubscription}, {"variables", {{"sessionId", session}, {"tenantId", "tenant-7"}}}};
    return Json{{"id", id},
                {"type", "start"},
                {"payload",
                 {{"data", json::dump(data).toStdString()},
                  {"extensions", {{"authorization", {{"Authorization", "tok"}, {"host", kHost}}}}}}}};
}

// The "type" of a message; empty for one that is no JSON object.
std::string typeOf(const Json &message)
{
    return message.is_object() ? message.value("type", "") : std::string();
}

// One WebSocket through the stand-in's proxy, keeping every message it receives.
class RealtimeClient
{
public:
    explicit RealtimeClient(const StandIn &standIn)
    {
        m_socket.setProxy(standIn.proxy());
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(standIn.caPath());
        m_socket.setSslConfiguration(ssl);
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, &m_socket, [this](const QString &text) {
            const QByteArray bytes = text.toUtf8();
            messages.push_back(json::tryParse(bytes).value_or(Json()));
            sizes.push_back(bytes.size());
        });
    }

    // Opens `query` (raw, as a browser client writes it) on the realtime URL, offering `protocols`
    // after "graphql-ws".
    bool open(const QByteArray &query, const QStringList &protocols)
    {
        QWebSocketHandshakeOptions options;
        options.setSubprotocols(QStringList{QStringLiteral("graphql-ws")} + protocols);
        m_socket.open(QNetworkRequest(QUrl::fromEncoded("wss://" + QByteArray(kHost) + "/graphql/realtime" + query)),
                      options);
        return testsupport::waitUntil([&] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }

    void send(const Json &message) { m_socket.sendTextMessage(QString::fromUtf8(json::dump(message))); }

    // The first message from index `from` on whose "type" is `type`, waiting for it.
    std::optional<std::size_t> waitFor(const char *type, std::size_t from = 0,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::optional<std::size_t> found;
        testsupport::waitUntil(
            [&] {
                for (std::size_t i = from; i < messages.size() && !found; ++i)
                    if (typeOf(messages[i]) == type)
                        found = i;
                return found.has_value();
            },
            timeout);
        return found;
    }

    std::size_t countOf(const char *type) const
    {
        return std::size_t(
            std::count_if(messages.begin(), messages.end(), [&](const Json &m) { return typeOf(m) == type; }));
    }

    bool waitClosed()
    {
        return testsupport::waitUntil([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }

    std::vector<Json> messages;
    std::vector<qsizetype> sizes; // of each message, in bytes

private:
    QWebSocket m_socket;
};

class RealtimeService : public StandInTest
{
protected:
    // Makes `step` the realtime default (when given), opens an authorized connection and sends
    // "connection_init": the index of the "connection_ack", none when it does not come.
    static std::optional<std::size_t> handshake(RealtimeClient &client, const std::optional<Json> &step = std::nullopt)
    {
        if (step)
            standIn().setScenario({{"realtime", {{"*", {{"default", *step}}}}}});
        if (!client.open({}, {headerProtocol("t")}))
            return std::nullopt;
        client.send({{"type", "connection_init"}});
        return client.waitFor("connection_ack");
    }
};

// A connection carries its authorization in the "header-" sub-protocol or in the "header" and
// "payload" query parameters; without it the public service answers "connection_error".
struct AuthorizationCase
{
    const char *name;
    QByteArray query;
    QStringList protocols;
    const char *token; // the token the scenario matched on, or null for a refused connection
};

class RealtimeAuthorization : public RealtimeService, public ::testing::WithParamInterface<AuthorizationCase>
{
};

TEST_P(RealtimeAuthorization, IsReadFromEitherPlaceOrTheConnectionIsRefused)
{
    const AuthorizationCase &c = GetParam();
    // The scenario answers the right token with a timeout of its own, so the ack shows what it matched.
    standIn().setScenario(
        {{"realtime",
          {{"*", {{"default", {{"match", {{"token", c.token ? c.token : "-"}}}, {"connectionTimeoutMs", 1234}}}}}}}});
    RealtimeClient client(standIn());
    ASSERT_TRUE(client.open(c.query, c.protocols));
    client.send({{"type", "connection_init"}});
    if (!c.token) {
        const auto refused = client.waitFor("connection_error");
        ASSERT_TRUE(refused);
        const Json &errors = client.messages[*refused]["payload"]["errors"];
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0]["errorType"], "UnauthorizedException");
        EXPECT_EQ(errors[0]["errorCode"], 401);
        EXPECT_FALSE(errors[0].value("message", "").empty());
        EXPECT_TRUE(client.waitClosed());
        EXPECT_EQ(client.countOf("connection_ack"), 0u);
        return;
    }
    const auto ack = client.waitFor("connection_ack");
    ASSERT_TRUE(ack);
    EXPECT_EQ(client.messages[*ack]["payload"]["connectionTimeoutMs"], 1234);
    EXPECT_EQ(client.countOf("connection_error"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealtimeAuthorization,
    ::testing::Values(AuthorizationCase{"SubProtocol", "", {headerProtocol("sub-token")}, "sub-token"},
                      // As browser clients write it: standard Base64, "+", "/" and "=" unescaped.
                      AuthorizationCase{"QueryParameters",
                                        "?header=" + authorizationHeader("query>token?").toBase64() + "&payload=e30=",
                                        {},
                                        "query>token?"},
                      AuthorizationCase{"None", "", {}, nullptr},
                      AuthorizationCase{"SubProtocolWithoutToken", "", {QStringLiteral("header-e30")}, nullptr},
                      AuthorizationCase{
                          "QueryWithoutPayload", "?header=" + authorizationHeader("t").toBase64(), {}, nullptr},
                      AuthorizationCase{"QueryNotBase64", "?header=%%%&payload=e30=", {}, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RealtimeService, ScriptedConnectionErrorHasThePublicShape)
{
    standIn().setScenario({{"realtime", {{"*", {{"default", {{"handshake", "connection_error"}}}}}}}});
    RealtimeClient client(standIn());
    ASSERT_TRUE(client.open({}, {headerProtocol("t")}));
    client.send({{"type", "connection_init"}});
    const auto refused = client.waitFor("connection_error");
    ASSERT_TRUE(refused);
    const Json &error = client.messages[*refused]["payload"]["errors"][0];
    EXPECT_EQ(error["errorType"], "UnauthorizedException");
    EXPECT_EQ(error["errorCode"], 401);
    EXPECT_TRUE(error["message"].is_string());
}

// "ka" messages come by default, right after "connection_ack" and then at a fifth of the announced
// timeout (at most a minute); a scenario may set their period or silence them.
struct KeepAliveCase
{
    const char *name;
    Json step;
    qint64 timeout;
    bool keptAlive;
};

class RealtimeKeepAlive : public RealtimeService, public ::testing::WithParamInterface<KeepAliveCase>
{
};

TEST_P(RealtimeKeepAlive, FollowsTheStep)
{
    Json step = GetParam().step;
    // A frame well after the acknowledgement: a known later event to look for "ka" messages before.
    step["send"] = {{{"frame", {{"seq", 1}}}, {"delayMs", 400}}};
    RealtimeClient client(standIn());
    const auto ack = handshake(client, step);
    ASSERT_TRUE(ack);
    EXPECT_EQ(client.messages[*ack]["payload"]["connectionTimeoutMs"], GetParam().timeout);
    client.send(startMessage("s1", "session-1"));
    ASSERT_TRUE(client.waitFor("data"));
    if (!GetParam().keptAlive) {
        EXPECT_EQ(client.countOf("ka"), 0u);
        return;
    }
    ASSERT_GT(client.countOf("ka"), 0u);
    EXPECT_EQ(client.messages.at(*ack + 1)["type"], "ka");
}

INSTANTIATE_TEST_SUITE_P(Steps, RealtimeKeepAlive,
                         ::testing::Values(KeepAliveCase{"Default", Json::object(), 300000, true},
                                           KeepAliveCase{"ShortTimeout", {{"connectionTimeoutMs", 500}}, 500, true},
                                           KeepAliveCase{"Silenced", {{"keepAliveMs", 0}}, 300000, false},
                                           KeepAliveCase{"SilencedWithAShortTimeout",
                                                         {{"keepAliveMs", 0}, {"connectionTimeoutMs", 200}},
                                                         200,
                                                         false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(RealtimeService, KeepAlivesRepeatAtAFifthOfTheAnnouncedTimeout)
{
    RealtimeClient client(standIn());
    ASSERT_TRUE(handshake(client, Json{{"connectionTimeoutMs", 250}}));
    EXPECT_TRUE(testsupport::waitUntil([&] { return client.countOf("ka") >= 4; }));
}

// Two subscriptions on one connection each get their own frames under their own ids; "stop" is
// answered with "complete" and ends that subscription's delivery alone.
TEST_F(RealtimeService, SubscriptionsAreKeptApartAndStoppedByTheirIds)
{
    Json send = Json::array();
    for (int seq = 1; seq <= 4; ++seq)
        send.push_back({{"frame", {{"seq", seq}, {"turnId", "t"}}}, {"delayMs", 100}});
    RealtimeClient client(standIn());
    ASSERT_TRUE(handshake(client, Json{{"keepAliveMs", 0}, {"send", send}}));
    client.send(startMessage("A", "session-a"));
    client.send(startMessage("B", "session-b"));
    ASSERT_TRUE(client.waitFor("data"));

    client.send({{"type", "stop"}, {"id", "A"}});
    const auto complete = client.waitFor("complete");
    ASSERT_TRUE(complete);
    EXPECT_EQ(client.messages[*complete]["id"], "A");
    auto framesOf = [&](const std::string &id, std::size_t from = 0) {
        std::vector<Json> frames;
        for (std::size_t i = from; i < client.messages.size(); ++i)
            if (typeOf(client.messages[i]) == "data" && client.messages[i]["id"] == id)
                frames.push_back(client.messages[i]["payload"]["data"]["onSessionFrame"]);
        return frames;
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return framesOf("B").size() == 4; }));
    EXPECT_TRUE(framesOf("A", *complete).empty());
    for (const auto &frame : framesOf("A"))
        EXPECT_EQ(frame["sessionId"], "session-a");
    for (const auto &frame : framesOf("B"))
        EXPECT_EQ(frame["sessionId"], "session-b");

    // A stop for an id that never started is answered all the same.
    client.send({{"type", "stop"}, {"id", "never"}});
    ASSERT_TRUE(client.waitFor("complete", *complete + 1));
    const auto stops = entriesOfKind("realtime");
    EXPECT_EQ(std::count_if(stops.begin(), stops.end(), [](const Json &e) { return e["event"] == "stop"; }), 2);
}

TEST_F(RealtimeService, RefusesSubscriptionsPastTheBoundOfOneConnection)
{
    RealtimeClient client(standIn());
    ASSERT_TRUE(handshake(client));
    for (int i = 0; i <= 100; ++i)
        client.send(startMessage("s" + std::to_string(i), "session"));
    const auto error = client.waitFor("error");
    ASSERT_TRUE(error);
    EXPECT_EQ(client.messages[*error]["id"], "s100");
    EXPECT_EQ(client.messages[*error]["payload"]["errors"][0]["errorType"], "MaxSubscriptionsReachedError");
    EXPECT_EQ(client.countOf("start_ack"), 100u);
}

// The bound of a step counts at least what the step really puts on the wire, whatever shapes its
// messages take.
TEST_F(RealtimeService, StepBudgetCountsAtLeastWhatIsSent)
{
    const Json quoted{{"text", std::string(300, '"')}, {"control", std::string(40, '\x01')}};
    const Json step{{"keepAliveMs", 0},
                    {"beforeAck", {{{"message", {{"type", "note"}}}, {"repeat", 3}}}},
                    {"send",
                     {{{"frame", {{"seq", 1}, {"turnId", "t"}, {"payload", quoted}}}, {"textPayload", true}},
                      {{"frame", {{"seq", 2}, {"turnId", "t"}, {"payload", quoted}}},
                       {"textPayload", true},
                       {"chunked", {{"id", "c"}, {"sliceBytes", 7}, {"duplicate", true}}}},
                      {{"frame", {{"seq", 3}}}, {"padTo", 5000}, {"repeat", 4}},
                      {{"text", "not json"}, {"repeat", 2}}}}};
    RealtimeClient client(standIn());
    const auto ack = handshake(client, step);
    ASSERT_TRUE(ack);
    const std::size_t first = client.messages.size();
    client.send(startMessage("subscription-1", "session-1"));
    ASSERT_TRUE(standIn().waitForEntry(m_cursor,
                                       [](const Json &e) { return e["kind"] == "realtime" && e["event"] == "sent"; }));
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return client.messages.size() > first && client.messages.back().is_null(); }));

    double bytes = 0;
    double messages = 0;
    for (std::size_t i = first; i < client.messages.size(); ++i) {
        if (typeOf(client.messages[i]) == "start_ack")
            continue;
        bytes += double(client.sizes[i]);
        messages += 1;
    }
    const auto cost = realtimeservice::costOf(step, qsizetype(std::string("subscription-1session-1tenant-7").size()));
    EXPECT_GT(messages, 20);
    EXPECT_LE(messages, cost.messages);
    EXPECT_LE(bytes, cost.bytes);
}
} // namespace
