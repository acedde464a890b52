#pragma once

#include "session/ToolTarget.h"

#include "ui/ModelFollower.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the workforce's run controls show and allow: the task line, the human-operator row and the
// runtime row, from the model's values.
struct RunControlsInputs
{
    QString prompt;
    bool canRun = false;
    bool running = false;
    bool controlsConnected = false;
    bool controlInFlight = false;
    bool operatorPaused = false;
    std::optional<QString> activeSessionID;
    bool closingSession = false;
    ToolTargets activeTools;
    QString selectedSkipID;
    bool hasSkipTarget = false;
    bool turnCompleted = false;
};

struct RunControlsView
{
    Q_GADGET
    QML_VALUE_TYPE(runControlsView)
    Q_PROPERTY(QString taskText MEMBER taskText)
    Q_PROPERTY(QColor taskColor MEMBER taskColor)
    Q_PROPERTY(bool runEnabled MEMBER runEnabled)
    Q_PROPERTY(QString interruptText MEMBER interruptText)
    Q_PROPERTY(bool interruptEnabled MEMBER interruptEnabled)
    Q_PROPERTY(QString pauseText MEMBER pauseText)
    Q_PROPERTY(bool pauseEnabled MEMBER pauseEnabled)
    Q_PROPERTY(bool pickerShown MEMBER pickerShown)
    Q_PROPERTY(QStringList pickerTitles MEMBER pickerTitles)
    Q_PROPERTY(QStringList pickerTags MEMBER pickerTags)
    Q_PROPERTY(int pickerIndex MEMBER pickerIndex)
    Q_PROPERTY(bool skipEnabled MEMBER skipEnabled)
    Q_PROPERTY(bool stopEnabled MEMBER stopEnabled)
    Q_PROPERTY(QString stopHelp MEMBER stopHelp)
    Q_PROPERTY(bool interjectEnabled MEMBER interjectEnabled)
    Q_PROPERTY(QString statusWord MEMBER statusWord)

public:
    friend bool operator==(const RunControlsView &, const RunControlsView &) = default;

    QString taskText; // the prompt untrimmed, or the placeholder when it is empty
    QColor taskColor; // ink for a task, muted for the placeholder
    bool runEnabled = false;
    QString interruptText;
    bool interruptEnabled = false;
    QString pauseText; // "Resume" while paused, else "Pause"
    bool pauseEnabled = false;
    // The skip target picker, shown for two or more running calls: "Choose tool" with the empty tag,
    // then the calls by ascending tool-use id as "agent · tool" tagged with that id.
    bool pickerShown = false;
    QStringList pickerTitles;
    QStringList pickerTags;
    int pickerIndex = -1; // the entry whose tag is the selected skip id; -1 for none
    bool skipEnabled = false;
    bool stopEnabled = false;
    QString stopHelp;
    bool interjectEnabled = false;
    QString statusWord;
};

RunControlsView runControlsView(const RunControlsInputs &in);
RunControlsInputs runControlsInputs(const HubModel &model);

// The runtime row's one-word status; the first case that matches wins.
QString runtimeStatusWord(bool running, bool hasActiveSession, bool operatorPaused, bool turnCompleted);

// The whole runtime row's tooltip.
inline constexpr const char *kRunControlsHelp =
    "Run controls use the authenticated platform API for the active session.";

// The window's RunControlsView, followed from the model: `RunControlsPresenter { model: root.model }` and
// `text: presenter.view.someText`.
class RunControlsPresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(RunControlsView view READ view NOTIFY viewChanged)

public:
    using ModelFollower::ModelFollower;

    const RunControlsView &view() const { return m_view; }

Q_SIGNALS:
    void viewChanged();

protected:
    void refresh() override;

private:
    RunControlsView m_view = runControlsView({});
};
