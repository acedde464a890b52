#include "standin/ProxyServer.h"

#include "standin/ClientConnection.h"

#include <QSslSocket>
#include <QWebSocket>
#include <QWebSocketServer>

ProxyServer::ProxyServer(TestAuthority &authority, ServiceRegistry &registry, EventLog &log, QObject *parent)
    : QTcpServer(parent), m_authority(authority), m_registry(registry), m_log(log), m_context{log, m_scenario}
{
    for (const auto &route : m_registry.webSocketRoutes()) {
        auto *server = new QWebSocketServer(route.name, QWebSocketServer::NonSecureMode, this);
        server->setSupportedSubprotocols(route.subprotocols);
        // The registry is complete before the server exists, so its routes stay where they are.
        const ServiceRegistry::WebSocketRoute *entry = &route;
        connect(server, &QWebSocketServer::newConnection, this, [this, server, entry] {
            while (server->hasPendingConnections()) {
                QWebSocket *socket = server->nextPendingConnection();
                m_log.append({{"kind", "websocket"},
                              {"route", json::toStd(entry->name)},
                              {"url", json::toStd(socket->requestUrl().toString())},
                              {"subprotocol", json::toStd(socket->subprotocol())}});
                entry->accept(socket, m_context);
            }
        });
        m_webSocketServers.insert(route.name, server);
    }
}

ProxyServer::~ProxyServer() = default;

bool ProxyServer::setScenario(const Json &document, const char *source, QString *error)
{
    auto scenario = Scenario::fromJson(document, m_registry.scenarioSections(), error);
    if (!scenario) {
        m_log.append({{"kind", "scenario"}, {"source", source}, {"error", json::toStd(*error)}});
        return false;
    }
    m_scenario = std::move(*scenario);
    m_log.append({{"kind", "scenario"}, {"source", source}});
    return true;
}

void ProxyServer::upgradeToWebSocket(const ServiceRegistry::WebSocketRoute &route, QTcpSocket *socket)
{
    QWebSocketServer *server = m_webSocketServers.value(route.name);
    // The server owns the socket from here; a handshake it refuses closes the socket, and whatever
    // is left goes with the server.
    socket->setParent(server);
    server->handleConnection(socket);
}

void ProxyServer::shutdown()
{
    close();
    for (auto *connection : findChildren<ClientConnection *>(Qt::FindDirectChildrenOnly))
        delete connection;
    for (auto *server : std::as_const(m_webSocketServers))
        server->close();
    qDeleteAll(m_webSocketServers);
    m_webSocketServers.clear();
}

void ProxyServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    new ClientConnection(socket, this);
}
