#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>

// Counts one operation in a count of `owner` for as long as it runs, however it ends (a return, an
// exception, the destruction of a coroutine suspended inside it); not once `owner` is gone.
// `change` takes +1 when the operation starts and -1 when it ends.
class ScopedCount
{
public:
    ScopedCount(QObject *owner, std::function<void(int)> change) : m_owner(owner), m_change(std::move(change))
    {
        m_change(1);
    }
    ~ScopedCount()
    {
        if (m_owner)
            m_change(-1);
    }
    ScopedCount(const ScopedCount &) = delete;
    ScopedCount &operator=(const ScopedCount &) = delete;

private:
    QPointer<QObject> m_owner;
    std::function<void(int)> m_change;
};
