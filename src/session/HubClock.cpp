#include "session/HubClock.h"

#include "core/async/Sleep.h"

HubClock HubClock::completed() const
{
    HubClock clock = *this;
    if (!clock.now)
        clock.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!clock.sleep)
        clock.sleep = [](std::chrono::milliseconds duration, CancelToken token) {
            return sleepFor(duration, std::move(token));
        };
    return clock;
}
