#include "core/async/CancelToken.h"

#include "core/HubError.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace detail
{
struct CancelState
{
    std::mutex mutex;
    std::condition_variable callbackReturned;
    bool cancelled = false;
    std::thread::id cancellingThread;
    // The registration whose callback runs right now (0: none).
    quint64 running = 0;
    quint64 nextId = 1;
    std::map<quint64, std::function<void()>> callbacks;

    static void invoke(const std::function<void()> &callback) noexcept { callback(); }

    // Runs the callbacks in registration order, each outside the lock, so that a callback may
    // register or unregister others.
    void cancel()
    {
        std::unique_lock lock(mutex);
        if (cancelled)
            return;
        cancelled = true;
        cancellingThread = std::this_thread::get_id();
        while (!callbacks.empty()) {
            auto node = callbacks.extract(callbacks.begin());
            running = node.key();
            lock.unlock();
            {
                const std::function<void()> callback = std::move(node.mapped());
                node = {};
                invoke(callback);
            }
            lock.lock();
            running = 0;
            callbackReturned.notify_all();
        }
    }

    void unregister(quint64 id)
    {
        std::function<void()> removed;
        std::unique_lock lock(mutex);
        const auto it = callbacks.find(id);
        if (it != callbacks.end()) {
            removed = std::move(it->second);
            callbacks.erase(it);
            lock.unlock();
            return; // `removed` is destroyed outside the lock
        }
        if (running == id && cancellingThread != std::this_thread::get_id())
            callbackReturned.wait(lock, [&] { return running != id; });
    }
};
} // namespace detail

CancelRegistration &CancelRegistration::operator=(CancelRegistration &&other) noexcept
{
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
        m_post = std::move(other.m_post);
    }
    return *this;
}

void CancelRegistration::reset()
{
    if (auto state = m_state.lock())
        state->unregister(m_id);
    m_state.reset();
    m_id = 0;
    m_post.reset();
}

bool CancelToken::cancelled() const
{
    if (!m_state)
        return false;
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

void CancelToken::throwIfCancelled() const
{
    if (cancelled())
        throw CancelledError();
}

CancelRegistration CancelToken::onCancel(std::function<void()> callback) const
{
    if (!m_state)
        return {};
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->cancelled) {
            const quint64 id = m_state->nextId++;
            m_state->callbacks.emplace(id, std::move(callback));
            return CancelRegistration(m_state, id);
        }
    }
    detail::CancelState::invoke(callback);
    return {};
}

CancelRegistration CancelToken::onCancel(QObject *context, std::function<void()> callback) const
{
    if (!m_state || !context)
        return {};
    auto post = std::make_unique<ThreadPost>(context->thread());
    // Checked on the context's thread, where the context can only go between two events.
    QPointer<QObject> guard(context);
    auto run = [guard, callback = std::move(callback)] {
        if (guard)
            callback();
    };
    CancelRegistration registration = onCancel([sender = post->sender(), run = std::move(run)] { sender.post(run); });
    registration.m_post = std::move(post);
    return registration;
}

CancelSource::CancelSource() : m_state(std::make_shared<detail::CancelState>()) {}

CancelSource::CancelSource(const CancelToken &parent) : CancelSource()
{
    std::weak_ptr<detail::CancelState> weak = m_state;
    m_parentLink = std::make_shared<CancelRegistration>(parent.onCancel([weak] {
        if (auto state = weak.lock())
            state->cancel();
    }));
}

void CancelSource::cancel() const
{
    m_state->cancel();
}

bool CancelSource::cancelled() const
{
    return token().cancelled();
}
