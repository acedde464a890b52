#include "ui/RunControlsPresenter.h"
#include "ui/Palette.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
ToolTarget call(const char *id, const char *tool, const char *agent)
{
    return ToolTarget{QString::fromUtf8(id), QString::fromUtf8(tool), QString::fromUtf8(agent), std::nullopt};
}

// A turn this window started, connected, with one running tool call.
RunControlsInputs runningTurn()
{
    RunControlsInputs in;
    in.prompt = QStringLiteral("Add a search box");
    in.running = true;
    in.controlsConnected = true;
    in.activeSessionID = QStringLiteral("prj-1");
    in.activeTools.insert(QStringLiteral("tu-1"), call("tu-1", "bash", "tavrilo_builder"));
    in.hasSkipTarget = true;
    return in;
}

RunControlsInputs with(RunControlsInputs in, const std::function<void(RunControlsInputs &)> &change)
{
    change(in);
    return in;
}

struct Want
{
    bool run;
    bool interrupt;
    bool pause;
    bool skip;
    bool stop;
    bool interject;
    const char *status;
};

struct Case
{
    const char *name;
    std::function<RunControlsInputs()> state;
    Want want;
};

class RunControlsState : public ::testing::TestWithParam<Case>
{
};

TEST_P(RunControlsState, EnablesTheControlsThatCanAct)
{
    const Case &c = GetParam();
    const RunControlsView v = runControlsView(c.state());
    EXPECT_EQ(v.runEnabled, c.want.run);
    EXPECT_EQ(v.interruptEnabled, c.want.interrupt);
    EXPECT_EQ(v.pauseEnabled, c.want.pause);
    EXPECT_EQ(v.skipEnabled, c.want.skip);
    EXPECT_EQ(v.stopEnabled, c.want.stop);
    EXPECT_EQ(v.interjectEnabled, c.want.interject);
    EXPECT_EQ(v.statusWord, QString::fromUtf8(c.want.status));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, RunControlsState,
    ::testing::Values(
        Case{"Running", runningTurn, {false, true, true, true, true, true, "Runtime active"}},
        Case{"Paused", [] { return with(runningTurn(), [](auto &in) { in.operatorPaused = true; }); },
             {false, true, true, true, true, true, "Paused"}},
        // Another client's turn: Stop cannot reach it, the rest can.
        Case{"ObservingAnotherClient", [] { return with(runningTurn(), [](auto &in) { in.activeSessionID.reset(); }); },
             {false, true, true, true, false, true, "Observing another client"}},
        // Observing outranks paused.
        Case{"ObservingWhilePaused", [] { return with(runningTurn(), [](auto &in) {
                 in.activeSessionID.reset();
                 in.operatorPaused = true;
             }); },
             {false, true, true, true, false, true, "Observing another client"}},
        Case{"ControlInFlight", [] { return with(runningTurn(), [](auto &in) { in.controlInFlight = true; }); },
             {false, true, false, false, false, false, "Runtime active"}},
        Case{"SignedOut", [] { return with(runningTurn(), [](auto &in) { in.controlsConnected = false; }); },
             {false, true, false, false, false, false, "Runtime active"}},
        Case{"Closing", [] { return with(runningTurn(), [](auto &in) { in.closingSession = true; }); },
             {false, true, true, true, false, true, "Runtime active"}},
        Case{"NoSkipTarget", [] { return with(runningTurn(), [](auto &in) { in.hasSkipTarget = false; }); },
             {false, true, true, false, true, true, "Runtime active"}},
        // Between turns the session may still be held: Stop stays, the turn's controls go.
        Case{"IdleWithSession", [] { return with(runningTurn(), [](auto &in) {
                 in.running = false;
                 in.canRun = true;
             }); },
             {true, false, false, false, true, false, "No active session"}},
        Case{"TurnCompleted", [] { return with(runningTurn(), [](auto &in) {
                 in.running = false;
                 in.activeSessionID.reset();
                 in.turnCompleted = true;
             }); },
             {false, false, false, false, false, false, "Turn completed"}},
        // A completed turn does not outrank a running one.
        Case{"RunningAfterACompletedTurn", [] { return with(runningTurn(), [](auto &in) { in.turnCompleted = true; }); },
             {false, true, true, true, true, true, "Runtime active"}}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(RunControlsTexts, TaskLineShowsThePromptVerbatimOrAMutedPlaceholder)
{
    RunControlsInputs in;
    RunControlsView v = runControlsView(in);
    EXPECT_EQ(v.taskText, QStringLiteral("Describe the next thing to build…"));
    EXPECT_EQ(v.taskColor, Palette::muted());
    in.prompt = QStringLiteral("   ");
    v = runControlsView(in);
    EXPECT_EQ(v.taskText, QStringLiteral("   "));
    EXPECT_EQ(v.taskColor, Palette::ink());
    EXPECT_FALSE(v.runEnabled);
}

TEST(RunControlsTexts, LabelsFollowPauseStateAndSession)
{
    RunControlsInputs in = runningTurn();
    RunControlsView v = runControlsView(in);
    EXPECT_EQ(v.interruptText, QStringLiteral("Interrupt  Ctrl+."));
    EXPECT_EQ(v.pauseText, QStringLiteral("Pause"));
    EXPECT_EQ(v.stopHelp, QStringLiteral("Stop this runtime session and await cloud cleanup."));
    in.operatorPaused = true;
    in.activeSessionID.reset();
    v = runControlsView(in);
    EXPECT_EQ(v.pauseText, QStringLiteral("Resume"));
    EXPECT_EQ(v.stopHelp, QStringLiteral("This view is observing a session owned by another client."));
}

TEST(RunControlsPicker, AppearsForTwoCallsSortedByToolUseID)
{
    RunControlsInputs in = runningTurn();
    EXPECT_FALSE(runControlsView(in).pickerShown);

    // Inserted out of order, and the agent order differs from the id order.
    in.activeTools.insert(QStringLiteral("tu-3"), call("tu-3", "edit", "tavrilo_architect"));
    in.activeTools.insert(QStringLiteral("tu-10"), call("tu-10", "grep", "tavrilo_reviewer"));
    in.selectedSkipID = QStringLiteral("tu-3");
    const RunControlsView v = runControlsView(in);
    EXPECT_TRUE(v.pickerShown);
    EXPECT_EQ(v.pickerTitles,
              (QStringList{QStringLiteral("Choose tool"), QStringLiteral("tavrilo_builder · bash"),
                           QStringLiteral("tavrilo_reviewer · grep"), QStringLiteral("tavrilo_architect · edit")}));
    EXPECT_EQ(v.pickerTags,
              (QStringList{QString(), QStringLiteral("tu-1"), QStringLiteral("tu-10"), QStringLiteral("tu-3")}));
    EXPECT_EQ(v.pickerIndex, 3);

    in.selectedSkipID.clear();
    EXPECT_EQ(runControlsView(in).pickerIndex, 0);
    in.selectedSkipID = QStringLiteral("tu-gone");
    EXPECT_EQ(runControlsView(in).pickerIndex, -1);
}
} // namespace
