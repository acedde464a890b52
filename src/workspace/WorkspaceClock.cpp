#include "workspace/WorkspaceClock.h"

#include "core/async/Sleep.h"

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

std::shared_ptr<WorkspaceClock> WorkspaceClock::system()
{
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}
