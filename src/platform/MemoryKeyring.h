#pragma once

#include "platform/Keyring.h"

#include <QHash>
#include <QPair>

// A keyring held in memory for the life of the object, with the statuses of the real one: while
// locked, every read and write answers kInteractionNotAllowed and changes nothing. Like the real
// one it answers on a later turn of the event loop, never inside the call.
class MemoryKeyring : public Keyring
{
public:
    QCoro::Task<ReadResult> read(QString service, QString account, CancelToken token = {}) override;
    QCoro::Task<int> write(QString service, QString account, QByteArray secret) override;

    void setLocked(bool locked) { m_locked = locked; }
    // How many writes changed a secret; an update in place counts like an addition.
    int writeCount() const { return m_writes; }

private:
    QHash<QPair<QString, QString>, QByteArray> m_secrets;
    bool m_locked = false;
    int m_writes = 0;
};
