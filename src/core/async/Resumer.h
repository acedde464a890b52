#pragma once

#include "core/async/ThreadPost.h"

#include <atomic>
#include <coroutine>
#include <memory>

// Resumes one suspended coroutine through the event loop of the thread it suspended on. An awaiter
// keeps one: it arms it in `await_suspend` and hands Wakers to whatever may end the wait (a timer,
// a cancellation, a finished job, another thread's work). The first wake posts the resumption; later
// ones do nothing. The coroutine never resumes inside the waker's call, so whoever wakes it (a
// `cancel()`, another coroutine's step) finishes its own work first. Destroying the resumer (on the
// waiter's thread, when the awaiter goes with its coroutine frame) drops a resumption not yet run.
class Resumer
{
    struct Shared
    {
        std::coroutine_handle<> handle;
        std::atomic<bool> woken{false};
    };

public:
    Resumer() = default;

    // Call once, on the waiter's thread (which needs an event loop), in `await_suspend`.
    void arm(std::coroutine_handle<> handle)
    {
        m_shared = std::make_shared<Shared>();
        m_shared->handle = handle;
        m_post = std::make_unique<ThreadPost>();
    }

    // Ends the wait. Safe from any thread, any number of times, also after the resumer is gone.
    class Waker
    {
    public:
        Waker() = default;
        void wake() const
        {
            if (!m_shared || m_shared->woken.exchange(true))
                return;
            m_sender.post([handle = m_shared->handle] { handle.resume(); });
        }

    private:
        friend class Resumer;
        Waker(std::shared_ptr<Shared> shared, ThreadPost::Sender sender)
            : m_shared(std::move(shared)), m_sender(std::move(sender))
        {}
        std::shared_ptr<Shared> m_shared;
        ThreadPost::Sender m_sender;
    };

    Waker waker() const { return m_post ? Waker(m_shared, m_post->sender()) : Waker(); }
    void wake() const { waker().wake(); }

private:
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<ThreadPost> m_post;
};
