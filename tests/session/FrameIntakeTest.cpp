// Frame intake: what one realtime frame changes in the model, without a platform (no frame here
// asks for pending inputs).
#include "SessionTestSupport.h"

#include "session/RunningTools.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace sessiontest;
using testsupport::awaitFor;

namespace
{
const QString kBuilder = QStringLiteral("tavrilo_builder");

class FrameIntake : public ::testing::Test
{
protected:
    FrameIntake() : model(makeModel())
    {
        model->setConfiguration(configuration());
        model->setIdentityToken(QStringLiteral("identity"));
        // No working-tree read at a turn's end: these frames need no companion program.
        model->setChangesShuttingDown(true);
    }

    // A frame of this model's session; `seq` 0 leaves it without one.
    Json frame(const char *kind, Json payload = Json::object(), int seq = 0, Json agent = "tavrilo_builder")
    {
        Json f{{"v", 1}, {"ts", "2026-05-01T10:00:00Z"}, {"turnId", "t1"}, {"kind", kind}, {"payload", payload}};
        if (seq > 0)
            f["seq"] = seq;
        if (!agent.is_null())
            f["agent"] = agent;
        return f;
    }
    void receive(Json f) { awaitFor(model->receiveFrame(std::move(f))); }

    QStringList runningTools() const { return model->activeTools().keys(); }

