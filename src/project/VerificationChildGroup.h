#pragma once

#include <sys/types.h>

#include <mutex>

// The process group of the one running build-verification child. Session close cancels it from the
// main thread while the project-tools actor may be spawning; the lock orders the two.
class VerificationChildGroup
{
public:
    // Sets the cancelled flag and kills the running child's whole process group, if any.
    void cancel();
    // Clears the cancelled flag when no child runs; called when a turn starts.
    void rearm();

    std::mutex lock;
    pid_t pid = 0;
    bool cancelled = false;
};
