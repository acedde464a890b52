#include "SessionTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace sessiontest;

namespace
{
using sessiontest::PrintTo;

const QString kSession = QStringLiteral("prj-0123456789abcdef0123456789abcdef01234567");

class EventMerge : public ::testing::Test
{
protected:
    EventMerge() : model(makeModel())
    {
        model->setConfiguration(configuration());
        model->setSessionID(kSession);
    }

    // Counts every change signal of the model's stored values.
    std::vector<std::unique_ptr<QSignalSpy>> spyOnEverything()
    {
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        const QMetaObject &meta = HubModel::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            if (meta.property(i).hasNotifySignal())
                spies.push_back(std::make_unique<QSignalSpy>(model.get(), meta.property(i).notifySignal()));
        return spies;
    }
    static qsizetype total(const std::vector<std::unique_ptr<QSignalSpy>> &spies)
    {
        qsizetype sum = 0;
        for (const auto &spy : spies)
            sum += spy->count();
        return sum;
    }

    std::unique_ptr<HubModel> model;
};

struct FilterCase
{
    const char *name;
    std::function<void(WorkspaceEvent &)> change;
    bool merged;
};

class EventFilter : public EventMerge, public ::testing::WithParamInterface<FilterCase>
{
};

// A refused event leaves nothing behind: not its effects, and not its id, so the same id still
// merges when it arrives for this application, workspace and session.
TEST_P(EventFilter, TakesOnlyEventsOfThisAppWorkspaceAndSession)
{
    WorkspaceEvent e = event(QStringLiteral("e1"), "tool_start", {{"agent", QStringLiteral("tavrilo_builder")}});
    GetParam().change(e);
    const auto spies = spyOnEverything();

    EXPECT_EQ(model->mergeEvent(e), GetParam().merged);
    if (GetParam().merged)
        return;
    EXPECT_EQ(total(spies), 0);
    EXPECT_TRUE(model->events().isEmpty());
    EXPECT_EQ(model->pendingInputGeneration(), 0);

    EXPECT_TRUE(model->mergeEvent(event(QStringLiteral("e1"), "tool_start")));
}

INSTANTIATE_TEST_SUITE_P(
    EventMerge, EventFilter,
    ::testing::Values(
        FilterCase{"plain", [](WorkspaceEvent &) {}, true},
        FilterCase{"empty_payload", [](WorkspaceEvent &e) { e.payload.clear(); }, true},
        FilterCase{"other_app", [](WorkspaceEvent &e) { e.appID = QStringLiteral("hub-other"); }, false},
        FilterCase{"other_workspace", [](WorkspaceEvent &e) { e.tenantID = QStringLiteral("tenant-b"); }, false},
        FilterCase{"app_differs_in_case", [](WorkspaceEvent &e) { e.appID = e.appID.toUpper(); }, false},
        FilterCase{"this_session", [](WorkspaceEvent &e) { e.payload.insert(QStringLiteral("session_id"), kSession); },
                   true},
        FilterCase{"other_session",
                   [](WorkspaceEvent &e) { e.payload.insert(QStringLiteral("session_id"), QStringLiteral("S2")); },
                   false},
        FilterCase{"other_session_camel_case",
                   [](WorkspaceEvent &e) { e.payload.insert(QStringLiteral("sessionId"), QStringLiteral("S2")); },
                   false},
        FilterCase{"snake_case_wins_over_camel_case",
                   [](WorkspaceEvent &e) {
                       e.payload.insert(QStringLiteral("session_id"), kSession);
                       e.payload.insert(QStringLiteral("sessionId"), QStringLiteral("S2"));
                   },
                   true},
        FilterCase{"snake_case_refuses_despite_camel_case",
                   [](WorkspaceEvent &e) {
                       e.payload.insert(QStringLiteral("session_id"), QStringLiteral("S2"));
                       e.payload.insert(QStringLiteral("sessionId"), kSession);
                   },
                   false},
        FilterCase{"command_of_other_session",
                   [](WorkspaceEvent &e) {
                       e.kind = QStringLiteral("command.interrupt");
                       e.payload.insert(QStringLiteral("session_id"), QStringLiteral("S2"));
                   },
                   true},
        FilterCase{"command_of_other_workspace",
                   [](WorkspaceEvent &e) {
                       e.kind = QStringLiteral("command.interrupt");
                       e.tenantID = QStringLiteral("tenant-b");
                   },
                   false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EventMerge, NothingMergesWithoutAConfiguration)
{
    model->setConfiguration(std::nullopt);
    EXPECT_FALSE(model->mergeEvent(event(QStringLiteral("e1"), "text")));
    model->setConfiguration(configuration());
    EXPECT_TRUE(model->mergeEvent(event(QStringLiteral("e1"), "text")));
}

// The same event arrives through the journal and through the realtime subscription.
TEST_F(EventMerge, ARepeatedIdChangesNothing)
{
    const WorkspaceEvent done = event(QStringLiteral("e1"), "done");
    model->setRunning(true);
    ASSERT_TRUE(model->mergeEvent(done));
    model->setRunning(true);
    const auto spies = spyOnEverything();

    EXPECT_FALSE(model->mergeEvent(done));
    EXPECT_FALSE(model->mergeEvent(event(QStringLiteral("e1"), "usage", {{"agent", QStringLiteral("tavrilo_a")}})));
    EXPECT_EQ(total(spies), 0);
    EXPECT_TRUE(model->running());
    EXPECT_EQ(model->events().size(), 1);
    EXPECT_EQ(model->pendingInputGeneration(), 1);
}

TEST_F(EventMerge, KeepsTheLast200Events)
{
    for (int i = 1; i <= 201; ++i)
        ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("e%1").arg(i), "text")));
    ASSERT_EQ(model->events().size(), 200);
    EXPECT_EQ(model->events().first().id, QStringLiteral("e2"));
    EXPECT_EQ(model->events().last().id, QStringLiteral("e201"));
}

