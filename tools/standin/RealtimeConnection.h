#pragma once

#include "core/Json.h"

#include <QObject>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <map>
#include <memory>

class LiveSessions;
struct ServiceContext;

// One client of the realtime WebSocket: answers its handshake, then plays the scenario step
// chosen for the connection to each of its subscriptions, each under its own id. Owns the socket;
// deletes itself when the socket goes.
class RealtimeConnection : public QObject
{
    Q_OBJECT

public:
    RealtimeConnection(QWebSocket *socket, ServiceContext &context, std::shared_ptr<const LiveSessions> sessions);
    ~RealtimeConnection() override;

private:
    struct Subscription
    {
        std::string id;
        std::string sessionID;
        std::string tenantID;
        std::deque<Json> actions; // still to be played
        QTimer pace;              // the delay before the next action
    };

    void received(const QByteArray &bytes);
    void acknowledge();
    // Answers with "connection_error" and closes: the connection serves nothing.
    void refuseConnection(const char *message);
    void subscribe(const Json &start);
    void unsubscribe(const Json &stop);
    // An "error" message for the subscription `id` (none when empty).
    void refuse(const std::string &id, const char *errorType, const QString &why);
    void sendNext(Subscription &subscription);
    // The messages one "send" action puts on the wire for `subscription`, in order.
    std::vector<std::pair<QByteArray, bool>> messagesOf(const Json &action, const Subscription &subscription) const;
    void sendMessage(const QByteArray &bytes, bool binary);
    // Nothing more goes out: after a scripted drop or close, or a refused connection.
    void end();
    void log(Json entry);

    QWebSocket *m_socket;
    ServiceContext &m_context;
    std::shared_ptr<const LiveSessions> m_sessions;
    Json m_step = Json::object();
    bool m_authorized = false;
    bool m_ended = false;
    std::map<std::string, std::unique_ptr<Subscription>> m_subscriptions; // by id
    double m_plannedBytes = 0; // the scripted output of the subscriptions so far, at most
    QTimer m_keepAlive;
};
