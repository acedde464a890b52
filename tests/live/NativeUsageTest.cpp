#include "LiveTestSupport.h"

#include "live/NativeUsage.h"

#include <gtest/gtest.h>

#include <vector>

using livetest::event;

namespace
{
const QString kCost = QStringLiteral(R"({"status":"estimated_list_price","amount":0.25,"currency":"USD"})");

struct TokenCase
{
    const char *name;
    EventPayload payload;
    qint64 tokens;
    bool observed;
    bool unconfirmed;
};

class UsageTokens : public ::testing::TestWithParam<TokenCase>
{
};

TEST_P(UsageTokens, Counts)
{
    NativeUsage usage;
    WorkspaceEvent e = event("usage");
    e.payload = GetParam().payload;
    usage.apply(e);
    EXPECT_EQ(usage.tokens, GetParam().tokens);
    EXPECT_EQ(usage.tokensObserved, GetParam().observed);
    EXPECT_EQ(usage.unconfirmedTokens, GetParam().unconfirmed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageTokens,
    ::testing::Values(
        TokenCase{"TotalWins", {{"totalTokens", "12"}, {"inputTokens", "5"}, {"outputTokens", "9"}}, 12, true, false},
        TokenCase{"NegativeTotalFallsBackToTheSum",
                  {{"totalTokens", "-1"}, {"inputTokens", "5"}, {"outputTokens", "9"}},
                  14,
                  true,
                  false},
        TokenCase{"TextTotalFallsBackToTheSum",
                  {{"totalTokens", "many"}, {"inputTokens", "5"}, {"outputTokens", "9"}},
                  14,
                  true,
                  false},
        TokenCase{"PlusSign", {{"totalTokens", "+7"}}, 7, true, false},
        TokenCase{"SignAlone", {{"totalTokens", "+"}}, 0, false, true},
        TokenCase{"Blank", {{"totalTokens", " 7"}}, 0, false, true},
        TokenCase{"Fraction", {{"totalTokens", "7.0"}}, 0, false, true},
        TokenCase{"Exponent", {{"totalTokens", "1e3"}}, 0, false, true},
        TokenCase{"Empty", {{"totalTokens", ""}}, 0, false, true},
        TokenCase{"DoubleSign", {{"totalTokens", "+-7"}}, 0, false, true},
        TokenCase{"TooLargeForInt64", {{"totalTokens", "9223372036854775808"}}, 0, false, true},
        TokenCase{
            "LargestInt64", {{"totalTokens", "9223372036854775807"}}, std::numeric_limits<qint64>::max(), true, false},
        TokenCase{"NoKeys", {{"cost", "x"}}, 0, false, true},
        TokenCase{"HalfTheSum", {{"inputTokens", "5"}}, 0, false, true},
        TokenCase{"SumOverflows", {{"inputTokens", "9223372036854775807"}, {"outputTokens", "1"}}, 0, false, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(UsageTokens, OverflowKeepsTheEarlierTotal)
{
    NativeUsage usage;
    usage.apply(event("usage", {{"totalTokens", "9223372036854775000"}}));
    usage.apply(event("usage", {{"totalTokens", "1000"}}));
    EXPECT_EQ(usage.tokens, 9223372036854775000);
    EXPECT_TRUE(usage.tokensObserved);
    EXPECT_TRUE(usage.unconfirmedTokens);
    usage.apply(event("usage", {{"totalTokens", "7"}}));
    EXPECT_EQ(usage.tokens, 9223372036854775007);
    EXPECT_TRUE(usage.unconfirmedTokens); // never turns back
}

struct CostCase
{
    const char *name;
    std::vector<const char *> costs; // nullptr: no "cost" key
    double amount;
    const char *currency; // nullptr: none
    bool unknown;
};

class UsageCost : public ::testing::TestWithParam<CostCase>
{
};

TEST_P(UsageCost, Adds)
{
    NativeUsage usage;
    for (const char *cost : GetParam().costs) {
        WorkspaceEvent e = event("usage", {{"totalTokens", "1"}});
        if (cost)
            e.payload.insert(QStringLiteral("cost"), QString::fromUtf8(cost));
        usage.apply(e);
    }
    EXPECT_DOUBLE_EQ(usage.estimatedAmount, GetParam().amount);
    if (GetParam().currency) {
        EXPECT_EQ(usage.currency, QString::fromLatin1(GetParam().currency));
    } else {
        EXPECT_FALSE(usage.currency);
    }
    EXPECT_EQ(usage.unknown, GetParam().unknown);
    EXPECT_TRUE(usage.tokensObserved); // tokens and cost are independent
}

#define COST(amount, currency)                                                                                         \
    R"({"status":"estimated_list_price","amount":)" #amount R"(,"currency":")" currency R"("})"

INSTANTIATE_TEST_SUITE_P(
    Table, UsageCost,
    ::testing::Values(
        CostCase{"Accepted", {COST(0.25, "USD"), COST(0.5, "USD")}, 0.75, "USD", false},
        CostCase{"ZeroAccepted", {COST(0, "EUR")}, 0, "EUR", false}, CostCase{"Missing", {nullptr}, 0, nullptr, true},
        CostCase{"NotJson", {"cheap"}, 0, nullptr, true}, CostCase{"NotAnObject", {"[1]"}, 0, nullptr, true},
        CostCase{"OtherStatus", {R"({"status":"billed","amount":1,"currency":"USD"})"}, 0, nullptr, true},
        CostCase{
            "AmountAsText", {R"({"status":"estimated_list_price","amount":"1","currency":"USD"})"}, 0, nullptr, true},
        CostCase{"NegativeAmount", {COST(-1, "USD")}, 0, nullptr, true},
        CostCase{"NoCurrency", {R"({"status":"estimated_list_price","amount":1})"}, 0, nullptr, true},
        CostCase{"OtherCurrencyLater", {COST(1, "USD"), COST(2, "EUR")}, 1, "USD", true},
        CostCase{"GoodCostAfterUnknownStillAdds", {nullptr, COST(2, "USD")}, 2, "USD", true},
        CostCase{"SumNotFinite", {COST(1.7e308, "USD"), COST(1.7e308, "USD")}, 1.7e308, "USD", true}),
    [](const auto &info) { return std::string(info.param.name); });

struct LabelCase
{
    const char *name;
    const char *locale;
    const char *cost;
    const char *want;
};

class UsageLabel : public ::testing::TestWithParam<LabelCase>
{
};

TEST_P(UsageLabel, FormatsInTheLocale)
{
    const livetest::LocaleScope locale(GetParam().locale);
    NativeUsage usage;
    usage.apply(event("usage", {{"cost", QString::fromUtf8(GetParam().cost)}}));
    EXPECT_EQ(usage.label(), QString::fromUtf8(GetParam().want));
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageLabel,
    ::testing::Values(LabelCase{"UnitedStates", "en_US", COST(1234.5, "USD"), "Est. $1,234.50"},
                      LabelCase{"SixFractionDigits", "en_US", COST(0.0012345678, "USD"), "Est. $0.001235"},
                      LabelCase{"Zero", "en_US", COST(0, "USD"), "Est. $0.00"},
                      LabelCase{"Germany", "de_DE", COST(1234.5, "EUR"), "Est. 1.234,50\u00a0\u20ac"},
                      LabelCase{"IndiaGroupsByTwo", "en_IN", COST(1234567.5, "INR"), "Est. \u20b912,34,567.50"},
                      LabelCase{"UnknownCost", "en_US", "{}", "Cost unknown"},
                      LabelCase{"UnusableCodeFallsBack", "en_US", COST(2.5, "dollars"), "Est. 2.5 dollars"}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
