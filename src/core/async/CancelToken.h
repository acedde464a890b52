#pragma once

#include "core/async/ThreadPost.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

namespace detail
{
struct CancelState;
}

// Ends a callback's registration with a token when it goes out of scope. Like std::stop_callback:
// once `reset()` (or the destructor) returns, the callback is not running and never will, because
// ending a registration whose callback is running on another thread waits for it to return (from
// inside the callback itself it does not wait).
class CancelRegistration
{
public:
    CancelRegistration() = default;
    CancelRegistration(CancelRegistration &&other) noexcept { *this = std::move(other); }
    CancelRegistration &operator=(CancelRegistration &&other) noexcept;
    CancelRegistration(const CancelRegistration &) = delete;
    CancelRegistration &operator=(const CancelRegistration &) = delete;
    ~CancelRegistration() { reset(); }

    void reset();

private:
    friend class CancelToken;
    CancelRegistration(std::weak_ptr<detail::CancelState> state, quint64 id) : m_state(std::move(state)), m_id(id) {}

    std::weak_ptr<detail::CancelState> m_state;
    quint64 m_id = 0;
    // The post box of a callback that runs in a context's thread; closed after the callback is
    // unregistered, so that a run already posted is dropped too.
    std::unique_ptr<ThreadPost> m_post;
};

// The receiving end of a cancellation request. Copies share one state; a default token is never
// cancelled. Thread-safe.
class CancelToken
{
public:
    CancelToken() = default;

    bool cancelled() const;
    // Throws CancelledError when cancellation was requested.
    void throwIfCancelled() const;

    // Runs `callback` on the cancelling thread, inside `cancel()` (at once when already cancelled),
    // unless the registration ended first. Keep it short and non-blocking, never resume a
    // coroutine or touch another thread's QObject from it: wake a Resumer or post instead. A
    // callback must not throw.
    [[nodiscard]] CancelRegistration onCancel(std::function<void()> callback) const;
    // Runs `callback` in `context`'s thread, always from its event loop (also when that thread is
    // the cancelling one, and when already cancelled), and not at all once `context` is gone or
    // the registration has ended. Register and end it on `context`'s thread.
    [[nodiscard]] CancelRegistration onCancel(QObject *context, std::function<void()> callback) const;

private:
    friend class CancelSource;
    explicit CancelToken(std::shared_ptr<detail::CancelState> state) : m_state(std::move(state)) {}
    std::shared_ptr<detail::CancelState> m_state;
};

// The requesting end: `cancel()` fires every registered callback once. Cancelling only requests:
// every waiter of this library resumes later, from its own thread's event loop.
class CancelSource
{
public:
    CancelSource();
    // A source that is also cancelled when `parent` is.
    explicit CancelSource(const CancelToken &parent);

    CancelToken token() const { return CancelToken(m_state); }
    void cancel() const;
    bool cancelled() const;

private:
    std::shared_ptr<detail::CancelState> m_state;
    std::shared_ptr<CancelRegistration> m_parentLink;
};
