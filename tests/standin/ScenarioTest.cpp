// The scenario's own rules, in process: matching, the order in which steps are spent, padding.

#include "standin/Scenario.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"
#include "standin/Services.h"

#include <gtest/gtest.h>

namespace
{
const Scenario::Sections kSections = {
    {"graphql", [](const Json &step) { return scriptedstep::validate(step, true); }},
};

// The sections of every registered service, as the stand-in checks a posted scenario.
const Scenario::Sections &allSections()
{
    static const ServiceRegistry registry = [] {
        ServiceRegistry r;
        registerServices(r);
        return r;
    }();
    return registry.scenarioSections();
}

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

TEST(ScriptedStep, ScriptedConnectionHeaderReplacesTheStandInsOwn)
{
    const Outcome outcome = scriptedstep::apply(Json{{"headers", {{"connection", "close"}}}}, [] { return Outcome{}; });
    const QByteArray head = outcome.response.head(0, /*close=*/false);
    EXPECT_EQ(head.toLower().count("connection:"), 1) << head.toStdString();
    EXPECT_TRUE(head.contains("connection: close"));
    EXPECT_TRUE(outcome.response.closes(/*requested=*/false));
}

// Every count and size a scenario gives is bounded; one past its bound refuses the whole document
// with a reason naming the member.
struct LimitCase
{
    const char *name;
    const char *scenario;
    const char *reason; // a part of the refusal's text
};

class ScenarioLimits : public ::testing::TestWithParam<LimitCase>
{
};

TEST_P(ScenarioLimits, RefuseAScenarioPastABound)
{
    QString error;
    EXPECT_FALSE(Scenario::fromJson(Json::parse(GetParam().scenario), allSections(), &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().reason))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScenarioLimits,
    ::testing::Values(
        LimitCase{"Times", R"({"graphql":{"NativeStop":{"queue":[{"times":1000001}]}}})", "times"},
        LimitCase{"TimesBeyondSixtyFourBits", R"({"connect":{"*":{"queue":[{"times":18446744073709551615}]}}})",
                  "times"},
        LimitCase{"RealtimeTimes", R"({"realtime":{"*":{"queue":[{"times":100000000000}]}}})", "times"},
        LimitCase{"HttpsDelay", R"({"https":{"signInToken":{"default":{"delayMs":600001}}}})", "delayMs"},
        LimitCase{"ConnectDelay", R"({"connect":{"*":{"default":{"delayMs":10000000000}}}})", "delayMs"},
        LimitCase{"BodySize", R"({"graphql":{"*":{"default":{"bodySize":67108865}}}})", "bodySize"},
        LimitCase{"PadTo", R"({"realtime":{"*":{"default":{"send":[{"text":"{}","padTo":1000000000000}]}}}})", "padTo"},
        LimitCase{"Repeat", R"({"realtime":{"*":{"default":{"send":[{"text":"{}","repeat":100000000000}]}}}})",
                  "repeat"},
        LimitCase{"RealtimeDelay", R"({"realtime":{"*":{"default":{"send":[{"text":"x","delayMs":3000000000}]}}}})",
                  "delayMs"},
        LimitCase{"KeepAlive", R"({"realtime":{"*":{"default":{"keepAliveMs":10000000000}}}})", "keepAliveMs"},
        LimitCase{"KeepAliveTooFast", R"({"realtime":{"*":{"default":{"keepAliveMs":1}}}})", "keepAliveMs"},
        LimitCase{"ConnectionTimeout", R"({"realtime":{"*":{"default":{"connectionTimeoutMs":0}}}})",
                  "connectionTimeoutMs"},
        LimitCase{"SliceBytes",
                  R"({"realtime":{"*":{"default":{"send":[{"frame":{},"chunked":{"id":"c","sliceBytes":0}}]}}}})",
                  "sliceBytes"},
        LimitCase{"Seed",
                  R"({"realtime":{"*":{"default":{"send":[{"frame":{},"chunked":{"id":"c","seed":4294967296}}]}}}})",
                  "seed"},
        LimitCase{"ReservedCloseCode", R"({"realtime":{"*":{"default":{"send":[{"close":1005}]}}}})", "close"},
        LimitCase{"CloseCodeOutOfRange", R"({"realtime":{"*":{"default":{"send":[{"close":70000}]}}}})", "close"},
        // Each member within its bound, the whole past the budget of one step.
        LimitCase{"StepBytes",
                  R"({"realtime":{"*":{"default":{"send":[{"text":"{}","repeat":10000,"padTo":16777216}]}}}})",
                  "bytes"},
        LimitCase{"StepMessages",
                  R"({"realtime":{"*":{"default":{"send":[{"text":"x","repeat":10000},{"text":"x","repeat":10000},
                     {"text":"x","repeat":10000},{"text":"x","repeat":10000},{"text":"x","repeat":10000},
                     {"text":"x","repeat":10000},{"text":"x","repeat":10000},{"text":"x","repeat":10000},
                     {"text":"x","repeat":10000},{"text":"x","repeat":10000},{"text":"x"}]}}}})",
                  "messages"},
        LimitCase{"ChunksOfOneByte",
                  R"({"realtime":{"*":{"default":{"send":[{"frame":{"payload":{"text":"abcdefghij"}},
                     "chunked":{"id":"c","sliceBytes":1,"duplicate":true},"repeat":10000}]}}}})",
                  "messages"},
        LimitCase{"ShellMessageSize", R"({"commandChannel":{"*":{"default":{"send":[{"size":1048577}]}}}})", "size"},
        LimitCase{"ShellRepeat", R"({"commandChannel":{"*":{"default":{"send":[{"heartbeat":true,"repeat":10001}]}}}})",
                  "repeat"},
        LimitCase{"ShellDelay", R"({"commandChannel":{"*":{"default":{"send":[{"drop":true,"delayMs":600001}]}}}})",
                  "delayMs"},
        LimitCase{"ShellCloseCode", R"({"commandChannel":{"*":{"default":{"send":[{"close":1006}]}}}})", "close"},
        LimitCase{"ShellStepBytes",
                  R"({"commandChannel":{"*":{"default":{"send":[{"size":1048576,"repeat":64},{"heartbeat":true}]}}}})",
                  "bytes"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ScenarioLimits, AcceptValuesAtTheirBounds)
{
    for (const char *text : {
             R"({"graphql":{"NativeStop":{"queue":[{"times":1000000,"delayMs":600000,"bodySize":67108864}]}}})",
             R"({"realtime":{"*":{"default":{"keepAliveMs":0,"connectionTimeoutMs":3600000,
                 "send":[{"text":"{}","padTo":16777216},{"text":"x","repeat":10000,"delayMs":600000},{"close":4999}]}}}})",
             R"({"realtime":{"*":{"default":{"keepAliveMs":3600000,"send":[{"frame":{},"chunked":{"id":"c",
                 "seed":4294967295,"sliceBytes":16777216}}]}}}})",
             R"({"commandChannel":{"*":{"default":{"send":[{"size":1048576,"repeat":63,"channel":255,"delayMs":600000},
                 {"heartbeat":true,"repeat":10000},{"close":4999}]}}}})",
         }) {
        QString error;
        EXPECT_TRUE(Scenario::fromJson(Json::parse(text), allSections(), &error))
            << text << ": " << error.toStdString();
    }
}

