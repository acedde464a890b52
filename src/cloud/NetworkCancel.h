#pragma once

#include "core/async/CancelToken.h"

#include <QNetworkReply>

// Aborts `reply` when `token` fires, for as long as the returned registration lives. QCoro resumes
// an awaited reply only on `finished`, which `abort()` emits; the abort runs from the reply's event
// loop, so the awaiting coroutine never resumes inside `cancel()`.
[[nodiscard]] inline CancelRegistration abortOnCancel(QNetworkReply *reply, const CancelToken &token)
{
    QPointer<QNetworkReply> guard(reply);
    return token.onCancel(reply, [guard] {
        if (guard && guard->isRunning())
            guard->abort();
    });
}
