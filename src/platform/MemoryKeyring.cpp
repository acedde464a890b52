#include "platform/MemoryKeyring.h"

#include "core/async/Sleep.h"

#include <chrono>

using namespace std::chrono_literals;

// Each call holds `this` across its wait: whoever owns the keyring keeps it until the call ends.

QCoro::Task<Keyring::ReadResult> MemoryKeyring::read(QString service, QString account, CancelToken token)
{
    co_await sleepFor(0ms, token);
    if (m_locked)
        co_return ReadResult{kInteractionNotAllowed, {}};
    const auto it = m_secrets.constFind({service, account});
    if (it == m_secrets.constEnd())
        co_return ReadResult{kItemNotFound, {}};
    co_return ReadResult{kSuccess, *it};
}

QCoro::Task<int> MemoryKeyring::write(QString service, QString account, QByteArray secret)
{
    co_await sleepFor(0ms, {});
    if (m_locked)
        co_return kInteractionNotAllowed;
    m_secrets.insert({service, account}, secret);
    ++m_writes;
    co_return kSuccess;
}
