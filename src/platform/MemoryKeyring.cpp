#include "platform/MemoryKeyring.h"

Keyring::ReadResult MemoryKeyring::read(const QString &service, const QString &account)
{
    if (m_locked)
        return {kInteractionNotAllowed, {}};
    const auto it = m_secrets.constFind({service, account});
    if (it == m_secrets.constEnd())
        return {kItemNotFound, {}};
    return {kSuccess, *it};
}

int MemoryKeyring::write(const QString &service, const QString &account, const QByteArray &secret)
{
    if (m_locked)
        return kInteractionNotAllowed;
    m_secrets.insert({service, account}, secret);
    ++m_writes;
    return kSuccess;
}
