// The service tables, in process: a route or a WebSocket service registered with one line is
// reached through the proxy over TLS, and an HTTPS route's answers follow the scenario's "https"
// section. The services here exist only in this test.

#include "StandInClient.h"

#include "standin/EventLog.h"
#include "standin/PlatformHosts.h"
#include "standin/ProxyServer.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"
#include "standin/Services.h"
#include "standin/TestAuthority.h"

#include "support/TestSupport.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>

#include <gtest/gtest.h>

namespace
{
QRegularExpression anchored(const char *pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)));
}

class ServiceFramework : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        m_authority = TestAuthority::open(m_dir.path(), &error);
        ASSERT_TRUE(m_authority) << error.toStdString();
        registerServices(m_registry);
        m_registry.addHttpsRoute({QStringLiteral("hello"), platformhosts::isSignInHost, "GET", anchored("/hello"),
                                  [](const HttpsExchange &exchange) {
                                      const Json view{{"query", json::toStd(exchange.request.query.toString())}};
                                      return scriptedstep::answer(
                                          exchange.context.scenario, "https", "hello", view, [] {
                                              Outcome outcome;
                                              outcome.response = HttpResponse::json(200, R"({"hello":true})");
                                              return outcome;
                                          });
                                  }});
        m_registry.addWebSocketRoute(
            {QStringLiteral("echo"),
             platformhosts::isRealtimeHost,
             anchored("(?:/.*)?/echo"),
             {QStringLiteral("graphql-ws")},
             [](QWebSocket *socket, ServiceContext &) {
                 QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                                  [socket](const QString &text) { socket->sendTextMessage(text); });
                 QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
             }});
        m_registry.addControlRoute(
            {"POST", QStringLiteral("/_standin/hello"), [](const HttpRequest &request, ServiceContext &context) {
                 context.log.append({{"kind", "hello"}, {"said", request.body.toStdString()}});
                 return HttpResponse::json(200, R"({"ok":true})");
             }});
        m_server = std::make_unique<ProxyServer>(*m_authority, m_registry, m_log);
        ASSERT_TRUE(m_server->listen(QHostAddress::LocalHost, 0));
    }

    QNetworkProxy proxy() const
    {
        return QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), m_server->serverPort());
    }

    // What the hub's network settings give its sockets: the proxy, and the authority trusted.
    void throughTheProxy(QWebSocket &socket) const
    {
        socket.setProxy(proxy());
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_authority->certificatePath());
        socket.setSslConfiguration(ssl);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TestAuthority> m_authority;
    ServiceRegistry m_registry;
    EventLog m_log{m_dir.filePath(QStringLiteral("log.jsonl"))};
    std::unique_ptr<ProxyServer> m_server;
};

TEST_F(ServiceFramework, HttpsRouteAnswersAndFollowsTheScenario)
{
    StandInClient client(proxy(), m_authority->certificatePath());
    const QUrl url(QStringLiteral("https://auth.tavrilo.example/hello?who=me"));
    const auto own = client.send(url);
    EXPECT_EQ(own.status, 200);
    EXPECT_EQ(own.body, R"({"hello":true})");

    // Only on its hosts: the same path on the API host is no route.
    EXPECT_EQ(client.send(QUrl(QStringLiteral("https://api.tavrilo.example/hello"))).status, 404);
    // The method is part of the route.
    EXPECT_EQ(client.send(url, QByteArray("{}")).status, 405);

    QString error;
    ASSERT_TRUE(m_server->setScenario(
        Json{{"https", {{"hello", {{"queue", {{{"match", {{"query", "who=you"}}}, {"status", 503}}}}}}}}}, "test",
        &error))
        << error.toStdString();
    EXPECT_EQ(client.send(url).status, 200);
    EXPECT_EQ(client.send(QUrl(QStringLiteral("https://auth.tavrilo.example/hello?who=you"))).status, 503);
}

TEST_F(ServiceFramework, ControlRouteIsReachedOnThePlainPort)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/_standin/hello").arg(m_server->serverPort()));
    const auto said = StandInClient::finish(manager.post(QNetworkRequest(url), QByteArray("now")));
    EXPECT_EQ(said.status, 200);
    EXPECT_EQ(said.body, R"({"ok":true})");
    EXPECT_EQ(StandInClient::finish(manager.get(QNetworkRequest(url))).status, 405);

    const Json entries = m_log.since(0);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [](const Json &e) { return e["kind"] == "hello" && e["said"] == "now"; }));
}

