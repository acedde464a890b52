#pragma once

#include "core/async/CancelToken.h"
#include "core/async/Resumer.h"

#include <QCoroTask>

#include <exception>
#include <memory>
#include <vector>

// A long-lived coroutine that can be cancelled and whose end any number of callers can await.
// Start, cancel and await it on one thread, the one that runs its coroutine.
//
// A Job is a handle: copies share the task, and the task runs only as long as someone holds a
// handle. Dropping the last handle cancels the task, so a task nobody can reach any more is never
// left running; an owner that wants the task to go on keeps its handle. Awaiting `finished()` is
// no handle: a waiter does not keep the task from being cancelled.
//
// The end resumes every `finished()` waiter from the event loop, after the task's last step has
// returned, never inside it.
class Job
{
    struct State
    {
        CancelSource source;
        bool done = false;
        std::exception_ptr error;
        std::vector<Resumer::Waker> waiters;

        void finish()
        {
            done = true;
            for (const auto &waiter : std::exchange(waiters, {}))
                waiter.wake();
        }
    };

    // The handles' share: the last one to go cancels the task.
    struct Handle
    {
        std::shared_ptr<State> state;
        explicit Handle(std::shared_ptr<State> s) : state(std::move(s)) {}
        Handle(const Handle &) = delete;
        Handle &operator=(const Handle &) = delete;
        ~Handle() { state->source.cancel(); }
    };

public:
    Job() = default;

    // Starts `body(token)` at once; `body` is kept alive until the coroutine ends. An exception the
    // body throws ends the job and is kept in `error()`.
    template <typename Body> [[nodiscard]] static Job start(Body body)
    {
        auto state = std::make_shared<State>();
        Job job;
        job.m_handle = std::make_shared<Handle>(state);
        run(std::move(state), std::move(body));
        return job;
    }

    bool isValid() const { return bool(m_handle); }
    bool isFinished() const { return !m_handle || m_handle->state->done; }
    // Requests the end; the task stops at its next cancellation check.
    void cancel() const
    {
        if (m_handle)
            m_handle->state->source.cancel();
    }
    CancelToken token() const { return m_handle ? m_handle->state->source.token() : CancelToken(); }
    std::exception_ptr error() const { return m_handle ? m_handle->state->error : nullptr; }
    // The same job (or both invalid): a task handle compares by identity.
    bool operator==(const Job &other) const { return m_handle == other.m_handle; }

    class FinishedAwaiter
    {
    public:
        explicit FinishedAwaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        bool await_ready() const noexcept { return !m_state || m_state->done; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            m_resumer.arm(handle);
            m_state->waiters.push_back(m_resumer.waker());
        }
        void await_resume() const noexcept {}

    private:
        std::shared_ptr<State> m_state;
        Resumer m_resumer;
    };

    // Resumes when the job's coroutine has ended, however it ended. Never throws.
    FinishedAwaiter finished() const { return FinishedAwaiter(m_handle ? m_handle->state : nullptr); }

private:
    // Holds the state, not a handle: the running task does not keep itself from being cancelled.
    template <typename Body> static QCoro::Task<void> run(std::shared_ptr<State> state, Body body)
    {
        try {
            co_await body(state->source.token());
        } catch (...) {
            state->error = std::current_exception();
        }
        state->finish();
    }

    std::shared_ptr<Handle> m_handle;
};
