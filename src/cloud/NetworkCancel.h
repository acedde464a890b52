#pragma once

#include "core/async/CancelToken.h"

#include <QNetworkReply>

// Aborts `reply` when `token` fires, for as long as the returned registration lives. The abort runs
// from the reply's event loop, never inside `cancel()`; it emits `finished`, whose waiter resumes
// through the event loop in turn (HubNetwork's wait), never inside `abort()`.
[[nodiscard]] inline CancelRegistration abortOnCancel(QNetworkReply *reply, const CancelToken &token)
{
    QPointer<QNetworkReply> guard(reply);
    return token.onCancel(reply, [guard] {
        if (guard && guard->isRunning())
            guard->abort();
    });
}
