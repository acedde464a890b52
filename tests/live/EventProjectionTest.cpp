#include "LiveTestSupport.h"

#include "live/EventProjection.h"
#include "core/GraphemeText.h"
#include "live/NativePresence.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using livetest::event;
using livetest::u8;

namespace
{
const QString kBuilder = QStringLiteral("tavrilo_builder");
const QString kReviewer = QStringLiteral("tavrilo_reviewer");

WorkspaceEvent begin(const QString &turn)
{
    return event("metadata", {{"teamBundle", QStringLiteral("tavrilo-team")}, {"turnId", turn}});
}

WorkspaceEvent inTurn(WorkspaceEvent e, const QString &turn)
{
    e.payload.insert(QStringLiteral("turnId"), turn);
    return e;
}

struct Case
{
    const char *name;
    std::vector<WorkspaceEvent> events;
    std::function<void(const EventProjection &)> check;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class EventProjectionTable : public ::testing::TestWithParam<Case>
{
};

TEST_P(EventProjectionTable, FoldsEvents)
{
    const auto &events = GetParam().events;
    const EventProjection projection(QList<WorkspaceEvent>(events.begin(), events.end()));
    GetParam().check(projection);
}

std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

// The turn filter: which events a projection takes once it follows a turn.
INSTANTIATE_TEST_SUITE_P(
    TurnFilter, EventProjectionTable,
    ::testing::Values(
        Case{"WithoutTurnEveryEventApplies",
             {event("text", {{"agent", kBuilder}, {"text", "hi"}}), event("done")},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.responses.value(kBuilder), QStringLiteral("hi"));
                 EXPECT_TRUE(p.turnCompleted);
                 EXPECT_FALSE(p.currentTurnID);
             }},
        Case{"MetadataWithoutTeamBundleBeginsNothing",
             {event("metadata", {{"turnId", "t1"}})},
             [](const EventProjection &p) { EXPECT_FALSE(p.currentTurnID); }},
        Case{"EventWithoutTurnIgnoredOnceTurnBegan",
             {begin("t1"), event("done"), event("text", {{"agent", kBuilder}, {"text", "x"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.currentTurnID, QStringLiteral("t1"));
                 EXPECT_FALSE(p.turnCompleted);
                 EXPECT_TRUE(p.responses.isEmpty());
             }},
        Case{"TeamBundleWithoutTurnIgnoredOnceTurnBegan",
             {begin("t1"), event("metadata", {{"teamBundle", "b"}, {"reasoningContent", R"({"text":"r"})"}})},
             [](const EventProjection &p) { EXPECT_TRUE(p.reasoning.isEmpty()); }},
        Case{"EventOfAnotherTurnIgnored",
             {begin("t1"), inTurn(event("done"), "t2"), inTurn(event("reasoning", {{"text", "kept"}}), "t1")},
             [](const EventProjection &p) {
                 EXPECT_FALSE(p.turnCompleted);
                 EXPECT_EQ(p.reasoning, QStringList{"kept"});
             }},
        Case{"TurnIdThatIsNoTextIsAbsent",
             {begin("t1"), inTurn(event("done"), "5"), inTurn(event("done"), "")},
             [](const EventProjection &p) { EXPECT_FALSE(p.turnCompleted); }},
        Case{"QuotedTurnIdReadsAsText",
             {begin("t1"), inTurn(event("done"), "\"t1\"")},
             [](const EventProjection &p) { EXPECT_TRUE(p.turnCompleted); }},
        Case{"StaleTurnCannotBeginAgain",
             {begin("t1"), begin("t2"), begin("t1"), inTurn(event("done"), "t1")},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.currentTurnID, QStringLiteral("t2"));
                 EXPECT_EQ(p.recentTurnIDs, (QStringList{"t1", "t2"}));
                 EXPECT_FALSE(p.turnCompleted);
             }},
        Case{"NewTurnClearsTheLastOne",
             {begin("t1"), inTurn(event("error", {{"code", "ITERATION_CAP"}}), "t1"),
              inTurn(event("reasoning", {{"text", "old"}}), "t1"),
              inTurn(event("check_release", {{"released", "true"}, {"checks", R"({"build-green":true})"}}), "t1"),
              begin("t2")},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.currentTurnID, QStringLiteral("t2"));
                 EXPECT_FALSE(p.latestErrorCode);
                 EXPECT_FALSE(p.releaseAuthorized);
                 EXPECT_TRUE(p.reasoning.isEmpty());
                 EXPECT_TRUE(p.evaluators.isEmpty());
                 EXPECT_EQ(p.recentTurnIDs.size(), 2);
             }}),
    caseName);

