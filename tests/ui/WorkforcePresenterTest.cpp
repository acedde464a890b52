#include "ui/WorkforcePresenter.h"
#include "ui/Palette.h"
#include "ui/SectionTitles.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
const QStringList kRoles{QStringLiteral("tavrilo_liaison"),   QStringLiteral("tavrilo_architect"),
                         QStringLiteral("tavrilo_builder"),   QStringLiteral("tavrilo_reviewer"),
                         QStringLiteral("tavrilo_evaluator"), QStringLiteral("tavrilo_operator")};

// What the model derives from the working set while a turn runs: the seats after the liaison.
QStringList specialistsOf(const QSet<QString> &working)
{
    QStringList active;
    for (qsizetype i = 1; i < kRoles.size(); ++i) {
        if (working.contains(kRoles.at(i)))
            active.append(kRoles.at(i));
    }
    return active;
}

WorkforceInputs turn(QSet<QString> working, bool running = true, bool parallel = true)
{
    WorkforceInputs in;
    in.roles = kRoles;
    in.running = running;
    in.presence.working = working;
    in.presence.parallel = parallel;
    in.presence.velocity = 42.25F;
    in.presence.measuredRate = true;
    in.activeSpecialists = running ? specialistsOf(working) : QStringList();
    return in;
}

RosterColumn column(const WorkforceView &v, qsizetype i)
{
    return v.columns.at(i).value<RosterColumn>();
}

struct Case
{
    const char *name;
    std::function<WorkforceInputs()> state;
    const char *caption;
    const char *label;
    const char *value;
    bool dispatch;
    QVariantList dispatchLanes;
    double mask;
    double velocity;
    const char *lanesCaption;
};

class WorkforceState : public ::testing::TestWithParam<Case>
{
};

TEST_P(WorkforceState, DerivesTheRoundFromTheWorkingSet)
{
    const Case &c = GetParam();
    const WorkforceView v = workforceView(c.state());
    EXPECT_EQ(v.caption, QString::fromUtf8(c.caption));
    EXPECT_EQ(v.roundWidthLabel, QString::fromUtf8(c.label));
    EXPECT_EQ(v.roundWidthValue, QString::fromUtf8(c.value));
    EXPECT_EQ(v.dispatchShown, c.dispatch);
    EXPECT_EQ(v.dispatchLanes, c.dispatchLanes);
    EXPECT_EQ(v.laneMask, c.mask);
    EXPECT_EQ(v.laneVelocity, c.velocity);
    EXPECT_EQ(v.lanesCaption, QString::fromUtf8(c.lanesCaption));
}

