#pragma once

#include "cloud/HubNetwork.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

// A plain HTTP/1.1 server on 127.0.0.1 whose answer to each request is written by the test: the
// handler gets the socket and may write a whole answer, part of one, or nothing at all.
class LoopbackHttpServer : public QObject
{
public:
    struct Received
    {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray &name) const;
    };
    using Handler = std::function<void(QTcpSocket *socket, const Received &request)>;

    explicit LoopbackHttpServer(Handler handler);

    QUrl url(const QString &path = QStringLiteral("/")) const;
    const QList<Received> &requests() const { return m_requests; }
    // Connections accepted and connections that were closed by the client.
    int connections() const { return m_connections; }
    int closedByClient() const { return m_closedByClient; }

    // A complete answer with a Content-Length.
    static QByteArray answer(int status, const QByteArray &body, const QByteArray &extraHeaders = {});
    // The shared network, made without the machine's proxy variables so that the server is reached
    // directly, and with a certificate folder holding kFolderAuthority as SSL_CERT_DIR. Every test
    // of this executable that uses the network goes through it.
    static HubNetwork &directNetwork();
    static const QByteArray kFolderAuthority;

    // Ends the connection from the server's side.
    static void drop(QTcpSocket *socket);

private:
    void readFrom(QTcpSocket *socket);

    QTcpServer m_server;
    Handler m_handler;
    QList<Received> m_requests;
    int m_connections = 0;
    int m_closedByClient = 0;
};