TEST_F(EventMerge, ForgetsTheOldestIdAfter4096Others)
{
    ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("first"), "text")));
    ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("second"), "text")));
    for (int i = 0; i < 4095; ++i)
        ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("other-%1").arg(i), "text")));
    // "first" is forgotten now; "second" is still among the last 4096.
    EXPECT_FALSE(model->mergeEvent(event(QStringLiteral("second"), "text")));
    EXPECT_TRUE(model->mergeEvent(event(QStringLiteral("first"), "text")));
    EXPECT_FALSE(model->mergeEvent(event(QStringLiteral("first"), "text")));
}

TEST(EventIdRing, HoldsAtMost4096IdsOldestOut)
{
    eventmerge::EventIdRing ring;
    for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(ring.insert(QString::number(i)));
    EXPECT_EQ(ring.size(), 4096);
    EXPECT_FALSE(ring.contains(QStringLiteral("903")));
    EXPECT_TRUE(ring.contains(QStringLiteral("904")));
    EXPECT_FALSE(ring.insert(QStringLiteral("4999")));
    EXPECT_EQ(ring.size(), 4096);
}

struct RunningCase
{
    const char *name;
    const char *kind;
    std::optional<QStringList> working; // the roles named in "working", by seat
    bool runningBefore;
    bool runningAfter;
};

class RunningFlag : public EventMerge, public ::testing::WithParamInterface<RunningCase>
{
};

TEST_P(RunningFlag, FollowsPresenceThenTurnEnds)
{
    const RunningCase &c = GetParam();
    model->setRunning(c.runningBefore);
    WorkspaceEvent e = event(QStringLiteral("e1"), c.kind);
    if (c.working) {
        Json list = Json::array();
        for (const QString &role : *c.working)
            list.push_back(role.toStdString());
        e.payload.insert(QStringLiteral("working"), QString::fromUtf8(json::dump(list)));
    }
    ASSERT_TRUE(model->mergeEvent(e));
    EXPECT_EQ(model->running(), c.runningAfter);
}

const QString kRole = NativePresence::roles().value(1);