// Scripted headers never change how an answer is framed: no line breaks, no length or coding of
// their own.
struct HeaderCase
{
    const char *name;
    Json headers;
    bool accepted;
};

class ScriptedHeaders : public ::testing::TestWithParam<HeaderCase>
{
};

TEST_P(ScriptedHeaders, AreCheckedWithTheScenario)
{
    const Json document{{"graphql", {{"NativeStop", {{"default", {{"headers", GetParam().headers}}}}}}}};
    QString error;
    EXPECT_EQ(Scenario::fromJson(document, allSections(), &error).has_value(), GetParam().accepted)
        << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptedHeaders,
                         ::testing::Values(HeaderCase{"Plain", {{"X-Amzn-RequestId", "r1"}}, true},
                                           HeaderCase{"Connection", {{"Connection", "close"}}, true},
                                           HeaderCase{
                                               "CarriageReturnAndLineFeed", {{"X-A", "a\r\nSet-Cookie: b=1"}}, false},
                                           HeaderCase{"LineFeedAlone", {{"X-A", "a\nb"}}, false},
                                           HeaderCase{"Nul", {{"X-A", std::string("a\0b", 3)}}, false},
                                           HeaderCase{"NameWithColon", {{"X-A: b", "c"}}, false},
                                           HeaderCase{"NameWithLineFeed", {{"X-A\nX-B", "c"}}, false},
                                           HeaderCase{"ContentLength", {{"Content-Length", "5"}}, false},
                                           HeaderCase{"TransferEncoding", {{"transfer-encoding", "chunked"}}, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Scenario, ExtraHostsAreNamesInAsciiAsWritten)
{
    QString error;
    // U+212A KELVIN SIGN lower-cases to an ASCII "k": the host must be refused before any mapping.
    EXPECT_FALSE(Scenario::fromJson(Json::parse("{\"hosts\":[\"\u212Aey.example\"]}"), allSections(), &error));
    EXPECT_FALSE(Scenario::fromJson(Json::parse(R"({"hosts":["a b.example"]})"), allSections(), &error));
    EXPECT_FALSE(Scenario::fromJson(Json::parse(R"({"hosts":[""]})"), allSections(), &error));
}
} // namespace
