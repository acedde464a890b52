#pragma once

#include "core/async/Resumer.h"

#include <QObject>
#include <QThread>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// One worker thread that runs submitted work in submission order: the executor of an actor, whose
// state only its own work touches. The awaiting coroutine resumes on its own thread, from its event
// loop.
class SerialExecutor
{
public:
    explicit SerialExecutor(const QString &name);
    // Runs the work already queued, then stops the thread.
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    // Queues `work`; fire and forget.
    void post(std::function<void()> work);
    bool isCurrentThread() const { return QThread::currentThread() == m_thread; }

    template <typename Fn> class RunAwaiter;

    // `co_await executor.run(fn)` runs fn on the executor and gives its result or rethrows its
    // exception in the awaiting coroutine, on the awaiting thread (which needs an event loop).
    // Name the work first (`auto work = [...] {...}; co_await executor.run(std::move(work));`):
    // GCC 12 destroys a lambda temporary of a co_await expression twice when its captures have
    // destructors.
    template <typename Fn> RunAwaiter<Fn> run(Fn fn) { return RunAwaiter<Fn>(*this, std::move(fn)); }

    template <typename Fn> class RunAwaiter
    {
        using Result = std::invoke_result_t<Fn &>;
        using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;

    public:
        RunAwaiter(SerialExecutor &executor, Fn fn)
            : m_executor(executor), m_state(std::make_shared<State>(std::move(fn)))
        {}

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            m_resumer.arm(handle);
            // The worker holds the work's state and a waker, nothing of the awaiting thread: when
            // the awaiting coroutine is gone before the work ends, the wake does nothing.
            m_executor.post([state = m_state, waker = m_resumer.waker()] {
                try {
                    if constexpr (std::is_void_v<Result>) {
                        state->fn();
                        state->value.emplace(true);
                    } else {
                        state->value.emplace(state->fn());
                    }
                } catch (...) {
                    state->error = std::current_exception();
                }
                waker.wake();
            });
        }
        Result await_resume()
        {
            if (m_state->error)
                std::rethrow_exception(m_state->error);
            if constexpr (!std::is_void_v<Result>)
                return std::move(*m_state->value);
        }

    private:
        struct State
        {
            explicit State(Fn f) : fn(std::move(f)) {}
            Fn fn;
            std::optional<Stored> value;
            std::exception_ptr error;
        };
        SerialExecutor &m_executor;
        std::shared_ptr<State> m_state;
        Resumer m_resumer;
    };

private:
    QThread *m_thread;
    QObject *m_worker;
};
