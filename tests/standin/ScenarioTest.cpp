// The scenario's own rules, in process: matching, the order in which steps are spent, padding.

#include "standin/Scenario.h"
#include "standin/ScriptedStep.h"

#include <gtest/gtest.h>

namespace
{
const Scenario::Sections kSections = {
    {"graphql", [](const Json &step) { return scriptedstep::validate(step, true); }},
};

Scenario scenarioOf(const char *text)
{
    QString error;
    auto scenario = Scenario::fromJson(Json::parse(text), kSections, &error);
    if (!scenario)
        throw std::runtime_error(error.toStdString());
    return std::move(*scenario);
}

struct MatchCase
{
    const char *name;
    const char *pattern;
    const char *value;
    bool matches;
};

class Match : public ::testing::TestWithParam<MatchCase>
{
};

TEST_P(Match, IsASubsetOfObjectsAndEqualityOfTheRest)
{
    const MatchCase &c = GetParam();
    EXPECT_EQ(scriptedstep::matches(Json::parse(c.pattern), Json::parse(c.value)), c.matches);
}

INSTANTIATE_TEST_SUITE_P(Cases, Match,
                         ::testing::Values(MatchCase{"EmptyPatternMatchesAnyObject", "{}", R"({"a":1})", true},
                                           MatchCase{"NestedSubset", R"({"v":{"input":{"id":"s"}}})",
                                                     R"({"v":{"input":{"id":"s","x":2}},"y":3})", true},
                                           MatchCase{"MissingMember", R"({"v":{"id":"s"}})", R"({"v":{}})", false},
                                           MatchCase{"DifferentValue", R"({"id":"s"})", R"({"id":"t"})", false},
                                           MatchCase{"IntegerIsNotString", R"({"id":1})", R"({"id":"1"})", false},
                                           MatchCase{"ArraysCompareWhole", R"({"l":[1]})", R"({"l":[1,2]})", false},
                                           MatchCase{"NullMatchesOnlyNull", R"({"n":null})", R"({"n":0})", false},
                                           MatchCase{"ObjectPatternAgainstScalar", R"({"v":{}})", R"({"v":1})", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Scenario, SpendsMatchingQueueEntriesByTheirTimesThenServesTheDefault)
{
    Scenario scenario = scenarioOf(R"({"graphql":{"Op":{
        "queue":[{"match":{"n":2},"status":502},{"times":2,"status":500},{"status":501}],
        "default":{"status":503}}}})");
    auto next = [&](int n) {
        const auto step = scenario.take("graphql", "Op", Json{{"n", n}});
        return step ? (*step)["status"].get<int>() : 0;
    };
    EXPECT_EQ(next(1), 500);
    EXPECT_EQ(next(1), 500);
    EXPECT_EQ(next(2), 502);
    EXPECT_EQ(next(2), 501);
    EXPECT_EQ(next(1), 503);
    EXPECT_EQ(next(1), 503);
    EXPECT_FALSE(scenario.take("graphql", "Other", Json::object()));
}

TEST(Scenario, DefaultWithAMatchServesOnlyMatchingRequests)
{
    Scenario scenario = scenarioOf(R"({"graphql":{"Op":{"default":{"match":{"n":1},"status":500}}}})");
    EXPECT_TRUE(scenario.take("graphql", "Op", Json{{"n", 1}}));
    EXPECT_FALSE(scenario.take("graphql", "Op", Json{{"n", 2}}));
}

TEST(Scenario, ExtraHostsAreKeptInLowerCase)
{
    EXPECT_EQ(scenarioOf(R"({"hosts":["Shell.Example.NET"]})").extraHosts(),
              QStringList{QStringLiteral("shell.example.net")});
}

TEST(ScriptedStep, PaddingKeepsTheDocumentValidAtTheExactSize)
{
    for (const QByteArray &body : {QByteArray(R"({"a":1})"), QByteArray("[1]"), QByteArray("text")}) {
        const QByteArray padded = scriptedstep::padTo(body, 64);
        EXPECT_EQ(padded.size(), 64);
        EXPECT_EQ(padded.simplified().replace(" ", ""), body) << body.toStdString();
    }
    EXPECT_TRUE(json::tryParse(scriptedstep::padTo(R"({"a":1})", 1000)));
}

TEST(ScriptedStep, StatusOutsideSuccessWithoutABodySendsAnEmptyBody)
{
    bool madeDefault = false;
    const Outcome outcome =
        scriptedstep::apply(Json{{"status", 302}, {"headers", {{"Location", "https://x.example/"}}}}, [&] {
            madeDefault = true;
            return Outcome{};
        });
    EXPECT_FALSE(madeDefault);
    EXPECT_EQ(outcome.response.status, 302);
    EXPECT_TRUE(outcome.response.body.isEmpty());
    EXPECT_EQ(outcome.response.head(0, false).count("Location: https://x.example/"), 1);
}
} // namespace
