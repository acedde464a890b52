#pragma once

#include "core/HubError.h"
#include "core/async/CancelToken.h"

#include <QPointer>

// Ends a step of a coroutine whose object is gone, or whose caller gave up, while it waited: the
// step throws CancelledError rather than touch what is no longer there.
template <typename T> void ensureCurrent(const QPointer<T> &object, const CancelToken &cancel = {})
{
    if (cancel.cancelled() || !object)
        throw CancelledError();
}
