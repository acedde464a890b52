#include "live/NativePresence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace
{
const QString kLiaison = QStringLiteral("tavrilo_liaison");
const QString kBuilder = QStringLiteral("tavrilo_builder");

NativePresence busy()
{
    NativePresence p;
    p.working = {kLiaison, kBuilder};
    p.velocity = 12.5f;
    p.measuredRate = true;
    p.parallel = true;
    return p;
}

struct Case
{
    const char *name;
    const char *kind;
    EventPayload payload;
    std::function<void(const NativePresence &)> check;
};

class PresenceTable : public ::testing::TestWithParam<Case>
{
};

TEST_P(PresenceTable, Consumes)
{
    NativePresence p = busy();
    p.consume(QString::fromLatin1(GetParam().kind), GetParam().payload);
    GetParam().check(p);
}

// Seven entries: one more than the installed contract's six roles.
const QString kTooMany =
    QStringLiteral(R"(["tavrilo_liaison","tavrilo_architect","tavrilo_builder","tavrilo_reviewer",)"
                   R"("tavrilo_evaluator","tavrilo_operator","tavrilo_liaison"])");

INSTANTIATE_TEST_SUITE_P(
    Table, PresenceTable,
    ::testing::Values(
        Case{"EmptyReportEmptiesTheSet",
             "metadata",
             {{"working", "[]"}},
             [](const NativePresence &p) {
                 EXPECT_TRUE(p.working.isEmpty());
                 EXPECT_FALSE(p.parallel);
                 EXPECT_TRUE(p.measuredRate); // no rate keys: the rate stays
             }},
        Case{"UnknownIdsAreDropped",
             "status",
             {{"working", R"(["ghost","tavrilo_builder","tavrilo_builder"])"}, {"parallel", "true"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.working, QSet<QString>{kBuilder});
                 EXPECT_TRUE(p.parallel);
             }},
        Case{"ParallelOnlyForTheTextTrue",
             "status",
             {{"working", R"(["tavrilo_builder"])"}, {"parallel", "1"}},
             [](const NativePresence &p) { EXPECT_FALSE(p.parallel); }},
        Case{"TooManyEntriesChangeNothing",
             "status",
             {{"working", kTooMany}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.working.size(), 2);
                 EXPECT_TRUE(p.parallel);
             }},
        Case{"MalformedReportChangesNothing",
             "status",
             {{"working", R"(["tavrilo_builder",3])"}},
             [](const NativePresence &p) { EXPECT_EQ(p.working.size(), 2); }},
        Case{"RateMeasured",
             "usage",
             {{"outputTokens", "1200"}, {"latencyMs", "2000"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.velocity, 600.0f);
                 EXPECT_TRUE(p.measuredRate);
             }},
        Case{"ZeroOutputIsAMeasuredZero",
             "metadata",
             {{"outputTokens", "0"}, {"latencyMs", "500"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.velocity, 0.0f);
                 EXPECT_TRUE(p.measuredRate);
             }},
        Case{"ZeroLatencyIsNoRate",
             "usage",
             {{"outputTokens", "10"}, {"latencyMs", "0"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.velocity, 0.0f);
                 EXPECT_FALSE(p.measuredRate);
             }},
        Case{"NegativeOutputIsNoRate",
             "usage",
             {{"outputTokens", "-1"}, {"latencyMs", "10"}},
             [](const NativePresence &p) { EXPECT_FALSE(p.measuredRate); }},
        Case{"BlankIsNoNumber",
             "usage",
             {{"outputTokens", " 5"}, {"latencyMs", "10"}},
             [](const NativePresence &p) { EXPECT_FALSE(p.measuredRate); }},
        Case{"InfinityIsNoRate",
             "usage",
             {{"outputTokens", "inf"}, {"latencyMs", "10"}},
             [](const NativePresence &p) { EXPECT_FALSE(p.measuredRate); }},
        Case{"SignedAndExponentForms",
             "usage",
             {{"outputTokens", "+1.5e3"}, {"latencyMs", "1000"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.velocity, 1500.0f);
                 EXPECT_TRUE(p.measuredRate);
             }},
        Case{"RateBeyondFloatIsNoRate",
             "usage",
             {{"outputTokens", "1e300"}, {"latencyMs", "1"}},
             [](const NativePresence &p) {
                 EXPECT_EQ(p.velocity, 0.0f);
                 EXPECT_FALSE(p.measuredRate);
             }},
        Case{"OneRateKeyAloneResetsTheRate",
             "usage",
             {{"latencyMs", "100"}},
             [](const NativePresence &p) { EXPECT_FALSE(p.measuredRate); }},
        Case{"OtherKindsCarryNoRate",
             "text",
             {{"outputTokens", "1"}, {"latencyMs", "1"}},
             [](const NativePresence &p) { EXPECT_EQ(p.velocity, 12.5f); }},
        Case{"DoneResets",
             "done",
             {},
             [](const NativePresence &p) {
                 EXPECT_TRUE(p.working.isEmpty());
                 EXPECT_EQ(p.velocity, 0.0f);
                 EXPECT_FALSE(p.measuredRate);
                 EXPECT_FALSE(p.parallel);
             }},
        Case{"ErrorNotFinalKeepsWorking",
             "error",
             {{"final", "false"}},
             [](const NativePresence &p) { EXPECT_EQ(p.working.size(), 2); }},
        Case{"ErrorFinalZeroResets",
             "error",
             {{"final", "0"}},
             [](const NativePresence &p) { EXPECT_TRUE(p.working.isEmpty()); }},
        Case{"ErrorWithoutFinalResets", "error", {}, [](const NativePresence &p) { EXPECT_FALSE(p.parallel); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NativePresence, RolesFollowTheSeatOrder)
{
    ASSERT_GE(NativePresence::roles().size(), 3);
    EXPECT_EQ(NativePresence::roles().front(), kLiaison);
    EXPECT_TRUE(NativePresence::isRole(kBuilder));
    EXPECT_FALSE(NativePresence::isRole(QStringLiteral("Unattributed")));
}

TEST(NativePresence, MaskSetsOneBitPerRole)
{
    const QStringList &roles = NativePresence::roles();
    EXPECT_EQ(NativePresence::mask({roles[0], roles[2]}), 5);
    EXPECT_EQ(NativePresence::mask({}), 0);
    EXPECT_EQ(NativePresence::mask({QStringLiteral("ghost")}), 0);
}

TEST(NativePresence, MaskUsesAll64BitsAndNoMore)
{
    QStringList roles;
    for (int i = 0; i < 70; ++i)
        roles.append(QStringLiteral("r%1").arg(i));
    EXPECT_EQ(NativePresence::mask({QStringLiteral("r63")}, roles), std::numeric_limits<qint64>::min());
    EXPECT_EQ(NativePresence::mask({QStringLiteral("r64"), QStringLiteral("r69")}, roles), 0);
    EXPECT_EQ(NativePresence::mask({QStringLiteral("r0")}, {}), 0);
}
} // namespace
