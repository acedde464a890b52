#include "core/async/Sleep.h"

#include "core/HubError.h"

#include <QTimer>

#include <coroutine>

namespace
{
class SleepAwaiter
{
public:
    SleepAwaiter(std::chrono::milliseconds duration, CancelToken token)
        : m_state(std::make_shared<State>()), m_duration(duration), m_token(std::move(token))
    {
    }

    bool await_ready() const noexcept { return m_token.cancelled(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        m_state->handle = handle;
        m_state->timer.reset(new QTimer);
        m_state->timer->setSingleShot(true);
        m_state->timer->setTimerType(Qt::PreciseTimer);
        std::weak_ptr<State> weak = m_state;
        QObject::connect(m_state->timer.get(), &QTimer::timeout, m_state->timer.get(), [weak] {
            if (auto state = weak.lock())
                state->finish();
        });
        m_state->timer->start(m_duration);
        m_registration = m_token.onCancel(m_state->timer.get(), [weak] {
            if (auto state = weak.lock())
                state->finish();
        });
    }

    void await_resume() { m_registration.reset(); }

private:
    struct State
    {
        std::coroutine_handle<> handle;
        // Deleted later: the timer may be the sender of the signal that resumes the coroutine.
        std::unique_ptr<QTimer, void (*)(QTimer *)> timer{nullptr, [](QTimer *t) { t->deleteLater(); }};
        bool done = false;

        void finish()
        {
            if (done)
                return;
            done = true;
            timer->stop();
            handle.resume();
        }
    };

    std::shared_ptr<State> m_state;
    std::chrono::milliseconds m_duration;
    CancelToken m_token;
    CancelRegistration m_registration;
};
} // namespace

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token)
{
    token.throwIfCancelled();
    co_await SleepAwaiter(duration, token);
    token.throwIfCancelled();
}
