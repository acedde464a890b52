#pragma once

#include "cloud/RealtimeInbox.h"
#include "core/HubError.h"
#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>

// The end of a command-channel connection as its receiver meets it: the peer closed, the
// connection dropped or timed out, or we cancelled it. The close code is the socket's
// (`ShellSocket::closeCode()`); `transportCode` is the transport's error number (Qt's socket error)
// or -1 when the transport reported none.
class ShellSocketEnded : public HubError
{
public:
    explicit ShellSocketEnded(int transportCode);
    int transportCode() const noexcept { return m_transportCode; }

private:
    int m_transportCode;
};

// One WebSocket of the build shell's command channel, as the shell sees it: binary messages out,
// messages in one at a time, cancellation with a close code. Main thread only.
class ShellSocket
{
public:
    static constexpr int kCloseNormal = 1000;
    static constexpr int kCloseGoingAway = 1001;
    static constexpr int kCloseProtocolError = 1002;

    ShellSocket() = default;
    virtual ~ShellSocket() = default;
    ShellSocket(const ShellSocket &) = delete;
    ShellSocket &operator=(const ShellSocket &) = delete;

    // Starts connecting; the request's transfer timeout bounds the opening handshake.
    virtual void open(const QNetworkRequest &request) = 0;
    // Sends one binary message. Before the connection is up it waits for it; throws HubError
    // when the connection has ended or ends first.
    virtual QCoro::Task<void> send(QByteArray message) = 0;
    // Ends the connection from our side with `closeCode`; a pending or later receive throws
    // ShellSocketEnded, and closeCode() reports `closeCode` unless the peer's came first.
    virtual void cancel(int closeCode) = 0;
    // The next message in arrival order. Throws AgentCoreShellProtocol::ProtocolFailure (invalid
    // frame) for a text message or one over the channel's 65,536 bytes, ShellSocketEnded for the
    // end of the connection, CancelledError when `token` fires first.
    virtual QCoro::Task<RealtimeInbox::Message> receive(CancelToken token) = 0;
    // The close code of the connection's closing handshake; 0 when there was none.
    virtual int closeCode() const = 0;
};
