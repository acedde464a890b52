#include "workspace/WorkspaceClock.h"

#include "core/async/Sleep.h"

#include <algorithm>

#include <time.h>

namespace
{
class SystemClock final : public WorkspaceClock
{
public:
    Instant now() const override
    {
        timespec time{};
        clock_gettime(CLOCK_BOOTTIME, &time);
        return std::chrono::duration_cast<Instant>(std::chrono::seconds(time.tv_sec) +
                                                   std::chrono::nanoseconds(time.tv_nsec));
    }

    QCoro::Task<void> sleep(std::chrono::milliseconds duration, CancelToken token) override
    {
        return sleepFor(duration, std::move(token));
    }
};
} // namespace

QCoro::Task<void> WorkspaceClock::sleepUntil(Instant deadline, CancelToken token)
{
    for (Instant left = deadline - now(); left.count() > 0; left = deadline - now()) {
        const std::chrono::milliseconds step = std::min<std::chrono::milliseconds>(left, kLongWaitStep);
        co_await sleep(step, token);
    }
    token.throwIfCancelled();
}

std::shared_ptr<WorkspaceClock> WorkspaceClock::system()
{
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}