TEST_F(ServiceFramework, WebSocketUpgradeReachesItsServiceWithTheNegotiatedSubprotocol)
{
    QWebSocket socket;
    throughTheProxy(socket);
    QString echoed;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [&](const QString &text) { echoed = text; });

    QWebSocketHandshakeOptions options;
    options.setSubprotocols({QStringLiteral("graphql-ws"), QStringLiteral("header-e30")});
    socket.open(QNetworkRequest(QUrl(QStringLiteral("wss://api.tavrilo.example/graphql/echo"))), options);
    ASSERT_TRUE(testsupport::waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }))
        << socket.errorString().toStdString();
    EXPECT_EQ(socket.subprotocol(), QStringLiteral("graphql-ws"));

    socket.sendTextMessage(QStringLiteral(R"({"type":"connection_init"})"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !echoed.isEmpty(); }));
    EXPECT_EQ(echoed, QStringLiteral(R"({"type":"connection_init"})"));

    const Json entries = m_log.since(0);
    const auto upgraded =
        std::find_if(entries.begin(), entries.end(), [](const Json &e) { return e["kind"] == "websocket"; });
    ASSERT_NE(upgraded, entries.end());
    EXPECT_EQ((*upgraded)["route"], "echo");
    EXPECT_EQ((*upgraded)["subprotocol"], "graphql-ws");
    socket.close();
}

TEST_F(ServiceFramework, UpgradeWithoutAWebSocketRouteIsAnsweredLikeAnyMissingResource)
{
    QWebSocket socket;
    throughTheProxy(socket);
    bool failed = false;
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), &socket,
                     [&] { failed = true; });
    socket.open(QUrl(QStringLiteral("wss://auth.tavrilo.example/realtime")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return failed || socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_NE(socket.state(), QAbstractSocket::ConnectedState);
}

// A request that never arrives whole holds its connection only until the request timeout: a
// client that stops in a request's head or body is answered 408 and closed, one that stops in its
// TLS handshake is closed.
struct StalledCase
{
    const char *name;
    QByteArray sent;
    QByteArray answer; // the status line, or empty for a close without one
};

class StalledRequests : public ServiceFramework, public ::testing::WithParamInterface<StalledCase>
{
};

TEST_P(StalledRequests, AreTimedOut)
{
    m_server->setRequestTimeout(std::chrono::milliseconds(200));
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_server->serverPort());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write(GetParam().sent);
    QByteArray received;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    received += socket.readAll();
    // A CONNECT answered 200 before the handshake stalled: what follows it is the close.
    const QByteArray answer =
        received.startsWith("HTTP/1.1 200") ? received.mid(received.indexOf("\r\n\r\n") + 4) : received;
    EXPECT_EQ(answer.left(answer.indexOf("\r\n")), GetParam().answer);

    const Json entries = m_log.since(0);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const Json &e) { return e["kind"] == "timeout"; }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StalledRequests,
    ::testing::Values(StalledCase{"NothingSent", "", "HTTP/1.1 408 Request Timeout"},
                      StalledCase{"HeadUnfinished", "CONNECT api.tavrilo.example:443 HTTP/1.1\r\nHost: a",
                                  "HTTP/1.1 408 Request Timeout"},
                      StalledCase{"BodyUnfinished", "POST /_standin/scenario HTTP/1.1\r\nContent-Length: 10\r\n\r\n{",
                                  "HTTP/1.1 408 Request Timeout"},
                      StalledCase{"TlsHandshakeNeverBegun", "CONNECT api.tavrilo.example:443 HTTP/1.1\r\n\r\n", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServiceFramework, RequestUnfinishedInsideATunnelIsTimedOut)
{
    m_server->setRequestTimeout(std::chrono::milliseconds(200));
    QSslSocket socket;
    socket.setProxy(proxy());
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(m_authority->certificatePath());
    socket.setSslConfiguration(ssl);
    socket.connectToHostEncrypted(QStringLiteral("api.tavrilo.example"), 443);
    ASSERT_TRUE(testsupport::waitUntil([&] { return socket.isEncrypted(); })) << socket.errorString().toStdString();
    socket.write("POST /graphql HTTP/1.1\r\nHost: api.tavrilo.example\r\nContent-Le");
    QByteArray received;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_TRUE(received.startsWith("HTTP/1.1 408 ")) << received.toStdString();
}
} // namespace
