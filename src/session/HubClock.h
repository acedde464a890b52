#pragma once

#include "core/async/CancelToken.h"

#include <QCoroTask>
#include <QDateTime>

#include <chrono>
#include <functional>

// The time the session model reads and the pauses it makes: the wall clock that dates refreshes,
// journal interrupts and token expiry, and the pause between two passes of the poll loop. Whoever
// assembles the model may pass others (tests pass a clock they move by hand); the real ones stand
// wherever a member is left empty.
struct HubClock
{
    // The current time, in UTC.
    using Now = std::function<QDateTime()>;
    // Waits on the monotonic clock; ends with CancelledError when the token fires.
    using Sleeper = std::function<QCoro::Task<void>(std::chrono::milliseconds, CancelToken)>;

    Now now;
    Sleeper sleep;

    // This clock with the system clock and sleepFor where it has none.
    HubClock completed() const;
};
