#pragma once

#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

// One secret per (service, account) pair in the user's keyring. Implementations never prompt and
// never unlock anything: where the user would have to act, the call returns a status instead.
//
// Both calls are asynchronous: the real keyring answers over D-Bus, and no caller may block the
// thread that runs the window while it does. They resume the awaiting coroutine on its own thread,
// through its event loop. Call and await them from one thread with an event loop.
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

    // The stored secret of the pair, or a status. Throws CancelledError when `token` fires first;
    // a read changes nothing, so it can be abandoned at any point.
    virtual QCoro::Task<ReadResult> read(QString service, QString account, CancelToken token = {}) = 0;
    // Replaces the stored secret of the pair in place, or adds it when none is stored; a status.
    // A write is never abandoned half-way: a secret handed over is stored or refused as a whole.
    virtual QCoro::Task<int> write(QString service, QString account, QByteArray secret) = 0;
};
