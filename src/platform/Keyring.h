#pragma once

#include <QByteArray>
#include <QString>

// One secret per (service, account) pair in the user's keyring. Implementations never prompt and
// never unlock anything: where the user would have to act, the call returns a status instead.
//
// Status numbers are part of the sentences users see, so they are fixed:
//   0        success
//   -25300   no secret is stored for the pair (item not found)
//   -25291   no keyring service is reachable (no session bus, or nothing answers on it)
//   -25294   there is no default collection to add a new secret to
//   -25308   the secret or its collection is locked, and unlocking it would need the user
//   -26276   any other failure of the keyring service
class Keyring
{
public:
    static constexpr int kSuccess = 0;
    static constexpr int kItemNotFound = -25300;
    static constexpr int kNotAvailable = -25291;
    static constexpr int kNoDefaultCollection = -25294;
    static constexpr int kInteractionNotAllowed = -25308;
    static constexpr int kServiceFailure = -26276;

    struct ReadResult
    {
        int status = kSuccess;
        QByteArray secret; // set only when status is kSuccess
    };

    virtual ~Keyring() = default;

    // The stored secret of the pair, or a status.
    virtual ReadResult read(const QString &service, const QString &account) = 0;
    // Replaces the stored secret of the pair in place, or adds it when none is stored; a status.
    virtual int write(const QString &service, const QString &account, const QByteArray &secret) = 0;
};
