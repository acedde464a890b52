#include "cloud/QtRealtimeSocket.h"

#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"

QtRealtimeSocket::QtRealtimeSocket(Configure configure)
    : m_socket(
          {realtime::kMaxMessageBytes, true, true}, std::move(configure),
          [this](QByteArray bytes, bool binary) {
              return m_inbox.push({std::move(bytes), binary});
          },
          [this](const PlatformWebSocket::Ending &ending) {
              m_inbox.fail(std::make_exception_ptr(HubError(sentence(ending))));
          })
{}

QString QtRealtimeSocket::sentence(const PlatformWebSocket::Ending &ending)
{
    using Kind = PlatformWebSocket::Ending::Kind;
    switch (ending.kind) {
    case Kind::invalidFrame:
        return QStringLiteral("Invalid realtime frame.");
    case Kind::closedByPeer:
        return QStringLiteral("The realtime connection was closed (code %1).").arg(ending.closeCode);
    case Kind::dropped:
        break;
    }
    if (!ending.socketErrorString.isEmpty())
        return QStringLiteral("The realtime connection failed: %1.").arg(ending.socketErrorString);
    return QStringLiteral("The realtime connection was lost.");
}

void QtRealtimeSocket::open(const QUrl &url, const QStringList &subprotocols)
{
    m_socket.open(QNetworkRequest(url), subprotocols);
}

void QtRealtimeSocket::sendText(const QByteArray &utf8)
{
    if (m_inbox.hasFailed() || m_cancelled || !m_socket.sendText(utf8))
        throw HubError(QStringLiteral("The realtime connection is closed."));
}

void QtRealtimeSocket::cancel(int closeCode)
{
    if (std::exchange(m_cancelled, true))
        return;
    m_inbox.fail(std::make_exception_ptr(CancelledError()));
    m_socket.cancel(closeCode);
}
