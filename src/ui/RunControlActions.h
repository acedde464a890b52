#pragma once

#include "core/async/Job.h"
#include "ui/ModelActions.h"

#include <QCoroTask>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>

// Stop acts on the session it was pressed for. The press notes the session, lets the event loop run
// once (so that a session switch already queued lands first) and closes only if the session is still
// the same; otherwise it says so in the status line.
namespace stopcheck
{
inline constexpr const char *kMismatch = "Stop does not match the active session.";

struct Target
{
    std::function<QString()> sessionID;
    std::function<void(const QString &)> report;
    // The session clean-up; its failure is reported by its owner, not here.
    std::function<QCoro::Task<void>()> close;
};

// Stops `target`'s session as it was at the call, after one pass of the event loop. Ends early,
// doing nothing, once `token` fires during that pass.
QCoro::Task<void> stopNotedSession(Target target, CancelToken token = {});
} // namespace stopcheck

// The run controls that decide something when they run: Stop (checked as above) and Pause or Resume
// (by the pause state as it is then). `RunControlActions { id: actions; model: root.model }`, then
// `onClicked: actions.stop()`.
class RunControlActions : public ModelActions
{
    Q_OBJECT
    QML_ELEMENT

public:
    using ModelActions::ModelActions;

    // Starts a checked stop and returns at once. Presses while one runs start another; the model's
    // own clean-up joins them.
    Q_INVOKABLE void stop();
    // Pauses a running turn, or resumes a paused one, in the current session.
    Q_INVOKABLE void togglePause();
};
