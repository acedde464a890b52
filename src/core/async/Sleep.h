#pragma once

#include "core/async/CancelToken.h"
#include "core/async/Resumer.h"

#include <QCoroTask>

#include <chrono>
#include <coroutine>
#include <memory>

class QTimer;

// `co_await Sleep(duration, token)`: waits `duration` on the calling thread's event loop and ends
// with CancelledError when `token` fires before or during the wait. Either end resumes the waiter
// from its thread's event loop, also when another thread cancels, and also when the cancellation
// lands between the check of the token and the start of the wait.
class Sleep
{
public:
    Sleep(std::chrono::milliseconds duration, CancelToken token);
    ~Sleep();
    Sleep(Sleep &&) = default;

    bool await_ready() const { return m_token.cancelled(); }
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume();

private:
    std::chrono::milliseconds m_duration;
    CancelToken m_token;
    Resumer m_resumer;
    std::unique_ptr<QTimer> m_timer;
    CancelRegistration m_registration;
};

// The same wait as a task, for callers that store or pass it on.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token);
