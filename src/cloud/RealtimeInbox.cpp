#include "cloud/RealtimeInbox.h"

#include "core/HubError.h"

struct RealtimeInbox::Waiter
{
    std::coroutine_handle<> handle;
    bool woken = false;
    // Resumes the consumer from the event loop rather than from inside the socket's signal, so
    // that a handler may close the socket without running inside its emission.
    std::unique_ptr<QObject> context = std::make_unique<QObject>();

    void wake()
    {
        if (woken)
            return;
        woken = true;
        QMetaObject::invokeMethod(
            context.get(), [h = handle] { h.resume(); }, Qt::QueuedConnection);
    }
};

class RealtimeInbox::WaitAwaiter
{
public:
    WaitAwaiter(RealtimeInbox &inbox, CancelToken token) : m_inbox(inbox), m_token(std::move(token)) {}
    bool await_ready() const noexcept { return m_token.cancelled(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_waiter = std::make_shared<Waiter>();
        m_waiter->handle = handle;
        m_inbox.m_waiter = m_waiter;
        std::weak_ptr<Waiter> weak = m_waiter;
        m_registration = m_token.onCancel(m_waiter->context.get(), [weak] {
            if (auto waiter = weak.lock())
                waiter->wake();
        });
    }
    void await_resume() { m_registration.reset(); }

private:
    RealtimeInbox &m_inbox;
    CancelToken m_token;
    std::shared_ptr<Waiter> m_waiter;
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
    wake();
    return true;
}

void RealtimeInbox::fail(std::exception_ptr error)
{
    if (m_error)
        return;
    m_error = std::move(error);
    wake();
}

void RealtimeInbox::wake()
{
    if (auto waiter = std::exchange(m_waiter, nullptr))
        waiter->wake();
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
