#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>

// Holds a flag set for the life of an operation and clears it on every way out: a return, an
// exception, or the destruction of a coroutine suspended inside it. Once `owner` is gone nothing is
// cleared, since the flag went with it. The flag is a plain member of `owner`, or a setter that
// announces it.
class ScopedFlag
{
public:
    ScopedFlag(QObject *owner, std::function<void(bool)> set) : m_owner(owner), m_set(std::move(set)) { m_set(true); }
    ScopedFlag(QObject *owner, bool &flag) : ScopedFlag(owner, [&flag](bool on) { flag = on; }) {}
    ~ScopedFlag()
    {
        if (m_owner)
            m_set(false);
    }
    ScopedFlag(const ScopedFlag &) = delete;
    ScopedFlag &operator=(const ScopedFlag &) = delete;

private:
    QPointer<QObject> m_owner;
    std::function<void(bool)> m_set;
};
