#include "workspace/QtShellSocket.h"

#include "cloud/AgentCoreShellProtocol.h"
#include "cloud/HubNetwork.h"
#include "cloud/HubNetworkError.h"

#include <QWebSocket>

ShellSocketEnded::ShellSocketEnded(int transportCode)
    : HubError(QStringLiteral("The network connection was lost.")), m_transportCode(transportCode)
{}

namespace
{
int transportCodeOf(const PlatformWebSocket::Ending &ending)
{
    return ending.socketError ? int(*ending.socketError) : -1;
}

// Resumes each waiting sender from the event loop, after the caller's own step.
void wake(std::vector<Resumer::Waker> &waiters)
{
    for (const Resumer::Waker &waiter : std::exchange(waiters, {}))
        waiter.wake();
}
} // namespace

QtShellSocket::QtShellSocket()
{
    // The channel's frames are binary; a text message or one past the channel's largest frame is
    // an invalid frame, refused before Qt buffers more of it.
    const PlatformWebSocket::Limits limits{AgentCoreShellProtocol::kMaximumFrameBytes, false, true};
    m_socket = std::make_unique<PlatformWebSocket>(
        limits,
        [this](QWebSocket &socket, const QUrl &url) {
            HubNetwork::configure(socket, url);
            QObject::connect(&socket, &QWebSocket::connected, m_context.get(), [this] { connected(); });
        },
        [this](QByteArray bytes, bool binary) { return m_inbox.push({std::move(bytes), binary}); },
        [this](const PlatformWebSocket::Ending &ending) {
            if (ending.kind == PlatformWebSocket::Ending::Kind::invalidFrame)
                ended(std::make_exception_ptr(
                    AgentCoreShellProtocol::ProtocolFailure(AgentCoreShellProtocol::ProtocolFailure::Kind::invalidFrame)));
            else
                ended(std::make_exception_ptr(ShellSocketEnded(transportCodeOf(ending))));
        });
    m_handshakeTimeout.setSingleShot(true);
    QObject::connect(&m_handshakeTimeout, &QTimer::timeout, m_context.get(), [this] {
        if (m_connected || m_ended)
            return;
        ended(std::make_exception_ptr(ShellSocketEnded(int(QAbstractSocket::SocketTimeoutError))));
        m_socket->cancel(kCloseGoingAway);
    });
}

QtShellSocket::~QtShellSocket() = default;

void QtShellSocket::open(const QNetworkRequest &request)
{
    m_socket->open(request);
    const int timeout = request.transferTimeout();
    m_handshakeTimeout.start(timeout > 0 ? timeout : 60000);
}

void QtShellSocket::connected()
{
    m_connected = true;
    m_handshakeTimeout.stop();
    wake(m_waitingSenders);
}

void QtShellSocket::ended(std::exception_ptr error)
{
    m_ended = true;
    m_handshakeTimeout.stop();
    m_inbox.fail(std::move(error));
    wake(m_waitingSenders);
}

QCoro::Task<void> QtShellSocket::send(QByteArray message)
{
    struct ConnectionWait
    {
        QtShellSocket &socket;
        Resumer resumer;
        bool await_ready() const noexcept { return socket.m_connected || socket.m_ended; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            resumer.arm(handle);
            socket.m_waitingSenders.push_back(resumer.waker());
        }
        void await_resume() const noexcept {}
    };
    // The caller holds this socket while it sends, so it outlives the wait.
    co_await ConnectionWait{*this, {}};
    if (m_ended || !m_socket->sendBinary(message))
        throw HubNetworkError(HubNetworkError::Kind::connectionLost);
}

void QtShellSocket::cancel(int closeCode)
{
    if (std::exchange(m_cancelled, true))
        return;
    if (m_socket->closeCode() == 0)
        m_ourCloseCode = closeCode;
    if (!m_ended)
        ended(std::make_exception_ptr(ShellSocketEnded(-1)));
    // Also after the peer's close or a refused frame: Qt's socket is closed with our code.
    m_socket->cancel(closeCode);
}

QCoro::Task<RealtimeInbox::Message> QtShellSocket::receive(CancelToken token)
{
    return m_inbox.next(std::move(token));
}

int QtShellSocket::closeCode() const
{
    return m_ourCloseCode != 0 ? m_ourCloseCode : m_socket->closeCode();
}
