#pragma once

#include "core/async/CancelToken.h"

#include <QCoroTask>

#include <chrono>
#include <memory>

// The clock of the workspace tools' waits, pacing and limits. Its instants count the time the
// machine was suspended too (Linux's boot-time clock), so a limit measured in them holds across a
// suspend; its sleeps are ordinary event-loop waits, which a suspend stretches, so a long wait is
// taken in steps that re-read the clock.
class WorkspaceClock
{
public:
    using Instant = std::chrono::milliseconds; // since an arbitrary start, never going back

    virtual ~WorkspaceClock() = default;

    virtual Instant now() const = 0;
    // Ends after `duration`, or with CancelledError when `token` fires first.
    virtual QCoro::Task<void> sleep(std::chrono::milliseconds duration, CancelToken token) = 0;

    // Ends at `deadline`, or with CancelledError when `token` fires first. Waits in steps of at
    // most kLongWaitStep, each re-reading the clock, so that a suspend does not stretch the wait.
    QCoro::Task<void> sleepUntil(Instant deadline, CancelToken token);
    static constexpr std::chrono::seconds kLongWaitStep{30};

    // The machine's clock.
    static std::shared_ptr<WorkspaceClock> system();
};
