#include "project/VerificationChildGroup.h"

#include <csignal>

void VerificationChildGroup::cancel()
{
    std::lock_guard guard(lock);
    cancelled = true;
    if (pid > 0)
        ::kill(-pid, SIGKILL);
}

void VerificationChildGroup::rearm()
{
    std::lock_guard guard(lock);
    if (pid == 0)
        cancelled = false;
}
