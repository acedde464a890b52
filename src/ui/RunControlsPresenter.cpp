#include "ui/RunControlsPresenter.h"

#include "session/HubModel.h"
#include "ui/Palette.h"

QString runtimeStatusWord(bool running, bool hasActiveSession, bool operatorPaused, bool turnCompleted)
{
    if (running && !hasActiveSession)
        return QStringLiteral("Observing another client");
    if (running && operatorPaused)
        return QStringLiteral("Paused");
    if (running)
        return QStringLiteral("Runtime active");
    if (turnCompleted)
        return QStringLiteral("Turn completed");
    return QStringLiteral("No active session");
}

RunControlsView runControlsView(const RunControlsInputs &in)
{
    RunControlsView v;
    v.taskText = in.prompt.isEmpty() ? QStringLiteral("Describe the next thing to build\u2026") : in.prompt;
    v.taskColor = in.prompt.isEmpty() ? Palette::muted() : Palette::ink();
    v.runEnabled = in.canRun;
    v.interruptText = QStringLiteral("Interrupt  Ctrl+.");
    v.interruptEnabled = in.running;

    // A control goes to the running session one at a time.
    const bool steerable = in.controlsConnected && in.running && !in.controlInFlight;
    v.pauseText = in.operatorPaused ? QStringLiteral("Resume") : QStringLiteral("Pause");
    v.pauseEnabled = steerable;

    v.pickerShown = in.activeTools.size() >= 2;
    if (v.pickerShown) {
        v.pickerTitles.append(QStringLiteral("Choose tool"));
        v.pickerTags.append(QString());
        // QMap keeps its keys, the tool-use ids, in ascending order.
        for (auto it = in.activeTools.cbegin(); it != in.activeTools.cend(); ++it) {
            v.pickerTitles.append(it->agent + QStringLiteral(" \u00B7 ") + it->tool);
            v.pickerTags.append(it.key());
        }
        v.pickerIndex = int(v.pickerTags.indexOf(in.selectedSkipID));
    }
    v.skipEnabled = steerable && in.hasSkipTarget;

    const bool ownSession = in.activeSessionID.has_value();
    v.stopEnabled = in.controlsConnected && ownSession && !in.controlInFlight && !in.closingSession;
    v.stopHelp = ownSession ? QStringLiteral("Stop this runtime session and await cloud cleanup.")
                            : QStringLiteral("This view is observing a session owned by another client.");
    v.interjectEnabled = steerable;
    v.statusWord = runtimeStatusWord(in.running, ownSession, in.operatorPaused, in.turnCompleted);
    return v;
}

RunControlsInputs runControlsInputs(const HubModel &model)
{
    RunControlsInputs in;
    in.prompt = model.prompt();
    in.canRun = model.canRun();
    in.running = model.running();
    in.controlsConnected = model.controlsConnected();
    in.controlInFlight = model.controlInFlight();
    in.operatorPaused = model.operatorPaused();
    in.activeSessionID = model.activeSessionID();
    in.closingSession = model.closingSession();
    in.activeTools = model.activeTools();
    in.selectedSkipID = model.selectedSkipID();
    in.hasSkipTarget = model.skipTarget().has_value();
    in.turnCompleted = model.eventProjection().turnCompleted;
    return in;
}

void RunControlsPresenter::refresh()
{
    if (replace(m_view, model() ? runControlsView(runControlsInputs(*model())) : runControlsView({})))
        Q_EMIT viewChanged();
}
