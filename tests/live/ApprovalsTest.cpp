#include "LiveTestSupport.h"

#include "live/EventProjection.h"

#include <gtest/gtest.h>

#include <functional>

using livetest::event;

namespace
{
const QString kBuilder = QStringLiteral("tavrilo_builder");
const char *kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

Json briefRecord()
{
    return Json{{"id", "ap-1"},       {"kind", "brief"},     {"summary", "Add login"},
                {"detail", {"d1"}},   {"paused", true},      {"acceptanceCriteria", {"works", "tested"}},
                {"turnId", "turn-1"}, {"revision", kDigest}, {"round", "1"}};
}

struct RecordCase
{
    const char *name;
    std::function<void(Json &)> change;
    // Expected: nothing, or an approval that is ready or not.
    enum class Want { Nothing, Ready, NotReady } want;
};

class DurableApproval : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(DurableApproval, MapsRecord)
{
    Json record = briefRecord();
    GetParam().change(record);
    const auto approval = EventProjection::durableApproval(record, QStringLiteral("prj-1"));
    if (GetParam().want == RecordCase::Want::Nothing) {
        EXPECT_FALSE(approval);
        return;
    }
    ASSERT_TRUE(approval);
    EXPECT_EQ(approval->ready, GetParam().want == RecordCase::Want::Ready);
    EXPECT_EQ(approval->sessionID, QStringLiteral("prj-1"));
    EXPECT_EQ(approval->toolUseID, approval->id);
}

using W = RecordCase::Want;
INSTANTIATE_TEST_SUITE_P(
    Table, DurableApproval,
    ::testing::Values(
        RecordCase{"ProvenBriefIsReady", [](Json &) {}, W::Ready},
        RecordCase{"RoundZero", [](Json &r) { r["round"] = "0"; }, W::NotReady},
        RecordCase{"RoundWithPlusSign", [](Json &r) { r["round"] = "+2"; }, W::Ready},
        RecordCase{"RoundWithBlank", [](Json &r) { r["round"] = " 1"; }, W::NotReady},
        RecordCase{"RoundFraction", [](Json &r) { r["round"] = "1.0"; }, W::NotReady},
        RecordCase{"RoundOverflows", [](Json &r) { r["round"] = "99999999999999999999"; }, W::NotReady},
        RecordCase{"RoundAsNumber", [](Json &r) { r["round"] = 1; }, W::NotReady},
        RecordCase{"NoTurn", [](Json &r) { r.erase("turnId"); }, W::NotReady},
        RecordCase{"UpperCaseRevision", [](Json &r) { r["revision"] = QString::fromLatin1(kDigest).toUpper().toStdString(); },
                   W::NotReady},
        RecordCase{"ShortRevision", [](Json &r) { r["revision"] = "abc"; }, W::NotReady},
        RecordCase{"BlankCriterion", [](Json &r) { r["acceptanceCriteria"] = {"ok", " \n\t"}; }, W::NotReady},
        RecordCase{"NoCriteria", [](Json &r) { r["acceptanceCriteria"] = Json::array(); }, W::NotReady},
        RecordCase{"SixtyFourCriteria", [](Json &r) { r["acceptanceCriteria"] = Json(std::vector<std::string>(64, "c")); },
                   W::Ready},
        RecordCase{"SixtyFiveCriteria",
                   [](Json &r) { r["acceptanceCriteria"] = Json(std::vector<std::string>(65, "c")); }, W::NotReady},
        RecordCase{"DeployIsReadyWithoutProof", [](Json &r) { r = Json{{"id", "d"}, {"kind", "deploy"}, {"paused", true}}; },
                   W::Ready},
        RecordCase{"UnknownKind", [](Json &r) { r["kind"] = "merge"; }, W::Nothing},
        RecordCase{"EmptyId", [](Json &r) { r["id"] = ""; }, W::Nothing},
        RecordCase{"PausedAsTextIsNotPaused", [](Json &r) { r["paused"] = "true"; }, W::Nothing},
        RecordCase{"RecordedDecision",
                   [](Json &r) {
                       r["paused"] = false;
                       r["decision"] = "approved";
                       r["recordedAt"] = "2026-12-10T12:00:00Z";
                   },
                   W::NotReady},
        RecordCase{"DecisionWithoutTime",
                   [](Json &r) {
                       r["paused"] = false;
                       r["decision"] = "approved";
                       r["recordedAt"] = "";
                   },
                   W::Nothing},
        RecordCase{"UnknownDecision",
                   [](Json &r) {
                       r["paused"] = false;
                       r["decision"] = "maybe";
                       r["recordedAt"] = "now";
                   },
                   W::Nothing}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DurableApproval, CarriesTheRecordsFields)
{
    auto pending = EventProjection::durableApproval(briefRecord(), QStringLiteral("prj-1"));
    ASSERT_TRUE(pending);
    EXPECT_EQ(pending->tool, QStringLiteral("approve_brief"));
    EXPECT_EQ(pending->summary, QStringLiteral("Add login"));
    EXPECT_EQ(pending->detail, QStringList{"d1"});
    EXPECT_EQ(pending->turnID, QStringLiteral("turn-1"));
    EXPECT_EQ(pending->round, QStringLiteral("1"));
    EXPECT_FALSE(pending->decision);

    Json decided = briefRecord();
    decided["paused"] = false;
    decided["decision"] = "declined";
    decided["recordedAt"] = "t";
    decided["kind"] = "deploy";
    const auto recorded = EventProjection::durableApproval(decided, QStringLiteral("prj-1"));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->tool, QStringLiteral("approve_deploy"));
    EXPECT_EQ(recorded->decision, QStringLiteral("declined"));
    EXPECT_EQ(recorded->recordedAt, QStringLiteral("t"));
    EXPECT_FALSE(recorded->ready);
}

struct PendingCase
{
    const char *name;
    Json record;
    const char *wantMode; // nullptr: maps to nothing
};

class PendingElicitation : public ::testing::TestWithParam<PendingCase>
{
};

TEST_P(PendingElicitation, MapsRecord)
{
    const auto request = EventProjection::pendingElicitation(GetParam().record);
    if (!GetParam().wantMode) {
        EXPECT_FALSE(request);
        return;
    }
    ASSERT_TRUE(request);
    EXPECT_EQ(request->mode, QString::fromLatin1(GetParam().wantMode));
    EXPECT_EQ(request->requestID, request->id);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PendingElicitation,
    ::testing::Values(PendingCase{"ParamsObject", Json{{"requestId", "r"}, {"params", {{"mode", "form"}}}}, "form"},
                      PendingCase{"ParamsAsJsonText",
                                  Json{{"requestId", "r"}, {"params", R"({"mode":"url","url":"https://x"})"}}, "url"},
                      PendingCase{"ParamsAsArrayText", Json{{"requestId", "r"}, {"params", R"([{"mode":"form"}])"}},
                                  nullptr},
                      PendingCase{"ParamsUnparsableText", Json{{"requestId", "r"}, {"params", "{mode"}}, nullptr},
                      PendingCase{"NoParams", Json{{"requestId", "r"}}, nullptr},
                      PendingCase{"RequestIdNoText", Json{{"requestId", 7}, {"params", {{"mode", "form"}}}}, nullptr},
                      PendingCase{"UnknownMode", Json{{"requestId", "r"}, {"params", {{"mode", "voice"}}}}, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PendingElicitation, StateArrivesAsValueOrText)
{
    const auto asText = EventProjection::pendingElicitation(
        Json{{"requestId", "r"}, {"params", {{"mode", "form"}}}, {"requestState", R"({"step":2})"}});
    ASSERT_TRUE(asText);
    EXPECT_EQ(asText->requestState, (Json{{"step", 2}}));
    EXPECT_EQ(asText->requestStateJSON, QStringLiteral(R"({"step":2})"));

    const auto asValue = EventProjection::pendingElicitation(
        Json{{"requestId", "r"}, {"params", {{"mode", "form"}}}, {"requestState", {{"step", 3}}}});
    ASSERT_TRUE(asValue);
    EXPECT_EQ(asValue->requestState, (Json{{"step", 3}}));
    EXPECT_FALSE(asValue->requestStateJSON);

    const auto unparsable = EventProjection::pendingElicitation(
        Json{{"requestId", "r"}, {"params", {{"mode", "form"}}}, {"requestState", "opaque-token"}});
    ASSERT_TRUE(unparsable);
    EXPECT_FALSE(unparsable->requestState);
    EXPECT_EQ(unparsable->requestStateJSON, QStringLiteral("opaque-token"));
}

TEST(Elicitation, BuildsFromParams)
{
    const Json params = {{"mode", "form"},
                         {"requestedSchema", {{"type", "object"}, {"properties", {{"b", {}}, {"a", {}}, {"c", {}}}}}}};
    const auto request = EventProjection::elicitation(QStringLiteral("r1"), params, std::nullopt, std::nullopt);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->message, QStringLiteral("Runtime requests input"));
    EXPECT_EQ(request->fields, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(request->schema, params["requestedSchema"]);
    EXPECT_FALSE(request->url);

    const auto bare = EventProjection::elicitation(QStringLiteral("r2"),
                                                   Json{{"mode", "url"}, {"message", "Open"}, {"requestedSchema", "x"}},
                                                   Json(5), QStringLiteral("5"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->message, QStringLiteral("Open"));
    EXPECT_EQ(bare->schema, Json::object());
    EXPECT_TRUE(bare->fields.isEmpty());
    EXPECT_EQ(bare->requestState, Json(5));
}

// The live road: tool starts, streamed input, decisions and input requests in events.
TEST(LiveGates, ToolStartAnnouncesAnApprovalThatIsNeverReady)
{
    EventProjection p;
    p.consume(event("tool_start", {{"agent", kBuilder},
                                   {"id", "tu1"},
                                   {"tool", "approve_brief"},
                                   {"runtimeSessionId", "rt"},
                                   {"input", R"({"summary":"first","reason":"r"})"}}));
    p.consume(event("tool_start", {{"agent", kBuilder}, {"index", "1"}, {"id", "tu2"}, {"tool", "approve_deploy"}}));
    p.consume(event(
        "tool_start",
        {{"agent", kBuilder}, {"index", "2"}, {"id", "tu1"}, {"tool", "approve_brief"}, {"brief", R"(["x","y"])"}}));
    ASSERT_EQ(p.approvals.size(), 2);
    EXPECT_EQ(p.approvals[0].toolUseID, QStringLiteral("tu2"));
    EXPECT_EQ(p.approvals[0].summary, QString::fromUtf8("\u2014"));
    EXPECT_EQ(p.approvals[1].toolUseID, QStringLiteral("tu1")); // the later one, at the end
    EXPECT_EQ(p.approvals[1].summary, QStringLiteral("x, y"));
    EXPECT_FALSE(p.approvals[1].sessionID);
    for (const auto &approval : p.approvals) {
        EXPECT_FALSE(approval.ready);
        EXPECT_FALSE(approval.hasBriefProof());
    }
}

TEST(LiveGates, StreamedInputUpdatesTheSummaryOnceItIsAnObject)
{
    EventProjection p;
    p.consume(
        event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_brief"}, {"sessionId", "rt"}}));
    p.consume(event("delta", {{"agent", kBuilder}, {"inputDelta", "{\"brief\":"}}));
    p.consume(event("delta", {{"agent", kBuilder}, {"inputDelta", "\"Build the page\""}}));
    ASSERT_EQ(p.approvals.size(), 1);
    EXPECT_EQ(p.approvals[0].summary, QString::fromUtf8("\u2014")); // not an object yet
    p.consume(event("delta", {{"agent", kBuilder}, {"inputDelta", "} "}}));
    ASSERT_EQ(p.approvals.size(), 1);
    EXPECT_EQ(p.approvals[0].summary, QStringLiteral("Build the page"));
    EXPECT_EQ(p.approvals[0].sessionID, QStringLiteral("rt"));
    EXPECT_FALSE(p.approvals[0].ready);
}

TEST(LiveGates, InputPastTheCapIsStillReadForTheApproval)
{
    EventProjection p;
    p.consume(event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_brief"}}));
    const QString filler(131072 - 16, QLatin1Char('x'));
    p.consume(event("delta", {{"agent", kBuilder}, {"inputDelta", "{\"reason\":\"" + filler}}));
    p.consume(event("delta", {{"agent", kBuilder}, {"inputDelta", "\",\"summary\":\"s\"}"}}));
    EXPECT_EQ(p.toolCalls.value(kBuilder + ":0").input.size(), 131072 - 16 + 11); // not stored past the cap
    ASSERT_EQ(p.approvals.size(), 1);
    EXPECT_EQ(p.approvals[0].summary, QStringLiteral("s")); // the first present of brief, summary, reason
}

TEST(LiveGates, VerifyDecisionAndToolEndResolve)
{
    EventProjection p;
    p.consume(event("tool_start", {{"agent", kBuilder}, {"id", "tu1"}, {"tool", "approve_brief"}}));
    p.consume(event("tool_start", {{"agent", kBuilder}, {"index", "1"}, {"id", "tu2"}, {"tool", "approve_deploy"}}));
    p.consume(event("tool_start", {{"agent", kBuilder}, {"index", "2"}, {"id", "tu3"}, {"tool", "approve_deploy"}}));
    p.consume(event("verify", {{"toolUseId", "tu1"}})); // no decision: stays
    EXPECT_EQ(p.approvals.size(), 3);
    p.consume(event("verify", {{"toolUseId", "tu1"}, {"decision", "approved"}}));
    EXPECT_EQ(p.approvals.size(), 2);
    p.consume(event("tool_end", {{"agent", kBuilder}, {"index", "1"}, {"toolUseId", "tu2"}}));
    EXPECT_EQ(p.approvals.size(), 1);
    p.consume(event("tool_end", {{"agent", kBuilder}, {"index", "2"}})); // found through the running call
    EXPECT_TRUE(p.approvals.isEmpty());
    EXPECT_EQ(p.toolCalls.keys(), QStringList{kBuilder + ":0"}); // a decision ends no call
}

TEST(LiveGates, ResolveRemovesOnlyThatApproval)
{
    EventProjection p;
    const std::pair<const char *, const char *> calls[] = {{"a", "0"}, {"b", "1"}, {"c", "2"}};
    for (const auto &[id, index] : calls)
        p.consume(event("tool_start", {{"agent", kBuilder}, {"index", index}, {"id", id}, {"tool", "approve_deploy"}}));
    p.resolveApproval(QStringLiteral("b"));
    ASSERT_EQ(p.approvals.size(), 2);
    EXPECT_EQ(p.approvals[0].id, QStringLiteral("a"));
    EXPECT_EQ(p.approvals[1].id, QStringLiteral("c"));
}

TEST(LiveGates, InputRequestsAreCreatedReplacedAndCompleted)
{
    EventProjection p;
    p.consume(event(
        "hook",
        {{"method", "elicitation/create"},
         {"requestId", "r1"},
         {"params", R"({"mode":"form","message":"Name?","requestState":{"k":1},"requestStateJSON":"{\"k\":1}"})"}}));
    p.consume(event(
        "hook", {{"method", "elicitation/create"}, {"requestId", "r2"}, {"params", R"({"mode":"url","url":"u"})"}}));
    p.consume(event(
        "hook",
        {{"method", "elicitation/create"}, {"requestId", "r1"}, {"params", R"({"mode":"form","message":"Again?"})"}}));
    p.consume(
        event("hook", {{"method", "elicitation/create"}, {"requestId", "r3"}, {"params", R"({"mode":"voice"})"}}));
    ASSERT_EQ(p.elicitations.size(), 2);
    EXPECT_EQ(p.elicitations[0].requestID, QStringLiteral("r2"));
    EXPECT_EQ(p.elicitations[0].url, QStringLiteral("u"));
    EXPECT_EQ(p.elicitations[1].message, QStringLiteral("Again?"));
    EXPECT_FALSE(p.elicitations[1].requestState);

    p.consume(event("hook", {{"method", "elicitation/create"},
                             {"requestId", "r4"},
                             {"params", R"({"mode":"form","requestState":{"k":1},"requestStateJSON":"{\"k\":1}"})"}}));
    ASSERT_EQ(p.elicitations.size(), 3);
    EXPECT_EQ(p.elicitations[2].requestState, (Json{{"k", 1}}));
    EXPECT_EQ(p.elicitations[2].requestStateJSON, QStringLiteral(R"({"k":1})"));

    p.consume(event("hook", {{"method", "elicitation/complete"}, {"requestId", "r2"}}));
    ASSERT_EQ(p.elicitations.size(), 2);
    p.resolveElicitation(QStringLiteral("r1"));
    ASSERT_EQ(p.elicitations.size(), 1);
    p.consume(event("done"));
    EXPECT_TRUE(p.elicitations.isEmpty());
}
} // namespace
