#pragma once

#include "platform/ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// The one way the hub runs its companion program: one JSON request on standard input, one JSON
// reply on standard output, exit status 0 for success, a scrubbed environment, a deadline that ends
// the companion's whole process group and a hard cap on the reply.
namespace companion
{
enum class Job { changes, repository };

struct Launch
{
    QString program;
    QStringList arguments;
};

// The program for `job`: $TAVRILO_CODE_CLI when it is an absolute path to an executable, else
// "tavrilo-code" on the child's PATH. For a repository, a set but unusable TAVRILO_CODE_CLI throws
// "Configure an executable absolute CLI companion path." instead.
Launch choose(Job job);

// Runs the companion for `job` with `input` and returns its reply. `stop` ends it early (the
// repository opening's cancellation). Throws the job's sentences, or the system's error when it
// cannot be started, fed or read. Blocking: never on the main thread.
QByteArray run(Job job, const QByteArray &input, const std::shared_ptr<ChildInterrupt> &stop = {});
} // namespace companion
