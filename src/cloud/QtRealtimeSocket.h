#pragma once

#include "cloud/RealtimeSocket.h"

#include <QByteArrayList>
#include <QWebSocket>

#include <functional>
#include <memory>

// The realtime connection over a QWebSocket.
class QtRealtimeSocket final : public RealtimeSocket
{
public:
    // Sets up the proxy and trust of the socket for the URL it is about to open.
    using Configure = std::function<void(QWebSocket &, const QUrl &)>;

    explicit QtRealtimeSocket(Configure configure = {});
    ~QtRealtimeSocket() override;

    void open(const QUrl &url, const QStringList &subprotocols) override;
    void sendText(const QByteArray &utf8) override;
    void cancel(int closeCode) override;

private:
    void onDisconnected();
    void overflowed();

    Configure m_configure;
    // Deleted later: the socket may be the sender of the signal being handled.
    std::unique_ptr<QWebSocket, void (*)(QWebSocket *)> m_socket;
    QByteArrayList m_unsent;
    bool m_cancelled = false;
    bool m_peerClosing = false;
    QString m_socketError;
};
