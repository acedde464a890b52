#pragma once

#include "cloud/RealtimeInbox.h"

#include <QStringList>
#include <QUrl>

// One WebSocket connection of the realtime subscription, as the subscription sees it: open it,
// send text, take the received messages in order from its bounded inbox, cancel it. The Qt socket
// is one implementation; the subscription's logic does not depend on it.
class RealtimeSocket
{
public:
    static constexpr int kCloseGoingAway = 1001;

    RealtimeSocket() = default;
    virtual ~RealtimeSocket() = default;
    RealtimeSocket(const RealtimeSocket &) = delete;
    RealtimeSocket &operator=(const RealtimeSocket &) = delete;

    // Starts connecting to `url`, offering `subprotocols` in this order.
    virtual void open(const QUrl &url, const QStringList &subprotocols) = 0;
    // Sends one text message; messages sent before the connection is up go out once it is.
    // Throws when the connection has already ended.
    virtual void sendText(const QByteArray &utf8) = 0;
    // Ends the connection with `closeCode`; a pending or later receive fails with CancelledError.
    virtual void cancel(int closeCode) = 0;

    // The next received message, in arrival order; throws the connection's failure once the
    // messages received before it have been taken.
    QCoro::Task<RealtimeInbox::Message> receive(CancelToken token) { return m_inbox.next(std::move(token)); }
    // From now on, a connection that receives nothing for `limit` fails with `error`.
    void failWhenSilentFor(std::chrono::milliseconds limit, std::exception_ptr error)
    {
        m_inbox.failWhenSilentFor(limit, std::move(error));
    }

protected:
    RealtimeInbox m_inbox;
};
