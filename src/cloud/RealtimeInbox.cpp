#include "cloud/RealtimeInbox.h"

#include "core/HubError.h"

#include <limits>

// Wakes the consumer through its event loop rather than inside the socket's signal, so that a
// handler may close the socket without running inside its emission.
class RealtimeInbox::WaitAwaiter
{
public:
    WaitAwaiter(RealtimeInbox &inbox, CancelToken token) : m_inbox(inbox), m_token(std::move(token)) {}
    bool await_ready() const noexcept { return m_token.cancelled(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        m_inbox.m_waiter = m_resumer.waker();
        m_registration = m_token.onCancel([waker = m_resumer.waker()] { waker.wake(); });
    }
    void await_resume() { m_registration.reset(); }

private:
    RealtimeInbox &m_inbox;
    CancelToken m_token;
    Resumer m_resumer;
    CancelRegistration m_registration;
};

RealtimeInbox::RealtimeInbox(qsizetype maxMessages, qint64 maxBytes) : m_maxMessages(maxMessages), m_maxBytes(maxBytes)
{}

RealtimeInbox::~RealtimeInbox() = default;

QString RealtimeInbox::overflowSentence()
{
    return QStringLiteral("Realtime frames arrived faster than they could be handled.");
}

bool RealtimeInbox::push(Message message)
{
    if (m_error)
        return false;
    if (qsizetype(m_queue.size()) >= m_maxMessages || m_bytes + message.bytes.size() > m_maxBytes) {
        fail(std::make_exception_ptr(HubError(overflowSentence())));
        return false;
    }
    m_bytes += message.bytes.size();
    m_queue.push_back(std::move(message));
    if (m_silence)
        m_silence->start();
    wake();
    return true;
}

void RealtimeInbox::fail(std::exception_ptr error)
{
    if (m_error)
        return;
    m_error = std::move(error);
    // Stopped, not deleted: this may run inside the timer's own signal.
    if (m_silence)
        m_silence->stop();
    wake();
}

void RealtimeInbox::failWhenSilentFor(std::chrono::milliseconds limit, std::exception_ptr error)
{
    if (m_error)
        return;
    m_silence = std::make_unique<QTimer>();
    m_silence->setSingleShot(true);
    // Qt's timers count in int milliseconds.
    m_silence->setInterval(std::min(limit, std::chrono::milliseconds(std::numeric_limits<int>::max())));
    QObject::connect(m_silence.get(), &QTimer::timeout, m_silence.get(), [this, error] { fail(error); });
    m_silence->start();
}

void RealtimeInbox::wake()
{
    std::exchange(m_waiter, {}).wake();
}

QCoro::Task<RealtimeInbox::Message> RealtimeInbox::next(CancelToken token)
{
    while (true) {
        token.throwIfCancelled();
        if (!m_queue.empty()) {
            Message message = std::move(m_queue.front());
            m_queue.pop_front();
            m_bytes -= message.bytes.size();
            co_return message;
        }
        if (m_error)
            std::rethrow_exception(m_error);
        co_await WaitAwaiter(*this, token);
    }
}