const QString kLiaison = QStringLiteral("tavrilo_liaison");
const QString kBuilder = QStringLiteral("tavrilo_builder");
const QString kOperator = QStringLiteral("tavrilo_operator");

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, WorkforceState,
    ::testing::Values(
        // The count leaves the liaison out; the lanes count it.
        Case{"ParallelRound", [] { return turn({kLiaison, kBuilder, kOperator}); }, "LIVE ROUND",
             "Parallel round width", "2 / 5 specialists", true, {2, 5}, 1 + 4 + 32, 42.25,
             "OPENGL · 3 ACTIVE STAVES"},
        Case{"LiaisonAlone", [] { return turn({kLiaison}); }, "LIVE ROUND", "Parallel round width",
             "Liaison active", false, {}, 1, 42.25, "OPENGL · 1 ACTIVE STAVES"},
        Case{"NotParallel", [] { return turn({kBuilder, kOperator}, true, false); }, "LIVE ROUND",
             "Current round width", "2 / 5 specialists", false, {}, 4 + 32, 42.25, "OPENGL · 2 ACTIVE STAVES"},
        // Presence still lists workers after the turn: nothing is active.
        Case{"Stopped", [] { return turn({kLiaison, kBuilder}, false); }, "STANDING BY", "Parallel round width",
             "No active specialists", false, {}, 0, 0, "OPENGL · 0 ACTIVE STAVES"},
        Case{"Completed", [] {
                 WorkforceInputs in = turn({}, false);
                 in.turnCompleted = true;
                 return in;
             }, "TURN COMPLETED", "Parallel round width", "No active specialists", false, {}, 0, 0,
             "OPENGL · 0 ACTIVE STAVES"}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(WorkforceRoster, ColumnsFollowSeatOrderWithStateAndUsage)
{
    WorkforceInputs in = turn({kBuilder});
    in.usage.insert(kBuilder,
                    RoleUsage{QStringLiteral("1,024 tokens"), QStringLiteral("$0.02"), QStringLiteral("help")});
    const WorkforceView v = workforceView(in);
    ASSERT_EQ(v.columns.size(), kRoles.size());
    const QStringList names{QStringLiteral("Liaison"),  QStringLiteral("Architect"), QStringLiteral("Builder"),
                            QStringLiteral("Reviewer"), QStringLiteral("Evaluator"), QStringLiteral("Operator")};
    for (qsizetype i = 0; i < kRoles.size(); ++i) {
        EXPECT_EQ(column(v, i).roleID, kRoles.at(i));
        EXPECT_EQ(column(v, i).name, names.at(i));
        EXPECT_EQ(column(v, i).initial, names.at(i).left(1));
    }
    const RosterColumn builder = column(v, 2);
    EXPECT_TRUE(builder.active);
    EXPECT_EQ(builder.stateText, QStringLiteral("Working"));
    EXPECT_EQ(builder.stateColor, Palette::green());
    EXPECT_EQ(builder.circleStrokeWidth, 1.5);
    EXPECT_EQ(builder.usageText, QStringLiteral("1,024 tokens"));
    EXPECT_EQ(builder.help, QStringLiteral("help"));
    EXPECT_FALSE(builder.costShown);

    const RosterColumn idle = column(v, 3);
    EXPECT_FALSE(idle.active);
    EXPECT_EQ(idle.stateText, QStringLiteral("Idle"));
    EXPECT_EQ(idle.circleFill, Palette::paper());
    EXPECT_EQ(idle.usageText, QStringLiteral("Usage unavailable"));
    EXPECT_EQ(idle.costText, QStringLiteral("Cost unavailable"));
}

TEST(WorkforceRoster, ExpandedSectionShowsCostsAndTheLanesCaption)
{
    WorkforceInputs in = turn({kBuilder});
    EXPECT_FALSE(workforceView(in).lanesCaptionShown);
    in.expandedInspector = inspectorKey(QStringLiteral("Workforce"));
    in.presence.velocity = 12.34F;
    const WorkforceView v = workforceView(in);
    EXPECT_TRUE(v.lanesCaptionShown);
    EXPECT_TRUE(column(v, 0).costShown);
    EXPECT_EQ(v.serviceOutput, QStringLiteral("Service output · 12.3 tokens/s"));
    in.presence.measuredRate = false;
    EXPECT_EQ(workforceView(in).serviceOutput, QStringLiteral("Service output · unreported"));
    in.expandedInspector = inspectorKey(QStringLiteral("Events"));
    EXPECT_FALSE(workforceView(in).lanesCaptionShown);
}

TEST(WorkforceRoster, InspectionShowsTheLatestResponseOrWaits)
{
    WorkforceInputs in = turn({kBuilder});
    EXPECT_FALSE(workforceView(in).inspectionShown);
    in.inspectedAgent = kBuilder;
    WorkforceView v = workforceView(in);
    EXPECT_TRUE(v.inspectionShown);
    EXPECT_EQ(v.inspectionTitle, QStringLiteral("Builder · Live inspection"));
    EXPECT_EQ(v.inspectionResponse, QStringLiteral("Awaiting this agent's first streamed update."));
    EXPECT_EQ(v.inspectionCost, QStringLiteral("Cost unavailable"));
    in.responses.insert(kBuilder, QStringLiteral("Tests pass."));
    in.usage.insert(kBuilder, RoleUsage{QStringLiteral("9 tokens"), QStringLiteral("$0.01"), QString()});
    v = workforceView(in);
    EXPECT_EQ(v.inspectionResponse, QStringLiteral("Tests pass."));
    EXPECT_EQ(v.inspectionCost, QStringLiteral("$0.01"));
}

TEST(WorkforceRoster, DisplayNamesDropThePrefixAndCapitaliseWords)
{
    EXPECT_EQ(roleDisplayName(QStringLiteral("tavrilo_liaison")), QStringLiteral("Liaison"));
    EXPECT_EQ(roleDisplayName(QStringLiteral("xxxxxxxxBUILDER")), QStringLiteral("Builder"));
    EXPECT_EQ(roleDisplayName(QStringLiteral("tavrilo_release manager")), QStringLiteral("Release Manager"));
    EXPECT_EQ(roleDisplayName(QStringLiteral("short")), QString());
}

TEST(WorkforceRoster, LanesAndPendingCaptionFollowTheModel)
{
    WorkforceInputs in = turn({});
    in.running = false;
    WorkforceView v = workforceView(in);
    EXPECT_EQ(v.lanesAccessibleName, QStringLiteral("No active specialist turn"));
    EXPECT_FALSE(v.showsRenderedActivity);
    EXPECT_FALSE(v.pendingShown);
    in.running = true;
    in.hasRenderedActivity = true;
    in.pendingAttributionLabel =
        QStringLiteral("2 usage receipts awaiting attribution; no specialist allocation is implied.");
    v = workforceView(in);
    EXPECT_EQ(v.lanesAccessibleName, QStringLiteral("Specialist activity"));
    EXPECT_TRUE(v.showsRenderedActivity);
    EXPECT_TRUE(v.pendingShown);
    EXPECT_EQ(v.pendingText, *in.pendingAttributionLabel);
}

} // namespace