    std::unique_ptr<HubModel> model;
};

TEST_F(FrameIntake, FramesThatCannotBeReadChangeNothing)
{
    Json noKind = frame("text");
    noKind.erase("kind");
    Json numberKind = frame("text");
    numberKind["kind"] = 7;
    receive(noKind);
    receive(numberKind);
    model->setIdentityToken(std::nullopt);
    receive(frame("text", {{"text", "hello"}}));
    EXPECT_TRUE(model->events().isEmpty());
    EXPECT_EQ(model->activeInvocations(), 0);
}

// The running tool calls one frame leaves, from two calls of the builder ("a" at index 2, "b"
// without one) and one of the reviewer ("r" at index 2).
struct ToolCase
{
    const char *name;
    const char *kind;
    Json payload;
    QStringList running; // after the frame, in id order
    QStringList ended;
};

class RunningToolCalls : public ::testing::TestWithParam<ToolCase>
{
};

TEST_P(RunningToolCalls, FollowTheirStartsAndEnds)
{
    const ToolTargets before{
        {QStringLiteral("a"), ToolTarget{QStringLiteral("a"), QStringLiteral("project_read"), kBuilder, 2}},
        {QStringLiteral("b"), ToolTarget{QStringLiteral("b"), QStringLiteral("project_search"), kBuilder, {}}},
        {QStringLiteral("r"),
         ToolTarget{QStringLiteral("r"), QStringLiteral("project_list"), QStringLiteral("reviewer"), 2}},
    };
    const runningtools::Outcome after =
        runningtools::afterFrame(before, QString::fromLatin1(GetParam().kind), GetParam().payload, kBuilder);
    EXPECT_EQ(after.tools.keys(), GetParam().running);
    EXPECT_EQ(after.ended, GetParam().ended);
}

const QStringList kAll{"a", "b", "r"};

INSTANTIATE_TEST_SUITE_P(
    Frames, RunningToolCalls,
    ::testing::Values(
        ToolCase{"StartByIdAndName", "tool_start", {{"id", "c"}, {"name", "x"}}, {"a", "b", "c", "r"}, {}},
        ToolCase{
            "StartByToolUseIdAndTool", "tool_start", {{"toolUseId", "c"}, {"tool", "x"}}, {"a", "b", "c", "r"}, {}},
        ToolCase{"StartWithoutUsableName", "tool_start", {{"id", "c"}, {"name", 5}}, kAll, {}},
        ToolCase{"StartWithEmptyName", "tool_start", {{"id", "c"}, {"name", ""}}, kAll, {}},
        ToolCase{
            "EmptyIdIsNotReplacedByToolUseId", "tool_start", {{"id", ""}, {"toolUseId", "c"}, {"name", "x"}}, kAll, {}},
        ToolCase{"RepeatedStartKeepsOneEntry",
                 "tool_start",
                 {{"id", "a"}, {"name", "project_read"}, {"index", 2}},
                 kAll,
                 {}},
        ToolCase{"EndById", "tool_end", {{"id", "b"}}, {"a", "r"}, {"b"}},
        ToolCase{"EndByToolUseId", "tool_end", {{"toolUseId", "a"}}, {"b", "r"}, {"a"}},
        ToolCase{"EndOfAnUnknownIdNamesIt", "tool_end", {{"id", "z"}}, kAll, {"z"}},
        ToolCase{"UnusableIdEndsNothing", "tool_end", {{"id", 9}, {"index", 2}}, kAll, {}},
        ToolCase{"IndexEndsTheFramesAgentOnly", "tool_end", {{"index", 2}}, {"b", "r"}, {"a"}},
        ToolCase{"IndexWithoutCalls", "tool_end", {{"index", 7}}, kAll, {}},
        ToolCase{"OtherKindsChangeNothing", "text", {{"id", "a"}, {"index", 2}}, kAll, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FrameIntake, RunningToolCallsReachTheModelAndEndTheirSkip)
{
    receive(frame("tool_start", {{"id", "a"}, {"name", "project_read"}, {"index", 2}}, 1));
    receive(frame("tool_start", {{"toolUseId", "b"}, {"tool", "project_search"}}, 2));
    ASSERT_EQ(runningTools(), (QStringList{"a", "b"}));
    const ToolTarget a = model->activeTools().value(QStringLiteral("a"));
    EXPECT_EQ(a.tool, QStringLiteral("project_read"));
    EXPECT_EQ(a.agent, kBuilder);
    EXPECT_EQ(a.index, 2);

    model->setSelectedSkipID(QStringLiteral("b"));
    receive(frame("tool_end", {{"toolUseId", "b"}}, 3));
    EXPECT_EQ(runningTools(), (QStringList{"a"}));
    EXPECT_TRUE(model->selectedSkipID().isEmpty());

    // An end of another call leaves the selected skip.
    model->setSelectedSkipID(QStringLiteral("a"));
    receive(frame("tool_end", {{"id", "z"}}, 4));
    EXPECT_EQ(model->selectedSkipID(), QStringLiteral("a"));
    receive(frame("tool_end", {{"index", 2}}, 5));
    EXPECT_TRUE(runningTools().isEmpty());
    EXPECT_TRUE(model->selectedSkipID().isEmpty());
}

TEST_F(FrameIntake, ARepeatedFrameIsMergedOnceButRunsItsEffectsAgain)
{
    receive(frame("text", {{"text", "hello"}}, 1));
    receive(frame("text", {{"text", "hello"}}, 1));
    EXPECT_EQ(model->events().size(), 1);
    // Without a seq every delivery is a new event.
    receive(frame("text", {{"text", "again"}}));
    receive(frame("text", {{"text", "again"}}));
    EXPECT_EQ(model->events().size(), 3);

    model->setRunning(true);
    receive(frame("turn_completed", Json::object(), 2));
    EXPECT_FALSE(model->running());
    model->setRunning(true);
    model->setActiveTools({{QStringLiteral("z"), ToolTarget{QStringLiteral("z"), QStringLiteral("t"), {}, {}}}});
    receive(frame("turn_completed", Json::object(), 2));
    EXPECT_FALSE(model->running());
    EXPECT_TRUE(model->activeTools().isEmpty());
    EXPECT_EQ(model->events().size(), 4);
}

TEST_F(FrameIntake, TheEventCarriesTheAgentSessionAndTurn)
{
    Json foreign = frame("text", {{"text", "hi"}, {"agent", "someone"}, {"session_id", "other"}}, 1, Json());
    receive(foreign);
    Json listPayload = frame("text", Json::array({1, 2}), 2);
    listPayload["turnId"] = 5;
    receive(listPayload);
    ASSERT_EQ(model->events().size(), 2);
    const EventPayload first = model->events()[0].payload;
    EXPECT_FALSE(first.contains(QStringLiteral("agent")));
    EXPECT_EQ(first.value(QStringLiteral("session_id")), model->sessionID());
    EXPECT_EQ(first.value(QStringLiteral("turnId")), QStringLiteral("t1"));
    EXPECT_EQ(model->events()[0].tenantID, kTenant);
    EXPECT_EQ(model->events()[0].timestamp, QStringLiteral("2026-05-01T10:00:00Z"));
    const EventPayload second = model->events()[1].payload;
    EXPECT_EQ(second,
              (EventPayload{{QStringLiteral("agent"), kBuilder}, {QStringLiteral("session_id"), model->sessionID()}}));
}

struct BrowserCase
{
    const char *name;
    Json available;
    bool present;
    const char *holder;
};

class LiveBrowser : public FrameIntake, public ::testing::WithParamInterface<BrowserCase>
{
};

TEST_P(LiveBrowser, FollowsItsAvailability)
{
    model->setBrowserSessionPresent(true);
    model->setBrowserHolder(QStringLiteral("customer"));
    Json payload = Json::object();
    if (!GetParam().available.is_null())
        payload["available"] = GetParam().available;
    receive(frame("browser_live_view", payload, 1));
    EXPECT_EQ(model->browserSessionPresent(), GetParam().present);
    EXPECT_EQ(model->browserHolder(), QString::fromLatin1(GetParam().holder));
}

INSTANTIATE_TEST_SUITE_P(Cases, LiveBrowser,
                         ::testing::Values(BrowserCase{"Available", true, true, "customer"},
                                           BrowserCase{"Gone", false, false, "agent"},
                                           BrowserCase{"Text", "false", true, "customer"},
                                           BrowserCase{"Missing", Json(), true, "customer"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FrameIntake, TheTurnsEndGivesTheBrowserBack)
{
    model->setBrowserSessionPresent(true);
    model->setBrowserHolder(QStringLiteral("customer"));
    receive(frame("done", Json::object(), 1));
    EXPECT_FALSE(model->browserSessionPresent());
    EXPECT_EQ(model->browserHolder(), QStringLiteral("agent"));
}

TEST_F(FrameIntake, TransportErrorsReachTheStatusLine)
{
    receive(frame("transport_error", Json::object(), 0, Json()));
    EXPECT_EQ(model->message(), QStringLiteral("Realtime connection lost."));
    receive(frame("transport_error", {{"message", "Reconnecting: the socket closed."}}, 0, Json()));
    EXPECT_EQ(model->message(), QStringLiteral("Reconnecting: the socket closed."));
}
} // namespace
