#pragma once

#include "standin/HttpRequest.h"
#include "standin/Outcome.h"

#include <QObject>
#include <QString>
#include <QTimer>

class ProxyServer;
class QSslSocket;

// One client connection to the proxy port. It starts as plain HTTP: a CONNECT to a platform host
// becomes a TLS tunnel that the stand-in ends itself, a request under "/_standin/" goes to the
// control channel, anything else is refused. Inside a tunnel, requests are served one at a time
// (a scripted delay holds the next request back, as a busy server would).
class ClientConnection : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of `socket`; `server` owns the connection.
    ClientConnection(QSslSocket *socket, ProxyServer *server);
    ~ClientConnection() override;

private:
    enum class State { Plain, Handshaking, Tunnel, Closed };

    void readRequests();
    void servePlain(const HttpRequest &request);
    void openTunnel(const HttpRequest &request);
    void startTls(const QString &host);
    void serveTunnel(const HttpRequest &request);
    void deliver(const Outcome &outcome, qint64 requestIndex, const QString &path, bool close);
    void reply(const HttpResponse &response, bool close);
    void refuse(int status, const QByteArray &message);
    // The request, or the TLS handshake, did not arrive whole within the proxy's request timeout.
    void timedOut();
    // Closes at once, without an answer or a TLS goodbye.
    void drop();
    void finish();

    QSslSocket *m_socket;
    ProxyServer *m_server;
    State m_state = State::Plain;
    bool m_busy = false;      // a request is being served; later bytes wait in the socket
    bool m_continued = false; // "100 Continue" sent for the request being received
    QString m_host;           // the tunnel's host
    QTimer m_deadline;        // runs while a request or a handshake is on its way
};
