#pragma once

#include "platform/Keyring.h"

#include <QHash>
#include <QPair>

// A keyring held in memory for the life of the object, with the statuses of the real one: while
// locked, every read and write answers kInteractionNotAllowed and changes nothing.
class MemoryKeyring : public Keyring
{
public:
    ReadResult read(const QString &service, const QString &account) override;
    int write(const QString &service, const QString &account, const QByteArray &secret) override;

    void setLocked(bool locked) { m_locked = locked; }
    // How many writes changed a secret; an update in place counts like an addition.
    int writeCount() const { return m_writes; }

private:
    QHash<QPair<QString, QString>, QByteArray> m_secrets;
    bool m_locked = false;
    int m_writes = 0;
};
