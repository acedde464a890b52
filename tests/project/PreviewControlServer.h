#pragma once

#include "LoopbackHttpServer.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QPointer>
#include <QTemporaryDir>

#include <functional>

// The stand-in for the user's preview control server: a loopback HTTP server that checks the bearer
// token of its control file and answers each action as the test says, and the control file under a
// data folder of its own (XDG_DATA_HOME points there while the server lives).
class PreviewControlServer
{
public:
    using Answer = std::function<QByteArray(const LoopbackHttpServer::Received &)>;

    PreviewControlServer()
        : m_server(
              [this](QTcpSocket *socket, const LoopbackHttpServer::Received &request) { receive(socket, request); })
    {
        m_previousDataHome = qgetenv("XDG_DATA_HOME");
        m_hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
        writeControl(R"({"url":")" + m_server.url(QString()).toString().toUtf8() +
                     R"(","token":"preview-token","pid":1})");
    }
    ~PreviewControlServer()
    {
        if (m_hadDataHome)
            qputenv("XDG_DATA_HOME", m_previousDataHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    QString controlPath() const { return m_dataHome.path() + QStringLiteral("/tavrilo-code/preview/control.json"); }
    void writeControl(const QByteArray &bytes) const
    {
        QFile::remove(controlPath());
        testsupport::writeFile(controlPath(), bytes);
    }
    QString url() const { return m_server.url(QString()).toString(); }

    // How the next actions are answered; by default 200 with {"ok":true}.
    void answerWith(Answer answer) { m_answer = std::move(answer); }
    // Holds every answer until release().
    void hold() { m_holding = true; }
    void release()
    {
        m_holding = false;
        for (const auto &[socket, request] : std::exchange(m_held, {}))
            if (socket)
                socket->write(respond(request));
    }
    const QList<LoopbackHttpServer::Received> &requests() const { return m_server.requests(); }

private:
    QByteArray respond(const LoopbackHttpServer::Received &request) const
    {
        if (request.path != "/act" || request.header("Authorization") != "Bearer preview-token")
            return LoopbackHttpServer::answer(401, R"({"error":"unauthorized"})");
        return m_answer ? m_answer(request) : LoopbackHttpServer::answer(200, R"({"ok":true})");
    }
    void receive(QTcpSocket *socket, const LoopbackHttpServer::Received &request)
    {
        if (m_holding)
            m_held.append({QPointer<QTcpSocket>(socket), request});
        else
            socket->write(respond(request));
    }

    QTemporaryDir m_dataHome;
    LoopbackHttpServer m_server;
    QByteArray m_previousDataHome;
    bool m_hadDataHome = false;
    Answer m_answer;
    bool m_holding = false;
    QList<QPair<QPointer<QTcpSocket>, LoopbackHttpServer::Received>> m_held;
};