INSTANTIATE_TEST_SUITE_P(EventMerge, RunningFlag,
                         ::testing::Values(RunningCase{"someone_works", "status", QStringList{kRole}, false, true},
                                           RunningCase{"nobody_works", "status", QStringList{}, true, false},
                                           RunningCase{"no_working_entry", "status", std::nullopt, true, true},
                                           RunningCase{"turn_end_while_someone_works", "done", QStringList{kRole},
                                                       false, false},
                                           RunningCase{"done", "done", std::nullopt, true, false},
                                           RunningCase{"turn_end", "turn_end", std::nullopt, true, false},
                                           RunningCase{"turn_completed", "turn_completed", std::nullopt, true, false},
                                           RunningCase{"error", "error", std::nullopt, true, false},
                                           RunningCase{"tool_end", "tool_end", std::nullopt, true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

struct GateCase
{
    const char *name; // the kind
    bool bumps;
};

class GateKinds : public EventMerge, public ::testing::WithParamInterface<GateCase>
{
};

// An answer to the pending-input query asked for before one of these events is stale.
TEST_P(GateKinds, OutdatePendingInputAnswers)
{
    ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("e1"), GetParam().name)));
    EXPECT_EQ(model->pendingInputGeneration(), GetParam().bumps ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(EventMerge, GateKinds,
                         ::testing::Values(GateCase{"hook", true}, GateCase{"verify", true},
                                           GateCase{"tool_start", true}, GateCase{"tool_end", true},
                                           GateCase{"done", true}, GateCase{"turn_end", true},
                                           GateCase{"turn_completed", true}, GateCase{"error", true},
                                           GateCase{"browser_live_view", true}, GateCase{"text", false},
                                           GateCase{"usage", false}, GateCase{"command.interrupt", false}),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

struct RevisionCase
{
    const char *name;
    const char *bundle;
    QString revision;
    bool taken;
};

class TeamRevision : public EventMerge, public ::testing::WithParamInterface<RevisionCase>
{
};

TEST_P(TeamRevision, OnlyAFullLowerCaseDigestOfTheTeamBundle)
{
    const QString earlier(64, u'0');
    model->setTeamRevision(earlier);
    ASSERT_TRUE(model->mergeEvent(
        event(QStringLiteral("e1"), "metadata",
              {{"teamBundle", QString::fromUtf8(GetParam().bundle)}, {"teamRevision", GetParam().revision}})));
    EXPECT_EQ(model->teamRevision(), GetParam().taken ? GetParam().revision : earlier);
}

const QString kDigest = QStringLiteral("0123456789abcdef").repeated(4);

INSTANTIATE_TEST_SUITE_P(EventMerge, TeamRevision,
                         ::testing::Values(RevisionCase{"valid", "tavrilo-team", kDigest, true},
                                           RevisionCase{"upper_case", "tavrilo-team", kDigest.toUpper(), false},
                                           RevisionCase{"too_short", "tavrilo-team", kDigest.left(63), false},
                                           RevisionCase{"too_long", "tavrilo-team", kDigest + u'0', false},
                                           RevisionCase{"trailing_newline", "tavrilo-team", kDigest + u'\n', false},
                                           RevisionCase{"other_bundle", "other-team", kDigest, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(EventMerge, UsageIsTalliedPerAgent)
{
    const auto usage = [](const char *id, const char *agent, const char *tokens) {
        WorkspaceEvent e = event(QString::fromUtf8(id), "usage", {{"totalTokens", QString::fromUtf8(tokens)}});
        if (agent)
            e.payload.insert(QStringLiteral("agent"), QString::fromUtf8(agent));
        return e;
    };
    ASSERT_TRUE(model->mergeEvent(usage("e1", "tavrilo_builder", "100")));
    ASSERT_TRUE(model->mergeEvent(usage("e2", "tavrilo_builder", "20")));
    ASSERT_TRUE(model->mergeEvent(usage("e3", "tavrilo_tester", "5")));
    ASSERT_TRUE(model->mergeEvent(usage("e4", nullptr, "7")));

    EXPECT_EQ(model->usageByAgent().size(), 2);
    EXPECT_EQ(model->usageByAgent().value(QStringLiteral("tavrilo_builder")).tokens, 120);
    EXPECT_EQ(model->usageByAgent().value(QStringLiteral("tavrilo_tester")).tokens, 5);
    EXPECT_EQ(model->events().size(), 4);
    EXPECT_EQ(model->sessionTokenLabel(), QStringLiteral("Live observed · 125 tokens"));
}

// Each kept state is announced once per merged event, around the whole change.
TEST_F(EventMerge, AMergedEventAnnouncesEachChangedStateOnce)
{
    QSignalSpy projection(model.get(), &HubModel::eventProjectionChanged);
    QSignalSpy events(model.get(), &HubModel::eventsChanged);
    QSignalSpy presence(model.get(), &HubModel::presenceChanged);
    QSignalSpy usage(model.get(), &HubModel::usageByAgentChanged);
    ASSERT_TRUE(
        model->mergeEvent(event(QStringLiteral("e1"), "usage",
                                {{"agent", QStringLiteral("tavrilo_builder")}, {"totalTokens", QStringLiteral("3")}})));
    ASSERT_TRUE(model->mergeEvent(event(QStringLiteral("e2"), "text")));
    EXPECT_EQ(projection.count(), 2);
    EXPECT_EQ(events.count(), 2);
    EXPECT_EQ(presence.count(), 2);
    EXPECT_EQ(usage.count(), 1);
}
} // namespace
