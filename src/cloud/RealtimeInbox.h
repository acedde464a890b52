#pragma once

#include "core/async/CancelToken.h"
#include "core/async/Resumer.h"

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <deque>
#include <exception>
#include <memory>

// The bounded FIFO between a WebSocket, which pushes messages as they arrive, and the receive task,
// which takes them one at a time and may wait minutes for a frame's handler in between. Overflow is
// a failure of the connection, reported after the messages already queued, never a silent drop.
// Main thread only.
class RealtimeInbox
{
public:
    struct Message
    {
        QByteArray bytes;
        bool binary = false;
    };

    static constexpr qsizetype kDefaultMaxMessages = 4096;
    static constexpr qint64 kDefaultMaxBytes = qint64(64) * 1024 * 1024;

    explicit RealtimeInbox(qsizetype maxMessages = kDefaultMaxMessages, qint64 maxBytes = kDefaultMaxBytes);
    ~RealtimeInbox();
    RealtimeInbox(const RealtimeInbox &) = delete;
    RealtimeInbox &operator=(const RealtimeInbox &) = delete;

    // Queues `message`. Returns false when it does not fit: the inbox has then failed with the
    // overflow sentence and takes nothing more. A failed inbox ignores every push.
    bool push(Message message);
    // Ends the stream with `error` after the messages already queued; only the first failure counts.
    void fail(std::exception_ptr error);
    // From now on, fails the stream with `error` when nothing arrives for `limit`; every arrival
    // starts the wait again. Arrivals count, not takes: a consumer busy with one message for longer
    // than `limit` does not make a live connection look silent.
    void failWhenSilentFor(std::chrono::milliseconds limit, std::exception_ptr error);
    bool hasFailed() const { return bool(m_error); }
    qsizetype size() const { return qsizetype(m_queue.size()); }

    // The next message; throws the stream's failure once the queue is empty, and CancelledError when
    // `token` fires first.
    QCoro::Task<Message> next(CancelToken token);

    static QString overflowSentence();

private:
    class WaitAwaiter;
    void wake();

    const qsizetype m_maxMessages;
    const qint64 m_maxBytes;
    std::deque<Message> m_queue;
    qint64 m_bytes = 0;
    std::exception_ptr m_error;
    Resumer::Waker m_waiter;
    std::unique_ptr<QTimer> m_silence;
};
