#pragma once

#include "core/async/CancelToken.h"

#include <QCoroTask>

#include <coroutine>
#include <exception>
#include <memory>
#include <vector>

// A long-lived coroutine that can be cancelled and whose end any number of callers can await.
// Main-thread only: start, cancel and await it from the thread that runs its coroutine.
class Job
{
    struct State
    {
        CancelSource source;
        bool done = false;
        std::exception_ptr error;
        std::vector<std::coroutine_handle<>> waiters;

        void finish()
        {
            done = true;
            auto toResume = std::move(waiters);
            waiters.clear();
            for (auto handle : toResume)
                handle.resume();
        }
    };

public:
    Job() = default;

    // Starts `body(token)` at once; `body` is kept alive until the coroutine ends. An exception the
    // body throws ends the job and is kept in `error()`.
    template <typename Body> static Job start(Body body)
    {
        Job job;
        job.m_state = std::make_shared<State>();
        run(job.m_state, std::move(body));
        return job;
    }

    bool isValid() const { return bool(m_state); }
    bool isFinished() const { return !m_state || m_state->done; }
    void cancel() const
    {
        if (m_state)
            m_state->source.cancel();
    }
    CancelToken token() const { return m_state ? m_state->source.token() : CancelToken(); }
    std::exception_ptr error() const { return m_state ? m_state->error : nullptr; }
    // The same job (or both invalid): a task handle compares by identity.
    bool operator==(const Job &other) const { return m_state == other.m_state; }

    class FinishedAwaiter
    {
    public:
        explicit FinishedAwaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        bool await_ready() const noexcept { return !m_state || m_state->done; }
        void await_suspend(std::coroutine_handle<> handle) { m_state->waiters.push_back(handle); }
        void await_resume() const noexcept {}

    private:
        std::shared_ptr<State> m_state;
    };

    // Resumes when the job's coroutine has ended, however it ended. Never throws.
    FinishedAwaiter finished() const { return FinishedAwaiter(m_state); }

private:
    template <typename Body> static QCoro::Task<void> run(std::shared_ptr<State> state, Body body)
    {
        try {
            co_await body(state->source.token());
        } catch (...) {
            state->error = std::current_exception();
        }
        state->finish();
    }

    std::shared_ptr<State> m_state;
};
