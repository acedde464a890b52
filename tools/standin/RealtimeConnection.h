#pragma once

#include "core/Json.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>

#include <deque>

struct ServiceContext;

// One client of the realtime WebSocket: answers its handshake, then plays the scenario step
// chosen for its subscription. Owns the socket; deletes itself when the socket goes.
class RealtimeConnection : public QObject
{
    Q_OBJECT

public:
    RealtimeConnection(QWebSocket *socket, ServiceContext &context);

private:
    void received(const QByteArray &bytes);
    void subscribe(const Json &start);
    void refuse(const char *type, const QString &why);
    void sendNext();
    // The messages one "send" action puts on the wire, in order.
    std::vector<std::pair<QByteArray, bool>> messagesOf(const Json &action) const;
    void sendMessage(const QByteArray &bytes, bool binary);
    void dropWhenFlushed();
    void log(Json entry);

    QWebSocket *m_socket;
    ServiceContext &m_context;
    Json m_step = Json::object();
    std::string m_subscriptionID;
    std::string m_sessionID;
    std::string m_tenantID;
    bool m_subscribed = false;
    std::deque<Json> m_actions;
    QTimer m_keepAlive;
    QTimer m_pace;
};
