#pragma once

#include "platform/Keyring.h"

#include <memory>

class SerialExecutor;

// The user's keyring through the Secret Service on the session bus. Each secret is a generic item
// with the attributes "service" and "account". Locked items and collections are reported as
// kInteractionNotAllowed and never unlocked; a new item goes into the default collection.
//
// libsecret's calls wait for D-Bus answers, which a busy or stopped keyring daemon can hold back
// for as long as the bus's own time-out; they run one at a time on the keyring's own thread, so
// the caller's thread keeps running its event loop. Destroying the keyring waits for the call
// that is running there: keep it alive (as callers of an asynchronous call do) until it answers.
class SecretServiceKeyring : public Keyring
{
public:
    SecretServiceKeyring();
    ~SecretServiceKeyring() override;

    QCoro::Task<ReadResult> read(QString service, QString account, CancelToken token = {}) override;
    QCoro::Task<int> write(QString service, QString account, QByteArray secret) override;

private:
    std::unique_ptr<SerialExecutor> m_executor;
};
