#pragma once

#include "platform/Keyring.h"

// The user's keyring through the Secret Service on the session bus. Each secret is a generic item
// with the attributes "service" and "account". Locked items and collections are reported as
// kInteractionNotAllowed and never unlocked; a new item goes into the default collection.
// Calls are synchronous and run on the calling thread.
class SecretServiceKeyring : public Keyring
{
public:
    ReadResult read(const QString &service, const QString &account) override;
    int write(const QString &service, const QString &account, const QByteArray &secret) override;
};
