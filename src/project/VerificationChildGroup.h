#pragma once

#include "core/async/CancelToken.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

#include <sys/types.h>

class ChildInterrupt;

// The process group of the one running build-verification child. Session close cancels it from the
// main thread while the project-tools actor may be spawning; the lock orders the two.
class VerificationChildGroup
{
public:
    struct Outcome
    {
        // Exit code, or 128 plus the signal that ended the child (137 after SIGKILL).
        int status = 0;
        // The kept output (standard output and error together), cut to whole characters.
        QString output;
        // More than the limit arrived.
        bool truncated = false;
        // The time budget ran out and the group was killed.
        bool timedOut = false;
    };

    // Runs `arguments` (program first, looked up on the filtered PATH through /usr/bin/env) in `root`
    // as a process group of its own, with the verification environment, for at most `seconds`
    // (0.01 at least), keeping the first `limit` output bytes (the group is then killed) or, with
    // `tail`, the last ones. Blocks until the child is reaped. Throws CancelledError when the group
    // was cancelled, a child runs already or `token` fired; HubError when the child cannot be started
    // or watched. A cancellation of `token` while the child runs cancels the group. Reaching the
    // time budget or the head limit kills the group without cancelling it: only a real stop is
    // sticky.
    Outcome run(const QStringList &arguments, const QString &root, double seconds, qint64 limit, bool tail,
                CancelToken token = {});

    // Sets the cancelled flag and kills the running child's whole process group, if any.
    void cancel();
    // Clears the cancelled flag when no child runs; called when a turn starts.
    void rearm();

    std::mutex lock;
    pid_t pid = 0;
    bool cancelled = false;

private:
    // Set while a run is under way (from admission to reaping), so that a stop wakes its read.
    std::shared_ptr<ChildInterrupt> m_interrupt;
};
