#include "core/async/Sleep.h"

#include "core/HubError.h"

#include <QTimer>

#include <climits>

Sleep::Sleep(std::chrono::milliseconds duration, CancelToken token) : m_duration(duration), m_token(std::move(token)) {}

// Members go in reverse order: the registration first (waiting for a callback running elsewhere),
// then the timer, then the resumer, which drops a resumption posted but not yet run.
Sleep::~Sleep() = default;

void Sleep::await_suspend(std::coroutine_handle<> handle)
{
    m_resumer.arm(handle);
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [waker = m_resumer.waker()] { waker.wake(); });
    // Qt's timers count in int milliseconds: longer waits end after about 24 days.
    m_timer->start(std::min(m_duration, std::chrono::milliseconds(INT_MAX)));
    // Registered last: a cancellation from here on, even one that already happened after
    // await_ready, wakes the waiter through its event loop.
    m_registration = m_token.onCancel([waker = m_resumer.waker()] { waker.wake(); });
}

void Sleep::await_resume()
{
    m_registration.reset();
    m_timer.reset();
    m_token.throwIfCancelled();
}

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token)
{
    co_await Sleep(duration, token);
}
