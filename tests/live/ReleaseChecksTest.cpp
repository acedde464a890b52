#include "LiveTestSupport.h"

#include "live/EventProjection.h"

#include <gtest/gtest.h>

#include <vector>

using livetest::event;
using livetest::u8;

namespace
{
TEST(ReleaseChecks, ChecksObjectTakesOnlyKnownBooleanKeys)
{
    EventProjection p;
    p.consume(event("check_release", {{"checks", R"({"build-green":true,"lint":false,"preview-answered":"yes"})"}}));
    EXPECT_EQ(p.evaluators, (QMap<QString, bool>{{"build-green", true}}));
    EXPECT_EQ(p.evaluatorLabels.value("build-green"), QStringLiteral("PASS"));
    EXPECT_TRUE(p.evaluatorDetails.isEmpty());
}

TEST(ReleaseChecks, ChecksFromTheInputOrThePayloadItself)
{
    EventProjection fromInput;
    fromInput.consume(event("verify", {{"input", R"({"checks":{"diff-within-plan":false}})"}}));
    EXPECT_EQ(fromInput.evaluatorLabels.value("diff-within-plan"), QStringLiteral("FAIL"));

    EventProjection fromPayload;
    fromPayload.consume(event("check_release", {{"no-secret-in-diff", "true"},
                                                {"released", "false"},
                                                {"requiredRoles", R"(["tavrilo_builder"])"},
                                                {"observedRoles", R"(["tavrilo_builder",1])"}}));
    EXPECT_EQ(fromPayload.evaluators.value("no-secret-in-diff"), true);
    EXPECT_EQ(fromPayload.releaseAuthorized, false);
    EXPECT_EQ(fromPayload.requiredRoles, QStringList{"tavrilo_builder"});
    EXPECT_TRUE(fromPayload.observedRoles.isEmpty()); // not a list of texts
}

TEST(ReleaseChecks, OtherKindsCarryNoVerdicts)
{
    EventProjection p;
    p.consume(event("usage", {{"released", "true"}, {"build-green", "true"}}));
    EXPECT_FALSE(p.releaseAuthorized);
    EXPECT_TRUE(p.evaluators.isEmpty());
}

struct ResultCase
{
    const char *name;
    const char *result;
    const char *label; // nullptr: not recorded
    const char *detail;
    int verdict; // 1 pass, 0 fail, -1 neither
};

class EvaluatorResult : public ::testing::TestWithParam<ResultCase>
{
};

TEST_P(EvaluatorResult, Records)
{
    const auto &c = GetParam();
    EventProjection p;
    p.consume(event("check_release", {{"results", QStringLiteral("[%1]").arg(u8(c.result))}}));
    const QString key = QStringLiteral("review-fidelity");
    if (!c.label) {
        EXPECT_TRUE(p.evaluatorLabels.isEmpty());
        EXPECT_TRUE(p.evaluatorDetails.isEmpty());
        return;
    }
    EXPECT_EQ(p.evaluatorLabels.value(key), u8(c.label));
    EXPECT_EQ(p.evaluatorDetails.value(key), u8(c.detail));
    EXPECT_EQ(p.evaluators.contains(key), c.verdict >= 0);
    if (c.verdict >= 0) {
        EXPECT_EQ(p.evaluators.value(key), c.verdict == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvaluatorResult,
    ::testing::Values(
        ResultCase{"FailWithValueAndReason",
                   R"({"evaluator":"review-fidelity","label":"FAIL","value":0.4,"reason":"Claim 2 is unsupported."})",
                   "FAIL", "FAIL (0.4) \u00b7 Claim 2 is unsupported.", 0},
        ResultCase{"ExplanationWinsOverReason",
                   R"({"evaluator":"review-fidelity","label":"PASS","value":1,"explanation":"e","reason":"r"})", "PASS",
                   "PASS (1) \u00b7 e", 1},
        ResultCase{"BareLabel", R"({"evaluator":"review-fidelity","label":"FAIL"})", "FAIL", "FAIL \u00b7 ", 0},
        ResultCase{"NotApplicableIsNeither",
                   R"({"evaluator":"review-fidelity","label":"NOT_APPLICABLE","value":"0.4"})", "NOT_APPLICABLE",
                   "NOT_APPLICABLE \u00b7 ", -1},
        ResultCase{"LowerCaseFailIsNoFail", R"({"evaluator":"review-fidelity","label":"fail"})", "fail", "fail \u00b7 ",
                   -1},
        ResultCase{"UnknownEvaluator", R"({"evaluator":"lint","label":"FAIL"})", nullptr, "", -1},
        ResultCase{"LabelNoText", R"({"evaluator":"review-fidelity","label":false})", nullptr, "", -1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReleaseChecks, LaterVerdictReplacesAndNotApplicableWithdraws)
{
    EventProjection p;
    p.consume(event("verify", {{"results", R"([{"evaluator":"build-green","label":"PASS"}])"}}));
    p.consume(event("verify", {{"results", R"([{"evaluator":"build-green","label":"NOT_APPLICABLE"}])"},
                               {"reviewFidelity", R"({"label":"B+"})"}}));
    EXPECT_FALSE(p.evaluators.contains("build-green"));
    EXPECT_EQ(p.reviewerGrade, QStringLiteral("B+"));
    p.consume(event("verify", {{"reviewFidelity", R"({"grade":"A"})"}}));
    EXPECT_FALSE(p.reviewerGrade);
}

TEST(ReleaseChecks, GridShowsTheRequestedRoundFirstOnceReported)
{
    EventProjection p;
    EXPECT_EQ(p.releaseCheckLabels(), EventProjection::releaseLabels());
    EXPECT_EQ(p.releaseCheckLabels().size(), 6);
    p.consume(event("verify", {{"results", R"([{"evaluator":"requested-specialist-round","label":"PASS"}])"}}));
    ASSERT_EQ(p.releaseCheckLabels().size(), 7);
    EXPECT_EQ(p.releaseCheckLabels().front(), QStringLiteral("requested-specialist-round"));
}

struct GuidanceCase
{
    const char *name;
    std::vector<WorkspaceEvent> events;
    const char *want; // nullptr: no guidance
};

class ErrorGuidance : public ::testing::TestWithParam<GuidanceCase>
{
};

TEST_P(ErrorGuidance, ChoosesTheSentence)
{
    const auto &events = GetParam().events;
    const EventProjection p(QList<WorkspaceEvent>(events.begin(), events.end()));
    if (!GetParam().want) {
        EXPECT_FALSE(p.errorGuidance());
    } else {
        EXPECT_EQ(p.errorGuidance(), u8(GetParam().want));
    }
}

WorkspaceEvent results(const char *json)
{
    return event("check_release", {{"results", u8(json)}});
}

WorkspaceEvent held()
{
    return event("error", {{"code", "DELIVERY_HELD"}});
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorGuidance,
    ::testing::Values(
        GuidanceCase{"NoError", {results(R"([{"evaluator":"review-fidelity","label":"FAIL"}])")}, nullptr},
        GuidanceCase{"IterationCap",
                     {event("error", {{"code", "ITERATION_CAP"}})},
                     "The team reached its handoff limit. Review the positions or ask a narrower follow-up."},
        GuidanceCase{"AnyOtherCode",
                     {event("error", {{"code", "bad code"}})},
                     "This turn ended before delivery. Review the events and try again."},
        GuidanceCase{"RoundIncompleteNamesTheMissing",
                     {event("check_release",
                            {{"requiredRoles", R"(["tavrilo_builder","tavrilo_reviewer","tavrilo_code tavrilo_ops"])"},
                             {"observedRoles", R"(["tavrilo_builder"])"},
                             {"results", R"([{"evaluator":"requested-specialist-round","label":"FAIL"},
                                                              {"evaluator":"review-fidelity","label":"FAIL"}])"}}),
                      held()},
                     "The requested parallel round is incomplete. Missing: Reviewer, Code Ops."},
        GuidanceCase{
            "RoundFailedWithNobodyMissing",
            {event("check_release", {{"requiredRoles", R"(["tavrilo_builder"])"},
                                     {"observedRoles", R"(["tavrilo_builder"])"},
                                     {"results", R"([{"evaluator":"requested-specialist-round","label":"FAIL"}])"}}),
             held()},
            "The requested parallel specialist round did not complete. Delivery remains held."},
        GuidanceCase{
            "ReviewWinsOverCriteria",
            {results(
                 R"([{"evaluator":"criteria-covered","label":"FAIL"},{"evaluator":"review-fidelity","label":"FAIL"}])"),
             held()},
            "Independent review failed. Correct the unsupported claims or missing evidence below, then request "
            "a new review."},
        GuidanceCase{"CriteriaUncovered",
                     {event("check_release", {{"checks", R"({"criteria-covered":false})"}}), held()},
                     "Acceptance criteria lack verified tests. Add coverage before delivery."},
        GuidanceCase{"HeldOtherwise",
                     {results(R"([{"evaluator":"requested-specialist-round","label":"PASS"}])"), held()},
                     "Release checks held this turn. Open a failed badge for the reason before continuing."}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
