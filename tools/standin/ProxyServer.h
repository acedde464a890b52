#pragma once

#include "standin/EventLog.h"
#include "standin/Scenario.h"
#include "standin/ServiceRegistry.h"
#include "standin/TestAuthority.h"

#include <QHash>
#include <QTcpServer>

#include <chrono>

class QWebSocketServer;

// The stand-in's one listening socket on the loopback interface: an HTTP CONNECT proxy for the
// platform's hosts, whose tunnels it ends itself with TLS, and the plain-HTTP control channel under
// "/_standin/". Each accepted connection is a ClientConnection.
class ProxyServer : public QTcpServer
{
    Q_OBJECT

public:
    ProxyServer(TestAuthority &authority, ServiceRegistry &registry, EventLog &log, QObject *parent = nullptr);
    ~ProxyServer() override;

    TestAuthority &authority() { return m_authority; }
    const ServiceRegistry &registry() const { return m_registry; }
    ServiceContext &context() { return m_context; }
    EventLog &log() { return m_log; }
    const Scenario &scenario() const { return m_scenario; }

    // Replaces the scenario when `document` is a valid one; otherwise keeps the current one and
    // says why in `error`. `source` names where it came from in the log.
    bool setScenario(const Json &document, const char *source, QString *error);

    // Hands a tunnel whose next request is a WebSocket upgrade to `route`'s WebSocket server.
    void upgradeToWebSocket(const ServiceRegistry::WebSocketRoute &route, QTcpSocket *socket);

    // How long a client may take to send one whole request (or to finish its TLS handshake) once it
    // has begun; 30 s unless set. Applies to connections accepted afterwards.
    std::chrono::milliseconds requestTimeout() const { return m_requestTimeout; }
    void setRequestTimeout(std::chrono::milliseconds timeout) { m_requestTimeout = timeout; }

    // Stops listening and closes every open connection.
    void shutdown();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    TestAuthority &m_authority;
    ServiceRegistry &m_registry;
    EventLog &m_log;
    Scenario m_scenario;
    ServiceContext m_context;
    QHash<QString, QWebSocketServer *> m_webSocketServers; // by route name, children of this
    std::chrono::milliseconds m_requestTimeout{30'000};
};
