#include "core/async/CancelToken.h"

#include "core/HubError.h"

#include <QThread>

#include <map>
#include <mutex>

namespace detail
{
struct CancelState
{
    std::mutex mutex;
    bool cancelled = false;
    quint64 nextId = 1;
    std::map<quint64, std::function<void()>> callbacks;

    void cancel()
    {
        std::map<quint64, std::function<void()>> toRun;
        {
            std::lock_guard lock(mutex);
            if (cancelled)
                return;
            cancelled = true;
            toRun.swap(callbacks);
        }
        for (auto &[id, callback] : toRun)
            callback();
    }
};
} // namespace detail

CancelRegistration &CancelRegistration::operator=(CancelRegistration &&other) noexcept
{
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void CancelRegistration::reset()
{
    if (auto state = m_state.lock()) {
        std::lock_guard lock(state->mutex);
        state->callbacks.erase(m_id);
    }
    m_state.reset();
    m_id = 0;
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
        std::unique_lock lock(m_state->mutex);
        if (!m_state->cancelled) {
            const quint64 id = m_state->nextId++;
            m_state->callbacks.emplace(id, std::move(callback));
            return CancelRegistration(m_state, id);
        }
    }
    callback();
    return {};
}

CancelRegistration CancelToken::onCancel(QObject *context, std::function<void()> callback) const
{
    QPointer<QObject> guard(context);
    return onCancel([guard, callback = std::move(callback)] {
        if (!guard)
            return;
        if (guard->thread() == QThread::currentThread())
            callback();
        else
            QMetaObject::invokeMethod(guard, callback, Qt::QueuedConnection);
    });
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
