#include "project/CompanionRunner.h"

#include "core/HubError.h"

#include <unistd.h>

namespace companion
{
namespace
{
struct Row
{
    const char *mode;
    ChildProcess::Scrub scrub;
    std::chrono::milliseconds deadline;
    qint64 piece;
    qint64 cap;
    const char *overCap;
    const char *failed;
};

const Row &row(Job job)
{
    static const Row changes{"--documents",
                             ChildProcess::Scrub::companion,
                             std::chrono::seconds(35),
                             8192,
                             1200000,
                             "Working-tree response exceeds its preview limit.",
                             "The local working-tree reader failed. Install the matching tavrilo-code CLI companion or "
                             "set TAVRILO_CODE_CLI."};
    static const Row repository{"--project-open",
                                ChildProcess::Scrub::repository,
                                std::chrono::seconds(120),
                                4096,
                                16384,
                                "Repository companion response exceeds its limit.",
                                "The repository could not be opened. Check its address and noninteractive Git access."};
    return job == Job::changes ? changes : repository;
}
} // namespace

Launch choose(Job job)
{
    const QStringList mode = {QStringLiteral("workspace"), QString::fromLatin1(row(job).mode)};
    const QString configured = qEnvironmentVariable("TAVRILO_CODE_CLI");
    if (configured.startsWith(u'/') && ::access(configured.toUtf8().constData(), X_OK) == 0)
        return {configured, mode};
    if (job == Job::repository && !configured.isEmpty())
        throw HubError(QStringLiteral("Configure an executable absolute CLI companion path."));
    return {QStringLiteral("/usr/bin/env"), QStringList{QStringLiteral("tavrilo-code")} + mode};
}

QByteArray run(Job job, const QByteArray &input, const std::shared_ptr<ChildInterrupt> &stop)
{
    const Row &r = row(job);
    const Launch launch = choose(job);
    ChildProcess::Options options;
    options.program = launch.program;
    options.arguments = launch.arguments;
    options.environment = ChildProcess::environment(r.scrub);
    options.input = input;
    options.errors = ChildProcess::ErrorOutput::discarded;
    options.limit = r.cap;
    options.keep = ChildProcess::Keep::head;
    options.readPiece = r.piece;
    options.deadline = r.deadline;
    // A companion that ignores SIGTERM is killed with its whole group this much later.
    options.stopSignal = SIGTERM;
    options.killGrace = std::chrono::seconds(5);
    if (stop)
        options.interrupts.push_back(stop);

    ChildProcess::Result result;
    try {
        result = ChildProcess::run(options);
    } catch (const ChildProcessError &error) {
        throw HubError(error.systemDescription());
    }
    if (result.truncated)
        throw HubError(QString::fromUtf8(r.overCap));
    if (result.status != 0)
        throw HubError(QString::fromUtf8(r.failed));
    return result.output;
}
} // namespace companion
