#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace detail
{
struct CancelState;
}

// Ends a callback's registration with a token when it goes out of scope.
class CancelRegistration
{
public:
    CancelRegistration() = default;
    CancelRegistration(std::weak_ptr<detail::CancelState> state, quint64 id) : m_state(std::move(state)), m_id(id) {}
    CancelRegistration(CancelRegistration &&other) noexcept { *this = std::move(other); }
    CancelRegistration &operator=(CancelRegistration &&other) noexcept;
    CancelRegistration(const CancelRegistration &) = delete;
    CancelRegistration &operator=(const CancelRegistration &) = delete;
    ~CancelRegistration() { reset(); }

    void reset();

private:
    std::weak_ptr<detail::CancelState> m_state;
    quint64 m_id = 0;
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

    // Runs `callback` on the thread that cancels (at once when already cancelled), unless the
    // registration ended first.
    [[nodiscard]] CancelRegistration onCancel(std::function<void()> callback) const;
    // Runs `callback` in `context`'s thread, directly when the cancelling thread is that thread,
    // and not at all once `context` is gone.
    [[nodiscard]] CancelRegistration onCancel(QObject *context, std::function<void()> callback) const;

private:
    friend class CancelSource;
    explicit CancelToken(std::shared_ptr<detail::CancelState> state) : m_state(std::move(state)) {}
    std::shared_ptr<detail::CancelState> m_state;
};

// The requesting end: `cancel()` fires every registered callback once.
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
