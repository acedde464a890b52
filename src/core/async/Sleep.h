#pragma once

#include "core/async/CancelToken.h"

#include <QCoroTask>

#include <chrono>

// Waits `duration` on the calling thread's event loop; ends at once with CancelledError when
// `token` fires before or during the wait.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token);