TEST(EventProjectionTurns, RemembersTheLast1024Turns)
{
    EventProjection p;
    for (int i = 0; i <= 1024; ++i)
        p.consume(begin(QStringLiteral("t%1").arg(i)));
    ASSERT_EQ(p.recentTurnIDs.size(), 1024);
    EXPECT_EQ(p.recentTurnIDs.front(), QStringLiteral("t1"));
    EXPECT_EQ(p.currentTurnID, QStringLiteral("t1024"));
    p.consume(begin(QStringLiteral("t1"))); // still remembered: stale
    EXPECT_EQ(p.currentTurnID, QStringLiteral("t1024"));
    p.consume(begin(QStringLiteral("t0"))); // forgotten: begins again
    EXPECT_EQ(p.currentTurnID, QStringLiteral("t0"));
    EXPECT_EQ(p.recentTurnIDs.back(), QStringLiteral("t0"));
    EXPECT_EQ(p.recentTurnIDs.size(), 1024);
}

// Errors, turn ends, positions, answers, reasoning and tool calls.
INSTANTIATE_TEST_SUITE_P(
    Steps, EventProjectionTable,
    ::testing::Values(
        Case{"ErrorSetsCodeAndWithdrawsRelease",
             {event("check_release", {{"released", "true"}}), event("error", {{"code", "DELIVERY_HELD"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.latestErrorCode, QStringLiteral("DELIVERY_HELD"));
                 EXPECT_EQ(p.releaseAuthorized, false);
             }},
        Case{"ErrorCodeInLowerCaseIsUnknown",
             {event("error", {{"code", "delivery_held"}})},
             [](const EventProjection &p) { EXPECT_EQ(p.latestErrorCode, QStringLiteral("UNKNOWN")); }},
        Case{"ErrorCodeMissingOrNoTextIsUnknown",
             {event("error", {{"code", "42"}})},
             [](const EventProjection &p) { EXPECT_EQ(p.latestErrorCode, QStringLiteral("UNKNOWN")); }},
        Case{"ErrorCodeLongerThan64IsUnknown",
             {event("error", {{"code", QString(65, QLatin1Char('A'))}})},
             [](const EventProjection &p) { EXPECT_EQ(p.latestErrorCode, QStringLiteral("UNKNOWN")); }},
        Case{"ErrorNotFinalKeepsTurnAndGates",
             {event("check_release", {{"released", "true"}}), event("done"),
              event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_deploy"}}),
              event("error", {{"code", "X"}, {"final", "false"}, {"position", "still here"}})},
             [](const EventProjection &p) {
                 EXPECT_TRUE(p.turnCompleted);
                 EXPECT_FALSE(p.latestErrorCode);
                 EXPECT_EQ(p.releaseAuthorized, true);
                 EXPECT_EQ(p.approvals.size(), 1);
                 ASSERT_EQ(p.positions.size(), 1); // kind-independent steps still run
                 EXPECT_EQ(p.positions[0].owner, QStringLiteral("Unattributed"));
             }},
        Case{"ErrorFinalTextTrueClearsGates",
             {event("done"), event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_deploy"}}),
              event("error", {{"final", "true"}})},
             [](const EventProjection &p) {
                 EXPECT_FALSE(p.turnCompleted);
                 EXPECT_TRUE(p.approvals.isEmpty());
                 EXPECT_TRUE(p.toolCalls.isEmpty());
             }},
        Case{"TurnEndClearsGatesWithoutCompleting",
             {event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_brief"}}), event("turn_end")},
             [](const EventProjection &p) {
                 EXPECT_FALSE(p.turnCompleted);
                 EXPECT_TRUE(p.approvals.isEmpty());
                 EXPECT_TRUE(p.toolCalls.isEmpty());
             }},
        Case{"PositionFromInputObject",
             {event("position", {{"agent", kBuilder},
                                 {"input", R"({"position":"Ship it","confidence":0.75,"depends_on":["a","b"]})"}})},
             [](const EventProjection &p) {
                 ASSERT_EQ(p.positions.size(), 1);
                 const auto &pos = p.positions[0];
                 EXPECT_EQ(pos.owner, kBuilder);
                 EXPECT_EQ(pos.position, QStringLiteral("Ship it"));
                 EXPECT_EQ(pos.confidence, QStringLiteral("0.75"));
                 EXPECT_EQ(pos.dependsOn, QStringLiteral("a, b"));
                 EXPECT_EQ(pos.conflictsWith, u8("\u2014"));
             }},
        Case{"PositionFromArgumentsThenPayload",
             {event("position", {{"agent", kBuilder}, {"arguments", R"({"position":"A","conflicts_with":[]})"}}),
              event("position", {{"agent", kReviewer}, {"position", "B"}, {"confidence", "high"}})},
             [](const EventProjection &p) {
                 ASSERT_EQ(p.positions.size(), 2);
                 EXPECT_EQ(p.positions[0].conflictsWith, QStringLiteral("None"));
                 EXPECT_EQ(p.positions[1].position, QStringLiteral("B"));
                 EXPECT_EQ(p.positions[1].confidence, QStringLiteral("high"));
             }},
        Case{"PositionReplacesTheOwnersLast",
             {event("position", {{"agent", kBuilder}, {"position", "first"}}),
              event("position", {{"agent", kReviewer}, {"position", "other"}}),
              event("position", {{"agent", kBuilder}, {"position", "second"}})},
             [](const EventProjection &p) {
                 ASSERT_EQ(p.positions.size(), 2);
                 EXPECT_EQ(p.positions[0].owner, kReviewer);
                 EXPECT_EQ(p.positions[1].position, QStringLiteral("second"));
             }},
        Case{"ReconciliationKeepsOnlyBoundedEntries",
             {event("reconcile",
                    {{"reconciliation",
                      R"([{"owner":"a","position":"p1","confidence":1.0,"depends_on":[],"conflicts_with":["b"]},
                          {"owner":"b","position":"p2","confidence":1.01,"depends_on":[],"conflicts_with":[]},
                          {"owner":"c","position":"p3","confidence":-0.1,"depends_on":[],"conflicts_with":[]},
                          {"owner":"d","position":"p4","confidence":"0.5","depends_on":[],"conflicts_with":[]},
                          {"owner":"e","position":"p5","confidence":0.5,"conflicts_with":[]},
                          {"owner":"f","position":"p6","confidence":0,"depends_on":["x"],"conflicts_with":[]}])"}})},
             [](const EventProjection &p) {
                 ASSERT_EQ(p.positions.size(), 2);
                 EXPECT_EQ(p.positions[0].owner, QStringLiteral("a"));
                 EXPECT_TRUE(p.positions[0].id.endsWith(QStringLiteral(":a")));
                 EXPECT_EQ(p.positions[0].confidence, QStringLiteral("1"));
                 EXPECT_EQ(p.positions[0].dependsOn, QStringLiteral("None"));
                 EXPECT_EQ(p.positions[1].owner, QStringLiteral("f"));
                 EXPECT_EQ(p.positions[1].confidence, QStringLiteral("0"));
             }},
        Case{"ReconciliationWithANonObjectIsSkipped",
             {event("reconcile",
                    {{"reconciliation",
                      R"([{"owner":"a","position":"p","confidence":1,"depends_on":[],"conflicts_with":[]},3])"}})},
             [](const EventProjection &p) { EXPECT_TRUE(p.positions.isEmpty()); }},
        Case{"TextJoinsDirectlyWithoutBoundary",
             {event("text", {{"agent", kBuilder}, {"text", "Hello "}}),
              event("text", {{"agent", kBuilder}, {"text", "world"}})},
             [](const EventProjection &p) { EXPECT_EQ(p.responses.value(kBuilder), QStringLiteral("Hello world")); }},
        Case{"TextAfterUsageStartsAParagraph",
             {event("usage", {{"agent", kBuilder}}), event("text", {{"agent", kBuilder}, {"text", "One"}}),
              event("tool_start", {{"agent", kBuilder}}), event("text", {{"agent", kBuilder}, {"text", "Two"}}),
              event("text", {{"agent", kBuilder}, {"text", "Three"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.responses.value(kBuilder), QStringLiteral("One\n\nTwoThree"));
                 EXPECT_TRUE(p.responseBoundaryOwners.isEmpty());
             }},
        Case{"TextOfAnAgentOutsideTheRolesIsIgnored",
             {event("text", {{"agent", "someone"}, {"text", "x"}}), event("text", {{"text", "y"}})},
             [](const EventProjection &p) {
                 EXPECT_TRUE(p.responses.isEmpty());
                 EXPECT_TRUE(p.responseOrder.isEmpty());
             }},
        Case{"ResponseOrderPutsTheLastWriterLast",
             {event("text", {{"agent", kBuilder}, {"text", "a"}}), event("text", {{"agent", kReviewer}, {"text", "b"}}),
              event("text", {{"agent", kBuilder}, {"text", "c"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.responseOrder, (QStringList{kReviewer, kBuilder}));
             }},
        // A streamed chunk is free text even when it happens to read as JSON.
        Case{"TextChunksThatReadAsJsonStayVerbatim",
             {event("text", {{"agent", kBuilder}, {"text", "He said "}}),
              event("text", {{"agent", kBuilder}, {"text", "\"yes\""}}),
              event("text", {{"agent", kBuilder}, {"text", " "}}), event("text", {{"agent", kBuilder}, {"text", "42"}}),
              event("text", {{"agent", kBuilder}, {"text", "null"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.responses.value(kBuilder), QStringLiteral("He said \"yes\" 42null"));
             }},
        Case{"ReasoningFromEveryShape",
             {event("reasoning", {{"text", "plain"}}), event("reasoning", {{"text", ""}}),
              event("model", {{"content", R"([{"reasoningContent":{"reasoningText":{"text":"nested"}}},
                                             {"type":"reasoningContent","text":"typed"},
                                             {"type":"text","text":"not reasoning"}])"}}),
              event("model", {{"reasoningContent", R"({"text":"own"})"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.reasoning, (QStringList{"plain", "nested", "typed", "own"}));
             }},
        Case{"IndexTextReadAsNumber",
             {event("tool_start", {{"agent", kBuilder}, {"index", "2"}, {"id", "a"}, {"tool", "project_read"}}),
              event("tool_start",
                    {{"agent", kBuilder}, {"index", "\"3\""}, {"toolUseId", "b"}, {"name", "project_list"}}),
              event("tool_start", {{"id", "c"}, {"tool", "project_search"}, {"session_id", "rt-1"}})},
             [](const EventProjection &p) {
                 ASSERT_EQ(p.toolCalls.size(), 3);
                 EXPECT_EQ(p.toolCalls.value(kBuilder + ":2").id, QStringLiteral("a"));
                 EXPECT_EQ(p.toolCalls.value(kBuilder + ":0").tool, QStringLiteral("project_list"));
                 EXPECT_EQ(p.toolCalls.value("Unattributed:0").session, QStringLiteral("rt-1"));
             }},
        Case{"ToolStartWithoutToolIsNotKept",
             {event("tool_start", {{"agent", kBuilder}, {"id", "a"}})},
             [](const EventProjection &p) { EXPECT_TRUE(p.toolCalls.isEmpty()); }},
        Case{"ToolInputAccumulatesVerbatim",
             {event("tool_start", {{"agent", kBuilder}, {"id", "a"}, {"tool", "project_write"}}),
              event("tool_delta", {{"agent", kBuilder}, {"inputDelta", "{\"path\":"}}),
              event("tool_delta", {{"agent", kBuilder}, {"inputDelta", "\"a.txt\""}}),
              event("tool_delta", {{"agent", kBuilder}, {"inputDelta", ",\"n\":"}}),
              event("tool_delta", {{"agent", kBuilder}, {"inputDelta", "1"}}),
              event("tool_delta", {{"agent", kBuilder}, {"inputDelta", "}"}}),
              event("tool_delta", {{"agent", kReviewer}, {"inputDelta", "ignored: no call"}})},
             [](const EventProjection &p) {
                 EXPECT_EQ(p.toolCalls.value(kBuilder + ":0").input, QByteArray(R"({"path":"a.txt","n":1})"));
             }},
        Case{"ToolEndRemovesTheCall",
             {event("tool_start", {{"agent", kBuilder}, {"id", "a"}, {"tool", "project_read"}}),
              event("tool_end", {{"agent", kBuilder}})},
             [](const EventProjection &p) { EXPECT_TRUE(p.toolCalls.isEmpty()); }}),
    caseName);

TEST(EventProjectionCaps, ReasoningKeeps128Blocks)
{
    EventProjection p;
    for (int i = 0; i < 129; ++i)
        p.consume(event("reasoning", {{"text", QString::number(i)}}));
    ASSERT_EQ(p.reasoning.size(), 128);
    EXPECT_EQ(p.reasoning.front(), QStringLiteral("1"));
    EXPECT_EQ(p.reasoning.back(), QStringLiteral("128"));
}

TEST(EventProjectionCaps, ReasoningKeeps131072Bytes)
{
    EventProjection p;
    const QString half(65536, QLatin1Char('a'));
    p.consume(event("reasoning", {{"text", half}}));
    p.consume(event("reasoning", {{"text", half}}));
    EXPECT_EQ(p.reasoning.size(), 2);                        // exactly at the limit
    p.consume(event("reasoning", {{"text", u8("\u00e9")}})); // two more bytes push the oldest out
    ASSERT_EQ(p.reasoning.size(), 2);
    EXPECT_EQ(p.reasoning.back(), u8("\u00e9"));
    p.consume(event("reasoning", {{"text", QString(131073, QLatin1Char('b'))}}));
    EXPECT_TRUE(p.reasoning.isEmpty()); // a block larger than the whole budget does not stay
    p.consume(event("reasoning", {{"text", "after"}}));
    EXPECT_EQ(p.reasoning, QStringList{"after"});
}

TEST(EventProjectionCaps, AnswerKeepsItsLast4096Characters)
{
    const QString combining = u8("e\u0301\u0323"); // one character of three code units
    const QString family = QString::fromUcs4(U"\U0001F469\u200D\U0001F469\u200D\U0001F467\U0001F3FD");
    const QString flag = QString::fromUcs4(U"\U0001F1E9\U0001F1EA");
    EventProjection p;
    QString whole;
    for (int i = 0; i < 1500; ++i) {
        const QString chunk = combining + family + (i % 7 == 0 ? flag : QStringLiteral("x"));
        whole += chunk;
        p.consume(event("text", {{"agent", kBuilder}, {"text", chunk}}));
    }
    // A chunk starting with a mark extends the last character of the stored answer.
    p.consume(event("text", {{"agent", kBuilder}, {"text", u8("\u0301tail")}}));
    whole += u8("\u0301tail");
    const QString stored = p.responses.value(kBuilder);
    EXPECT_EQ(graphemes::count(stored), 4096);
    EXPECT_EQ(stored, graphemes::last(whole, 4096));
}

TEST(EventProjectionCaps, ToolInputKeeps131072Bytes)
{
    EventProjection p;
    const auto delta = [&](const QString &text) {
        p.consume(event("tool_delta", {{"agent", kBuilder}, {"inputDelta", text}}));
        return p.toolCalls.value(kBuilder + ":0").input;
    };
    p.consume(event("tool_start", {{"agent", kBuilder}, {"id", "a"}, {"tool", "project_write"}}));
    delta(QString(131070, QLatin1Char('a')));
    EXPECT_EQ(delta("\u00e9").size(), 131072); // exactly at the cap, counted in UTF-8 bytes
    EXPECT_EQ(delta("c").size(), 131072);

    p.consume(event("tool_start", {{"agent", kBuilder}, {"id", "b"}, {"tool", "project_write"}}));
    EXPECT_TRUE(delta(QString(131070, QLatin1Char('a'))).endsWith('a'));
    EXPECT_EQ(delta("xyz").size(), 131070); // does not fit
    // A smaller later piece would fit, but stored after the refused one it would splice the input.
    EXPECT_EQ(delta("d").size(), 131070);
    p.consume(event("tool_end", {{"agent", kBuilder}}));
    p.consume(event("tool_start", {{"agent", kBuilder}, {"id", "c"}, {"tool", "project_write"}}));
    EXPECT_EQ(delta("fresh"), QByteArray("fresh"));
}

struct ExcerptCase
{
    const char *name;
    const char *answer;
    bool completed;
    int limit;
    const char *want;
};

class ResponseExcerpt : public ::testing::TestWithParam<ExcerptCase>
{
};

TEST_P(ResponseExcerpt, Shows)
{
    const auto &c = GetParam();
    EventProjection p;
    p.consume(event("text", {{"agent", kBuilder}, {"text", u8(c.answer)}}));
    p.turnCompleted = c.completed;
    EXPECT_EQ(p.responseExcerpt(kBuilder, c.limit), u8(c.want));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseExcerpt,
    ::testing::Values(ExcerptCase{"CompletedCutsAtLastSpace", "hello world foo", true, 12, "hello world \u2026"},
                      ExcerptCase{"StreamingShowsTheEnd", "hello world foo", false, 12, "\u2026 world foo"},
                      ExcerptCase{"FitsUnchanged", "hello world foo", false, 15, "hello world foo"},
                      ExcerptCase{"OnlyFencedBlock", "```json\n{\"a\":1}\n```", true, 420,
                                  "Technical detail available in Full update."},
                      ExcerptCase{"FenceAndJsonLinesLeftOut",
                                  "Plan:\n```\ncode\n```\n{\n  \"key\": 1,\n}\n  indented line\n[\n]", true, 420,
                                  "Plan:   indented line"},
                      ExcerptCase{"UnclosedFenceStays", "a ```b", true, 420, "a ```b"},
                      ExcerptCase{"NoSpaceKeptWhole", "abcdefghij", true, 4, "abcd \u2026"},
                      ExcerptCase{"CountsCharactersNotCodeUnits", "e\u0301e\u0301e\u0301 x", true, 4,
                                  "e\u0301e\u0301e\u0301 \u2026"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ResponseExcerpt, NoAnswerIsEmpty)
{
    EXPECT_EQ(EventProjection().responseExcerpt(kBuilder, 420), QString());
}
} // namespace
