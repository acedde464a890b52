#pragma once

#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class ChildInterrupt;

// The repository companion: opens a git repository into the workspace.
namespace NativeRepository
{

// The companion's reply: the opened directory, the repository's origin and, when refreshing the
// existing clone failed, why.
struct Result
{
    QString directory;
    QString origin;
    std::optional<QString> fetchFailed;
};

// Shared by one opening, its deadline and its caller's cancellation: once cancelled, a companion
// that has not started never starts, and one that runs is stopped with its process group.
class Owner
{
public:
    Owner();
    // Only the first call has an effect.
    void cancel();
    bool cancelled() const;
    // Throws CancelledError once cancelled; otherwise the interrupt that stops the run.
    std::shared_ptr<ChildInterrupt> admit() const;

private:
    mutable std::mutex m_lock;
    bool m_cancelled = false;
    std::shared_ptr<ChildInterrupt> m_stop;
};

// The request: origin {kind "git", url, ref when not empty} and the parent folder. Throws
// "Repository request exceeds its limit." past 16,384 bytes.
QByteArray request(const QString &url, const QString &ref, const QString &workspaceRoot);
// A checked reply: an absolute directory and a git origin, else "The repository companion returned
// an invalid project."; the decoder's sentence for anything that is no such object.
Result decode(const QByteArray &reply);
// Blocking: runs the companion for `input` under `owner`.
Result execute(const QByteArray &input, const std::shared_ptr<Owner> &owner);
// Opens `url` at `ref` below `workspaceRoot` off the calling thread. Cancelling `token` cancels the
// owner: before the launch the call ends with CancelledError, later the companion is stopped and the
// call fails with the companion's exit sentence.
QCoro::Task<Result> open(QString url, QString ref, QString workspaceRoot, CancelToken token);

} // namespace NativeRepository
