#include "standin/SocketDrop.h"

#include <QAbstractSocket>
#include <QTimer>
#include <QWebSocket>

void dropWhenFlushed(QWebSocket *socket)
{
    // Aborting would discard what is still buffered (the TLS layer keeps its own buffer): end the
    // TCP connection once everything sent is out, but without a WebSocket close frame.
    if (auto *transport = socket->findChild<QAbstractSocket *>()) {
        transport->disconnectFromHost();
        return;
    }
    socket->flush();
    QTimer::singleShot(100, socket, &QWebSocket::abort);
}
