#include "cloud/QtRealtimeSocket.h"

#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"

#include <QNetworkRequest>
#include <QWebSocketHandshakeOptions>

namespace
{
// Qt refuses larger messages itself (closing with "too much data"), which bounds what it buffers
// before our own check of the message size sees them.
constexpr qint64 kQtMessageLimit = 4 * realtime::kMaxMessageBytes;
} // namespace

QtRealtimeSocket::QtRealtimeSocket(Configure configure)
    : m_configure(std::move(configure)), m_socket(new QWebSocket, [](QWebSocket *s) { s->deleteLater(); })
{
    QWebSocket *socket = m_socket.get();
    socket->setMaxAllowedIncomingMessageSize(quint64(kQtMessageLimit));
    QObject::connect(socket, &QWebSocket::connected, socket, [this] {
        for (const auto &message : std::exchange(m_unsent, {}))
            m_socket->sendTextMessage(QString::fromUtf8(message));
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [this](const QString &text) {
        if (!m_inbox.push({text.toUtf8(), false}))
            overflowed();
    });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket, [this](const QByteArray &bytes) {
        if (!m_inbox.push({bytes, true}))
            overflowed();
    });
    // Qt closes from its side both when the peer's close frame arrives and when it refuses a
    // message; a connection that merely drops is reported as disconnected without this signal.
    QObject::connect(socket, &QWebSocket::aboutToClose, socket, [this] {
        if (!m_cancelled)
            m_peerClosing = true;
    });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
                     [this](QAbstractSocket::SocketError) {
                         if (m_socketError.isEmpty())
                             m_socketError = m_socket->errorString();
                     });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [this] { onDisconnected(); });
}

QtRealtimeSocket::~QtRealtimeSocket()
{
    // The socket outlives this object until the event loop deletes it: silence it first.
    QObject::disconnect(m_socket.get(), nullptr, m_socket.get(), nullptr);
    if (!m_cancelled)
        m_socket->abort();
}

void QtRealtimeSocket::open(const QUrl &url, const QStringList &subprotocols)
{
    if (m_configure)
        m_configure(*m_socket, url);
    QWebSocketHandshakeOptions options;
    options.setSubprotocols(subprotocols);
    m_socket->open(QNetworkRequest(url), options);
}

void QtRealtimeSocket::sendText(const QByteArray &utf8)
{
    if (m_inbox.hasFailed() || m_cancelled)
        throw HubError(QStringLiteral("The realtime connection is closed."));
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_unsent.append(utf8);
        return;
    }
    m_socket->sendTextMessage(QString::fromUtf8(utf8));
}

void QtRealtimeSocket::cancel(int closeCode)
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_inbox.fail(std::make_exception_ptr(CancelledError()));
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close(QWebSocketProtocol::CloseCode(closeCode));
    else
        m_socket->abort();
}

void QtRealtimeSocket::overflowed()
{
    // The inbox has failed already; stop reading so that nothing more piles up.
    m_socket->abort();
}

void QtRealtimeSocket::onDisconnected()
{
    if (m_cancelled)
        return;
    QString sentence;
    const auto code = m_socket->closeCode();
    if (m_peerClosing && code == QWebSocketProtocol::CloseCodeTooMuchData)
        sentence = QStringLiteral("Invalid realtime frame.");
    else if (m_peerClosing)
        sentence = QStringLiteral("The realtime connection was closed (code %1).").arg(int(code));
    else if (!m_socketError.isEmpty())
        sentence = QStringLiteral("The realtime connection failed: %1.").arg(m_socketError);
    else
        sentence = QStringLiteral("The realtime connection was lost.");
    m_inbox.fail(std::make_exception_ptr(HubError(sentence)));
}
