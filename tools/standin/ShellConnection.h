#pragma once

#include "core/Json.h"

#include <QObject>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <memory>

struct BuildShells;
struct ServiceContext;

// One connection of the command channel to a granted shell: the connect status, the scripted
// actions of its step, the echo shell, and a log entry for what the client sends. Owns the socket;
// deletes itself when the socket goes.
class ShellConnection : public QObject
{
    Q_OBJECT

public:
    ShellConnection(QWebSocket *socket, ServiceContext &context, std::shared_ptr<BuildShells> shells);
    ~ShellConnection() override;

private:
    void received(const QByteArray &message);
    void playNext();
    void sendFrame(char channel, const QByteArray &payload);
    void sendStatus(Json status);
    void end();
    void log(Json entry);

    QWebSocket *m_socket;
    ServiceContext &m_context;
    std::shared_ptr<BuildShells> m_shells;
    QString m_shellID;
    Json m_step = Json::object();
    std::deque<Json> m_actions;
    QTimer m_pace;
    bool m_ended = false;
};
