#include "cloud/PlatformWebSocket.h"

#include <QWebSocket>
#include <QWebSocketHandshakeOptions>

PlatformWebSocket::PlatformWebSocket(Limits limits, Configure configure, MessageHandler onMessage, EndHandler onEnd)
    : m_limits(limits), m_configure(std::move(configure)), m_onMessage(std::move(onMessage)), m_onEnd(std::move(onEnd)),
      m_socket(new QWebSocket, [](QWebSocket *s) { s->deleteLater(); })
{
    QWebSocket *socket = m_socket.get();
    // Qt refuses larger messages itself, closing with "too much data", before it has buffered them.
    socket->setMaxAllowedIncomingMessageSize(quint64(m_limits.maxMessageBytes));
    socket->setMaxAllowedIncomingFrameSize(quint64(m_limits.maxMessageBytes));
    QObject::connect(socket, &QWebSocket::connected, socket, [this] {
        for (const auto &message : std::exchange(m_unsent, {}))
            send(message.bytes, message.binary);
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                     [this](const QString &text) { take(text.toUtf8(), false); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket,
                     [this](const QByteArray &bytes) { take(bytes, true); });
    // Qt closes from its side both when the peer's close frame arrives and when it refuses a
    // message; a connection that merely drops is reported as disconnected without this signal.
    QObject::connect(socket, &QWebSocket::aboutToClose, socket, [this] { m_closing = true; });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
                     [this](QAbstractSocket::SocketError error) {
                         if (!m_socketError) {
                             m_socketError = error;
                             m_socketErrorString = m_socket->errorString();
                         }
                     });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [this] { onDisconnected(); });
}

PlatformWebSocket::~PlatformWebSocket()
{
    // The socket outlives this object until the event loop deletes it: silence it first.
    QObject::disconnect(m_socket.get(), nullptr, m_socket.get(), nullptr);
    if (!m_cancelled)
        m_socket->abort();
}

void PlatformWebSocket::open(const QNetworkRequest &request, const QStringList &subprotocols)
{
    if (m_configure)
        m_configure(*m_socket, request.url());
    QWebSocketHandshakeOptions options;
    options.setSubprotocols(subprotocols);
    m_socket->open(request, options);
}

bool PlatformWebSocket::sendText(const QByteArray &utf8)
{
    return send(utf8, false);
}

bool PlatformWebSocket::sendBinary(const QByteArray &bytes)
{
    return send(bytes, true);
}

bool PlatformWebSocket::send(const QByteArray &bytes, bool binary)
{
    if (m_ended)
        return false;
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_unsent.push_back({bytes, binary});
        return true;
    }
    if (binary)
        m_socket->sendBinaryMessage(bytes);
    else
        m_socket->sendTextMessage(QString::fromUtf8(bytes));
    return true;
}

void PlatformWebSocket::cancel(int closeCode)
{
    if (std::exchange(m_cancelled, true))
        return;
    m_ended = true;
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close(QWebSocketProtocol::CloseCode(closeCode));
    else
        m_socket->abort();
}

int PlatformWebSocket::closeCode() const
{
    // Qt reports 1000 (normal closure) before any close; a connection that dropped had none.
    return m_closing ? int(m_socket->closeCode()) : 0;
}

void PlatformWebSocket::take(QByteArray bytes, bool binary)
{
    if (m_ended)
        return;
    if (bytes.size() > m_limits.maxMessageBytes || !(binary ? m_limits.binaryAllowed : m_limits.textAllowed)) {
        end({Ending::Kind::invalidFrame, closeCode(), {}, {}, {}});
        return;
    }
    if (!m_onMessage(std::move(bytes), binary)) {
        // The owner has failed already; stop reading so that nothing more piles up.
        m_ended = true;
        m_socket->abort();
    }
}

void PlatformWebSocket::end(Ending ending)
{
    if (std::exchange(m_ended, true))
        return;
    if (m_onEnd)
        m_onEnd(ending);
}

void PlatformWebSocket::onDisconnected()
{
    if (m_ended)
        return;
    Ending ending;
    ending.closeCode = closeCode();
    ending.closeReason = m_socket->closeReason();
    if (m_closing && ending.closeCode == QWebSocketProtocol::CloseCodeTooMuchData) {
        ending.kind = Ending::Kind::invalidFrame;
    } else if (m_closing) {
        ending.kind = Ending::Kind::closedByPeer;
    } else {
        ending.kind = Ending::Kind::dropped;
        ending.socketError = m_socketError;
        ending.socketErrorString = m_socketErrorString;
    }
    end(std::move(ending));
}
