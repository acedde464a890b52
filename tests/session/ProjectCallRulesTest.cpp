#include "SessionTestSupport.h"

#include "core/HubError.h"
#include "session/ProjectCallRules.h"
#include "support/SignInTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace projectcalls;
using testsupport::failureOf;

namespace
{
using sessiontest::PrintTo;

const double kNow = 1777000000000.5;

Context context()
{
    return Context{QStringLiteral("prj-1"), QStringLiteral("tenant-a"), QStringLiteral("hands-1"), true, kNow};
}

Json frame()
{
    return Json{{"kind", "project_call"},
                {"sessionId", "prj-1"},
                {"tenantId", "tenant-a"},
                {"turnId", "turn-1"},
                {"agent", "tavrilo_builder"}};
}

Json payload()
{
    return Json{{"handsId", "hands-1"},         {"toolUseId", "tu-1"},      {"tool", "project_read_file"},
                {"input", {{"path", "a.txt"}}}, {"deadline", kNow + 60000}, {"agent", "tavrilo_builder"},
                {"session_id", "prj-1"},        {"turnId", "turn-1"}};
}

struct AdmissionCase
{
    const char *name;
    std::function<void(Json &frame, Json &payload, Context &context)> change;
    bool admitted;
};

class Admission : public ::testing::TestWithParam<AdmissionCase>
{
};

TEST_P(Admission, TakesOnlyCallsOfThisSessionWorkspaceAndExecutorWithinTheirLimits)
{
    Json f = frame();
    Json p = payload();
    Context c = context();
    GetParam().change(f, p, c);
    EXPECT_EQ(admit(f, p, c).has_value(), GetParam().admitted);
}

INSTANTIATE_TEST_SUITE_P(
    ProjectCalls, Admission,
    ::testing::Values(
        AdmissionCase{"plain", [](Json &, Json &, Context &) {}, true},
        AdmissionCase{"otherSession", [](Json &f, Json &, Context &) { f["sessionId"] = "prj-2"; }, false},
        AdmissionCase{"sessionMissing", [](Json &f, Json &, Context &) { f.erase("sessionId"); }, false},
        AdmissionCase{"otherTenant", [](Json &f, Json &, Context &) { f["tenantId"] = "tenant-b"; }, false},
        AdmissionCase{"tenantNotText", [](Json &f, Json &, Context &) { f["tenantId"] = 7; }, false},
        AdmissionCase{"otherHands", [](Json &, Json &p, Context &) { p["handsId"] = "hands-2"; }, false},
        AdmissionCase{"handsMissing", [](Json &, Json &p, Context &) { p.erase("handsId"); }, false},
        AdmissionCase{"toolUseExactly256", [](Json &, Json &p, Context &) { p["toolUseId"] = std::string(256, 'u'); },
                      true},
        AdmissionCase{"toolUse257", [](Json &, Json &p, Context &) { p["toolUseId"] = std::string(257, 'u'); }, false},
        // 128 two-byte characters: 256 bytes, counted in UTF-8.
        AdmissionCase{"toolUseMultibyte256",
                      [](Json &, Json &p, Context &) {
                          std::string s;
                          for (int i = 0; i < 128; ++i)
                              s += "\xc3\xa9";
                          p["toolUseId"] = s;
                      },
                      true},
        AdmissionCase{"toolUseMultibyte258",
                      [](Json &, Json &p, Context &) {
                          std::string s;
                          for (int i = 0; i < 129; ++i)
                              s += "\xc3\xa9";
                          p["toolUseId"] = s;
                      },
                      false},
        AdmissionCase{"toolUseEmpty", [](Json &, Json &p, Context &) { p["toolUseId"] = ""; }, false},
        AdmissionCase{"turnEmpty", [](Json &f, Json &, Context &) { f["turnId"] = ""; }, false},
        AdmissionCase{"turn256", [](Json &f, Json &, Context &) { f["turnId"] = std::string(256, 't'); }, true},
        AdmissionCase{"turn257", [](Json &f, Json &, Context &) { f["turnId"] = std::string(257, 't'); }, false},
        AdmissionCase{"turnNotText", [](Json &f, Json &, Context &) { f["turnId"] = 1; }, false},
        AdmissionCase{"tool128", [](Json &, Json &p, Context &) { p["tool"] = std::string(128, 'x'); }, true},
        AdmissionCase{"tool129", [](Json &, Json &p, Context &) { p["tool"] = std::string(129, 'x'); }, false},
        AdmissionCase{"toolEmpty", [](Json &, Json &p, Context &) { p["tool"] = ""; }, true},
        AdmissionCase{"toolMissing", [](Json &, Json &p, Context &) { p.erase("tool"); }, false},
        AdmissionCase{"deadlineMissing", [](Json &, Json &p, Context &) { p.erase("deadline"); }, false},
        AdmissionCase{"deadlineText", [](Json &, Json &p, Context &) { p["deadline"] = "1777000060000"; }, false},
        AdmissionCase{"deadlineNow", [](Json &, Json &p, Context &) { p["deadline"] = kNow; }, false},
        AdmissionCase{"deadlinePast", [](Json &, Json &p, Context &) { p["deadline"] = kNow - 1; }, false},
        AdmissionCase{"deadlineJustAhead", [](Json &, Json &p, Context &) { p["deadline"] = kNow + 0.25; }, true},
        AdmissionCase{"deadlineInteger", [](Json &, Json &p, Context &) { p["deadline"] = qint64(kNow) + 1000; }, true},
        AdmissionCase{"deadlineInfinite",
                      [](Json &, Json &p, Context &) { p["deadline"] = std::numeric_limits<double>::infinity(); },
                      false},
        AdmissionCase{"noProjectTools", [](Json &, Json &, Context &c) { c.hasHands = false; }, false},
        AdmissionCase{"agentMissing", [](Json &f, Json &, Context &) { f.erase("agent"); }, true},
        AdmissionCase{"payloadNotObject", [](Json &, Json &p, Context &) { p = Json::array(); }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProjectCalls, AdmittedCallCarriesItsIdentityAndAgent)
{
    Json f = frame();
    f["agent"] = 42;
    const auto call = admit(f, payload(), context());
    ASSERT_TRUE(call);
    EXPECT_EQ(call->sessionID, QStringLiteral("prj-1"));
    EXPECT_EQ(call->turnID, QStringLiteral("turn-1"));
    EXPECT_EQ(call->toolUseID, QStringLiteral("tu-1"));
    EXPECT_EQ(call->tool, QStringLiteral("project_read_file"));
    EXPECT_EQ(call->deadline, kNow + 60000);
    // A frame agent that is no text is kept for the digest, and the tools see no agent.
    EXPECT_EQ(call->agent, Json(42));
    EXPECT_TRUE(call->agentText.isEmpty());
}

TEST(ProjectCalls, KeyNamesTheCallAndDigestItsContent)
{
    const Call call = *admit(frame(), payload(), context());
    const QString key = callKey(call);
    EXPECT_EQ(key.size(), 64);
    EXPECT_EQ(key, key.toLower());
    EXPECT_EQ(callKey(*admit(frame(), payload(), context())), key);
    // The same tool-use id in another turn is another call.
    Call otherTurn = call;
    otherTurn.turnID = QStringLiteral("turn-2");
    EXPECT_NE(callKey(otherTurn), key);

    const QByteArray digest = requestDigest(Json("tavrilo_builder"), payload());
    EXPECT_EQ(digest.size(), 32);
    // The same content in another key order is the same request.
    Json reordered = Json::object();
    for (const char *name : {"turnId", "tool", "session_id", "input", "handsId", "deadline", "agent", "toolUseId"})
        reordered[name] = payload()[name];
    EXPECT_EQ(requestDigest(Json("tavrilo_builder"), reordered), digest);
    Json changedInput = payload();
    changedInput["input"]["path"] = "b.txt";
    EXPECT_NE(requestDigest(Json("tavrilo_builder"), changedInput), digest);
    EXPECT_NE(requestDigest(Json("tavrilo_operator"), payload()), digest);
    EXPECT_NE(requestDigest(Json(nullptr), payload()), digest);
}

ProjectAnswer answer(const QString &session, double deadline, bool recorded = false, qsizetype resultBytes = 0)
{
    ProjectAnswer a;
    a.sessionID = session;
    a.deadline = deadline;
    a.recorded = recorded;
    a.result = QString(resultBytes, u'r');
    return a;
}

TEST(ProjectCalls, PruningKeepsUnconfirmedLiveAnswersAndTombstonesOfTheSession)
{
    QHash<QString, ProjectAnswer> answers{
        {QStringLiteral("live"), answer(QStringLiteral("prj-1"), kNow + 1)},
        {QStringLiteral("recorded"), answer(QStringLiteral("prj-1"), kNow + 1, true)},
        {QStringLiteral("expiresNow"), answer(QStringLiteral("prj-1"), kNow)},
        {QStringLiteral("otherSession"), answer(QStringLiteral("prj-0"), kNow + 1)},
    };
    QHash<QString, ProjectCallTombstone> tombstones{{QStringLiteral("mine"), {QStringLiteral("prj-1"), {}}},
                                                    {QStringLiteral("old"), {QStringLiteral("prj-0"), {}}}};
    prune(answers, tombstones, QStringLiteral("prj-1"), kNow);
    EXPECT_EQ(answers.keys(), QList<QString>{QStringLiteral("live")});
    EXPECT_EQ(tombstones.keys(), QList<QString>{QStringLiteral("mine")});
}

struct LimitCase
{
    const char *name;
    qsizetype tombstones;
    int inFlightWithoutAnswer;
    // Cached answers, each with this many result bytes and still in flight or not.
    QList<std::pair<qsizetype, bool>> cached;
    QString want;
};

class Limits : public ::testing::TestWithParam<LimitCase>
{
};

TEST_P(Limits, HistoryThenBudget)
{
    const LimitCase &c = GetParam();
    QHash<QString, ProjectCallTombstone> tombstones;
    tombstones.reserve(c.tombstones);
    for (qsizetype i = 0; i < c.tombstones; ++i)
        tombstones.insert(QString::number(i), {QStringLiteral("prj-1"), {}});
    QSet<QString> inFlight;
    for (int i = 0; i < c.inFlightWithoutAnswer; ++i)
        inFlight.insert(QStringLiteral("running-%1").arg(i));
    QHash<QString, ProjectAnswer> answers;
    for (qsizetype i = 0; i < c.cached.size(); ++i) {
        const QString key = QStringLiteral("cached-%1").arg(i);
        answers.insert(key, answer(QStringLiteral("prj-1"), kNow + 1, false, c.cached[i].first));
        if (c.cached[i].second)
            inFlight.insert(key);
    }
    EXPECT_EQ(failureOf([&] { checkLimits(answers, tombstones, inFlight); }), c.want);
}

const QString kPasses = QStringLiteral("(no failure)");

INSTANTIATE_TEST_SUITE_P(
    ProjectCalls, Limits,
    ::testing::Values(LimitCase{"oneCall", 0, 1, {}, kPasses},
                      LimitCase{"lastRememberedCall", kHistoryLimit - 1, 1, {}, kPasses},
                      LimitCase{"historyFull", kHistoryLimit, 1, {}, historySentence()},
                      // 64 reservations are exactly the budget, which is allowed.
                      LimitCase{"sixtyFourRunning", 0, 64, {}, kPasses},
                      LimitCase{"sixtyFiveRunning", 0, 65, {}, budgetSentence()},
                      // A cached answer counts its bytes, and no reservation even while its call runs.
                      LimitCase{"answerBytesCount", 0, 63, {{131072, true}}, kPasses},
                      LimitCase{"oneByteOver", 0, 63, {{131073, false}}, budgetSentence()},
                      LimitCase{"thousandBytesLowerTheRoom", 0, 64, {{1000, false}}, budgetSentence()},
                      LimitCase{"historyBeforeBudget", kHistoryLimit, 65, {}, historySentence()}),
    [](const auto &info) { return std::string(info.param.name); });

struct VerdictCase
{
    const char *name;
    const char *data;
    Verdict want;
};

class Verdicts : public ::testing::TestWithParam<VerdictCase>
{
};

TEST_P(Verdicts, JudgeTheReply)
{
    EXPECT_EQ(judge(json::parse(GetParam().data)), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    ProjectCalls, Verdicts,
    ::testing::Values(
        VerdictCase{"ok", R"({"tavriloAnswerProjectCall":{"ok":true,"refusal":null}})", Verdict::recorded},
        VerdictCase{"okWinsOverRefusal", R"({"tavriloAnswerProjectCall":{"ok":true,"refusal":"SESSION_CLOSED"}})",
                    Verdict::recorded},
        VerdictCase{"answeredBefore", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":"CALL_ANSWERED"}})",
                    Verdict::recorded},
        VerdictCase{"failed", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":"FAILED"}})", Verdict::retry},
        VerdictCase{"unavailable", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":"PLATFORM_UNAVAILABLE"}})",
                    Verdict::retry},
        VerdictCase{"noRefusal", R"({"tavriloAnswerProjectCall":{"ok":false}})", Verdict::retry},
        VerdictCase{"refusalNotText", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":3}})", Verdict::retry},
        VerdictCase{"okNotBoolean", R"({"tavriloAnswerProjectCall":{"ok":"true"}})", Verdict::retry},
        VerdictCase{"noReplyObject", R"({"tavriloAnswerProjectCall":null})", Verdict::retry},
        VerdictCase{"noReplyField", R"({})", Verdict::retry},
        VerdictCase{"otherRefusal", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":"SESSION_CLOSED"}})",
                    Verdict::refused},
        VerdictCase{"refusalInOtherCase", R"({"tavriloAnswerProjectCall":{"ok":false,"refusal":"call_answered"}})",
                    Verdict::refused}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProjectCalls, AnswerVariablesCarryTheCachedTriple)
{
    const Call call = *admit(frame(), payload(), context());
    ProjectAnswer cached = answer(QStringLiteral("prj-1"), kNow + 1);
    cached.status = QStringLiteral("success");
    cached.result = QStringLiteral("Updated a.txt.");
    cached.changed = {QStringLiteral("a.txt")};
    EXPECT_EQ(answerVariables(call, cached), json::parse(R"({"input":{"sessionId":"prj-1","toolUseId":"tu-1",
        "tool":"project_read_file","handsId":"hands-1","status":"success","result":"Updated a.txt.",
        "changed":["a.txt"]}})"));
}
} // namespace
