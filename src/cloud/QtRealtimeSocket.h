#pragma once

#include "cloud/PlatformWebSocket.h"
#include "cloud/RealtimeSocket.h"

// The realtime connection over a Qt WebSocket.
class QtRealtimeSocket final : public RealtimeSocket
{
public:
    using Configure = PlatformWebSocket::Configure;

    explicit QtRealtimeSocket(Configure configure = {});

    void open(const QUrl &url, const QStringList &subprotocols) override;
    void sendText(const QByteArray &utf8) override;
    void cancel(int closeCode) override;

    // The failure a connection's end stands for, in the subscription's words.
    static QString sentence(const PlatformWebSocket::Ending &ending);

private:
    PlatformWebSocket m_socket;
    bool m_cancelled = false;
};
