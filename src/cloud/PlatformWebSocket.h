#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QByteArrayList>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWebSocket;

// A client WebSocket to the platform as the hub's receive loops need it, on Qt: messages are handed
// on in arrival order, each one capped (Qt holds no more than the cap of an incoming message, and
// a larger one is an invalid frame, not a buffered one), a message of a kind the owner does not
// take is an invalid frame too, and the end of the connection says which of these happened: the
// peer's close frame (with its code), an invalid frame, or a connection that dropped without a
// close frame (with the socket's error). The realtime subscription and the build shell's command
// channel share it. Main thread only.
class PlatformWebSocket
{
public:
    struct Limits
    {
        // Largest incoming message, in bytes.
        qint64 maxMessageBytes = 0;
        bool textAllowed = true;
        bool binaryAllowed = true;
    };

    struct Ending
    {
        enum class Kind {
            // The peer's close frame arrived; `closeCode` and `closeReason` are its.
            closedByPeer,
            // A message over the cap or of a kind not taken; nothing after it was handed on.
            invalidFrame,
            // The connection ended without a close frame; `socketError` says why, when Qt knows.
            dropped,
        };
        Kind kind = Kind::dropped;
        int closeCode = 0;
        QString closeReason;
        std::optional<QAbstractSocket::SocketError> socketError;
        QString socketErrorString;
    };

    // Sets up the proxy and trust of the socket for the URL it is about to open.
    using Configure = std::function<void(QWebSocket &, const QUrl &)>;
    // Takes one message; returning false means the owner could take no more: reading stops and
    // the connection is aborted without an Ending.
    using MessageHandler = std::function<bool(QByteArray bytes, bool binary)>;
    // Called once, when the connection ends by itself; never after `cancel()`.
    using EndHandler = std::function<void(const Ending &)>;

    PlatformWebSocket(Limits limits, Configure configure, MessageHandler onMessage, EndHandler onEnd);
    ~PlatformWebSocket();
    PlatformWebSocket(const PlatformWebSocket &) = delete;
    PlatformWebSocket &operator=(const PlatformWebSocket &) = delete;

    // Starts connecting, offering `subprotocols` in this order.
    void open(const QNetworkRequest &request, const QStringList &subprotocols = {});
    // Sends one message; messages sent before the connection is up go out once it is. False when
    // the connection has ended or was cancelled.
    bool sendText(const QByteArray &utf8);
    bool sendBinary(const QByteArray &bytes);
    // Ends the connection from our side with `closeCode` (aborting one not yet open); the owner
    // hears nothing more.
    void cancel(int closeCode);

    bool isEnded() const { return m_ended; }
    // The code of the close handshake (the peer's, Qt's own refusal's, or ours); 0 when there was
    // none, as for a connection that dropped.
    int closeCode() const;

private:
    struct Unsent
    {
        QByteArray bytes;
        bool binary = false;
    };

    bool send(const QByteArray &bytes, bool binary);
    void take(QByteArray bytes, bool binary);
    void end(Ending ending);
    void onDisconnected();

    Limits m_limits;
    Configure m_configure;
    MessageHandler m_onMessage;
    EndHandler m_onEnd;
    // Deleted later: the socket may be the sender of the signal being handled.
    std::unique_ptr<QWebSocket, void (*)(QWebSocket *)> m_socket;
    std::vector<Unsent> m_unsent;
    bool m_ended = false;
    bool m_cancelled = false;
    bool m_closing = false;
    std::optional<QAbstractSocket::SocketError> m_socketError;
    QString m_socketErrorString;
};
