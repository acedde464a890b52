#pragma once

#include "cloud/PlatformWebSocket.h"
#include "core/async/Resumer.h"
#include "workspace/ShellSocket.h"

#include <QTimer>

#include <coroutine>
#include <memory>
#include <vector>

// The command channel over a Qt WebSocket, with HubNetwork's proxy and trust. Qt's WebSocket has no
// handshake timeout of its own: the request's transfer timeout is enforced here.
class QtShellSocket final : public ShellSocket
{
public:
    QtShellSocket();
    ~QtShellSocket() override;

    void open(const QNetworkRequest &request) override;
    QCoro::Task<void> send(QByteArray message) override;
    void cancel(int closeCode) override;
    QCoro::Task<RealtimeInbox::Message> receive(CancelToken token) override;
    int closeCode() const override;

private:
    void ended(std::exception_ptr error);
    void connected();

    RealtimeInbox m_inbox;
    std::unique_ptr<PlatformWebSocket> m_socket;
    QTimer m_handshakeTimeout;
    // Context of the connections made to the Qt socket; gone with this object.
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
    bool m_connected = false;
    bool m_ended = false;
    bool m_cancelled = false;
    int m_ourCloseCode = 0;
    // Senders waiting for the connection; each learns from `m_connected`/`m_ended` how it went.
    std::vector<Resumer::Waker> m_waitingSenders;
};
