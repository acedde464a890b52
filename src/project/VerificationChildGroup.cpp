#include "project/VerificationChildGroup.h"

#include "core/HubError.h"
#include "platform/ChildProcess.h"

#include <algorithm>
#include <cmath>
#include <csignal>

namespace
{
HubError runError(const ChildProcessError &error)
{
    switch (error.stage()) {
    case ChildProcessError::Stage::fileActions:
        return HubError(QStringLiteral("Cannot prepare verification file actions."));
    case ChildProcessError::Stage::attributes:
        return HubError(QStringLiteral("Cannot prepare verification process attributes."));
    case ChildProcessError::Stage::isolation:
        return HubError(QStringLiteral("Cannot isolate the verification process group."));
    case ChildProcessError::Stage::spawn:
        return HubError(
            QStringLiteral("The project verification command could not start (status %1).").arg(error.error()));
    case ChildProcessError::Stage::inspect:
        return HubError(QStringLiteral("The verification child could not be inspected before cleanup."));
    case ChildProcessError::Stage::pipe:
    case ChildProcessError::Stage::write:
    case ChildProcessError::Stage::read:
        break;
    }
    return HubError(error.systemDescription());
}
} // namespace

VerificationChildGroup::Outcome VerificationChildGroup::run(const QStringList &arguments, const QString &root,
                                                            double seconds, qint64 limit, bool tail, CancelToken token)
{
    auto interrupt = std::make_shared<ChildInterrupt>();
    {
        std::lock_guard guard(lock);
        if (cancelled || pid != 0 || m_interrupt || token.cancelled())
            throw CancelledError();
        m_interrupt = interrupt;
    }
    struct Release
    {
        VerificationChildGroup &group;
        ~Release()
        {
            std::lock_guard guard(group.lock);
            group.m_interrupt.reset();
        }
    } release{*this};
    const CancelRegistration stopOnCancel = token.onCancel([this] { cancel(); });

    ChildProcess::Options options;
    options.program = QStringLiteral("/usr/bin/env");
    options.arguments = arguments;
    options.workingDirectory = root;
    options.environment = ChildProcess::environment(ChildProcess::Scrub::verification);
    options.errors = ChildProcess::ErrorOutput::merged;
    options.limit = limit;
    options.keep = tail ? ChildProcess::Keep::tail : ChildProcess::Keep::head;
    options.readPiece = 8192;
    const double budget = std::isfinite(seconds) ? std::clamp(seconds, 0.01, 86400.0) : 0.01;
    options.deadline = std::chrono::milliseconds(qint64(std::ceil(budget * 1000)));
    options.stopSignal = SIGKILL;
    options.interrupts = {interrupt};
    options.started = [this](pid_t child) {
        std::lock_guard guard(lock);
        pid = child;
        if (cancelled)
            ::kill(-child, SIGKILL);
    };
    options.reaping = [this](pid_t) {
        std::lock_guard guard(lock);
        pid = 0;
    };

    ChildProcess::Result result;
    try {
        result = ChildProcess::run(options);
    } catch (const ChildProcessError &error) {
        throw runError(error);
    }

    Outcome outcome;
    outcome.status = result.status;
    outcome.output = ChildProcess::wholeCharacters(result.output, qsizetype(limit), options.keep);
    outcome.truncated = result.truncated;
    outcome.timedOut = result.timedOut;
    return outcome;
}

void VerificationChildGroup::cancel()
{
    std::lock_guard guard(lock);
    cancelled = true;
    if (pid > 0)
        ::kill(-pid, SIGKILL);
    if (m_interrupt)
        m_interrupt->trigger();
}

void VerificationChildGroup::rearm()
{
    std::lock_guard guard(lock);
    if (pid == 0 && !m_interrupt)
        cancelled = false;
}
