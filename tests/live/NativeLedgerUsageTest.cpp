#include "LiveTestSupport.h"

#include "core/HubError.h"
#include "live/NativeLedgerUsage.h"
#include "live/NativePresence.h"

#include <gtest/gtest.h>

#include <functional>

using livetest::u8;

namespace
{
TEST(DecimalText, RecognisesTotalsAndAmounts)
{
    for (const char *total : {"0", "007", "123456789012345678901234567890"})
        EXPECT_TRUE(NativeLedgerUsage::isDecimalTotal(u8(total))) << total;
    for (const char *notTotal : {"", "+1", "-1", "1 ", "1,000", "1.5", "\u0661"})
        EXPECT_FALSE(NativeLedgerUsage::isDecimalTotal(u8(notTotal))) << notTotal;
    for (const char *amount : {"12", "12.50", "0.000"})
        EXPECT_TRUE(NativeLedgerUsage::isDecimalAmount(u8(amount))) << amount;
    for (const char *notAmount : {"", ".5", "5.", "1.2.3", "+1", "1e3"})
        EXPECT_FALSE(NativeLedgerUsage::isDecimalAmount(u8(notAmount))) << notAmount;
}

TEST(DecimalText, SumsDigitByDigit)
{
    EXPECT_EQ(NativeLedgerUsage::sumDecimalTotals({"999", "1"}), QStringLiteral("1000"));
    EXPECT_EQ(NativeLedgerUsage::sumDecimalTotals({}), QStringLiteral("0"));
    EXPECT_EQ(NativeLedgerUsage::sumDecimalTotals({"007", "0"}), QStringLiteral("7"));
    EXPECT_EQ(NativeLedgerUsage::sumDecimalTotals({"000", "00"}), QStringLiteral("0"));
    // Beyond 64 bits, exactly.
    EXPECT_EQ(NativeLedgerUsage::sumDecimalTotals({"18446744073709551615", "18446744073709551615", "2"}),
              QStringLiteral("36893488147419103232"));
    EXPECT_FALSE(NativeLedgerUsage::sumDecimalTotals({"1", ""}));
    EXPECT_FALSE(NativeLedgerUsage::sumDecimalTotals({"1", "1a"}));
}

struct GroupCase
{
    const char *name;
    const char *locale;
    const char *total;
    const char *want; // nullptr: no text
};

class TokenTotal : public ::testing::TestWithParam<GroupCase>
{
};

TEST_P(TokenTotal, Groups)
{
    const auto text =
        NativeLedgerUsage::formatTokenTotal(u8(GetParam().total), QLocale(QString::fromLatin1(GetParam().locale)));
    if (!GetParam().want) {
        EXPECT_FALSE(text);
    } else {
        EXPECT_EQ(text, u8(GetParam().want));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TokenTotal,
                         ::testing::Values(GroupCase{"UnitedStates", "en_US", "0001234567", "1,234,567"},
                                           GroupCase{"Germany", "de_DE", "1234567", "1.234.567"},
                                           GroupCase{"IndiaThreeThenTwo", "en_IN", "123456789", "12,34,56,789"},
                                           GroupCase{"BeyondSixtyFourBits", "en_US", "123456789012345678901234",
                                                     "123,456,789,012,345,678,901,234"},
                                           GroupCase{"ZerosAreZero", "en_US", "000", "0"},
                                           GroupCase{"ShortStaysWhole", "en_IN", "999", "999"},
                                           GroupCase{"Negative", "en_US", "-5", nullptr},
                                           GroupCase{"Empty", "en_US", "", nullptr},
                                           GroupCase{"Fraction", "en_US", "1.5", nullptr}),
                         [](const auto &info) { return std::string(info.param.name); });

struct AmountCase
{
    const char *name;
    const char *locale;
    const char *amount;
    const char *want;
};

class DecimalAmount : public ::testing::TestWithParam<AmountCase>
{
};

TEST_P(DecimalAmount, FormatsInTheCurrentLocale)
{
    const livetest::LocaleScope locale(GetParam().locale);
    const auto text = NativeLedgerUsage::formatDecimalAmount(u8(GetParam().amount));
    if (!GetParam().want) {
        EXPECT_FALSE(text);
    } else {
        EXPECT_EQ(text, u8(GetParam().want));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DecimalAmount,
                         ::testing::Values(AmountCase{"TrailingZerosDropped", "en_US", "1234.500", "1,234.5"},
                                           AmountCase{"WholeFraction", "en_US", "12.00", "12"},
                                           AmountCase{"Tenth", "en_US", "0.10", "0.1"},
                                           AmountCase{"GermanComma", "de_DE", "1234.5", "1.234,5"},
                                           AmountCase{"India", "en_IN", "1234567.25", "12,34,567.25"},
                                           AmountCase{"PointWithoutDigits", "en_US", "5.", nullptr}),
                         [](const auto &info) { return std::string(info.param.name); });

Json row(const QString &agent, const char *tokens = "10")
{
    Json r = {{"unattributed", agent.isEmpty()}, {"recordCount", "1"},    {"totalInputTokens", "4"},
              {"totalOutputTokens", "6"},        {"totalTokens", tokens}, {"unknownCostRecords", 0},
              {"unknownUsageRecords", 0}};
    if (!agent.isEmpty())
        r["agentId"] = agent.toStdString();
    return r;
}

// A consistent summary: one row per installed role and one unattributed row, 10 tokens each.
Json summary()
{
    Json rows = Json::array();
    for (const QString &role : NativePresence::roles())
        rows.push_back(row(role));
    rows.push_back(row(QString()));
    const qsizetype n = rows.size();
    return Json{{"agents", rows},
                {"pendingUsageRecords", 0},
                {"sessionLedgerReady", true},
                {"tenantId", "tenant-1"},
                {"sessionId", nullptr},
                {"period", "2026-12"},
                {"totalInputTokens", std::to_string(4 * n)},
                {"totalOutputTokens", std::to_string(6 * n)},
                {"totalTokens", std::to_string(10 * n)},
                {"unknownUsageRecords", 0},
                {"unknownCostRecords", 0}};
}

struct ValidityCase
{
    const char *name;
    std::function<void(Json &)> change;
    bool valid;
};

class LedgerValidity : public ::testing::TestWithParam<ValidityCase>
{
};

TEST_P(LedgerValidity, Checks)
{
    Json document = summary();
    GetParam().change(document);
    EXPECT_EQ(NativeLedgerUsage::decode(document).valid(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LedgerValidity,
    ::testing::Values(
        ValidityCase{"Consistent", [](Json &) {}, true},
        ValidityCase{"LeadingZerosInTheTotal",
                     [](Json &s) { s["totalTokens"] = "0" + s["totalTokens"].get<std::string>(); }, true},
        ValidityCase{"TotalOffByOne", [](Json &s) { s["totalTokens"] = "69"; }, false},
        ValidityCase{"InputTotalOff", [](Json &s) { s["totalInputTokens"] = "0"; }, false},
        ValidityCase{"OutputTotalNoDecimal", [](Json &s) { s["totalOutputTokens"] = "42 "; }, false},
        ValidityCase{"EmptyTenant", [](Json &s) { s["tenantId"] = ""; }, false},
        ValidityCase{"NegativePending", [](Json &s) { s["pendingUsageRecords"] = -1; }, false},
        ValidityCase{"NegativeUnknownCost", [](Json &s) { s["unknownCostRecords"] = -1; }, false},
        ValidityCase{"RowMissing", [](Json &s) { s["agents"].erase(0); }, false},
        ValidityCase{"RowDoubledInPlaceOfAnother", [](Json &s) { s["agents"][1] = s["agents"][0]; }, false},
        ValidityCase{"ExtraRow", [](Json &s) { s["agents"].push_back(row(QStringLiteral("tavrilo_builder"), "0")); },
                     false},
        ValidityCase{"UnknownRole", [](Json &s) { s["agents"][0]["agentId"] = "tavrilo_ghost"; }, false},
        ValidityCase{"AgentRowMarkedUnattributed", [](Json &s) { s["agents"][0]["unattributed"] = true; }, false},
        ValidityCase{"UnattributedRowNotMarked", [](Json &s) { s["agents"].back()["unattributed"] = false; }, false},
        ValidityCase{"RowsInAnyOrder", [](Json &s) { std::reverse(s["agents"].begin(), s["agents"].end()); }, true},
        ValidityCase{"RowCountNoDecimal", [](Json &s) { s["agents"][0]["recordCount"] = "1.0"; }, false},
        ValidityCase{"RowCentsAmount", [](Json &s) { s["agents"][0]["totalCostCents"] = "12.50"; }, true},
        ValidityCase{"RowCentsNoAmount", [](Json &s) { s["agents"][0]["totalCostCents"] = ".5"; }, false},
        ValidityCase{"RowCurrencyLowerCase", [](Json &s) { s["agents"][0]["estimatedCostCurrency"] = "usd"; }, false},
        ValidityCase{"RowCurrencyFourLetters", [](Json &s) { s["agents"][0]["estimatedCostCurrency"] = "USDT"; },
                     false},
        ValidityCase{"RowCurrencyAccented", [](Json &s) { s["agents"][0]["estimatedCostCurrency"] = "\xc3\x89UR"; },
                     false},
        ValidityCase{"RowNegativeUnknown", [](Json &s) { s["agents"][0]["unknownUsageRecords"] = -2; }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LedgerDecoding, IsStrictAboutTypes)
{
    const std::function<void(Json &)> broken[] = {
        [](Json &s) { s.erase("tenantId"); },
        [](Json &s) { s["period"] = nullptr; },
        [](Json &s) { s["pendingUsageRecords"] = 1.5; },
        [](Json &s) { s["pendingUsageRecords"] = 1.0; },
        [](Json &s) { s["unknownCostRecords"] = "0"; },
        [](Json &s) { s["totalTokens"] = 70; },
        [](Json &s) { s["sessionLedgerReady"] = 1; },
        [](Json &s) { s["estimatedCostAmount"] = "1.5"; },
        [](Json &s) { s["agents"] = Json::object(); },
        [](Json &s) { s["agents"][0].erase("unattributed"); },
        [](Json &s) { s["agents"][0]["totalCostCents"] = 12; },
        [](Json &s) { s["agents"][0]["agentId"] = 3; },
    };
    for (size_t i = 0; i < std::size(broken); ++i) {
        Json document = summary();
        broken[i](document);
        EXPECT_THROW(NativeLedgerUsage::decode(document), HubError) << "case " << i;
    }
    Json optionalNulls = summary();
    optionalNulls["estimatedCostAmount"] = nullptr;
    optionalNulls["agents"][0]["estimatedCostCurrency"] = nullptr;
    optionalNulls["unknownKey"] = "ignored";
    const auto decoded = NativeLedgerUsage::decode(optionalNulls);
    EXPECT_FALSE(decoded.estimatedCostAmount);
    EXPECT_FALSE(decoded.sessionId);
    EXPECT_TRUE(decoded.valid());
}

struct LabelCase
{
    const char *name;
    const char *locale;
    std::function<void(Json &)> change;
    const char *tokens;
    const char *cost;
};

class LedgerLabels : public ::testing::TestWithParam<LabelCase>
{
};

TEST_P(LedgerLabels, Show)
{
    const livetest::LocaleScope locale(GetParam().locale);
    Json document = summary();
    GetParam().change(document);
    const auto usage = NativeLedgerUsage::decode(document);
    EXPECT_EQ(usage.tokenLabel(), u8(GetParam().tokens));
    EXPECT_EQ(usage.estimatedCostLabel(), u8(GetParam().cost));
}

INSTANTIATE_TEST_SUITE_P(Table, LedgerLabels,
                         ::testing::Values(LabelCase{"UnitedStates", "en_US",
                                                     [](Json &s) {
                                                         s["totalTokens"] = "001234567";
                                                         s["estimatedCostAmount"] = 12.5;
                                                         s["estimatedCostCurrency"] = "USD";
                                                     },
                                                     "1,234,567 tokens", "Estimated $12.50"},
                                           LabelCase{"Germany", "de_DE",
                                                     [](Json &s) {
                                                         s["totalTokens"] = "1234567";
                                                         s["estimatedCostAmount"] = 1234.5;
                                                         s["estimatedCostCurrency"] = "EUR";
                                                     },
                                                     "1.234.567 tokens", "Estimated 1.234,50\u00a0\u20ac"},
                                           LabelCase{"India", "en_IN",
                                                     [](Json &s) {
                                                         s["totalTokens"] = "123456789";
                                                         s["estimatedCostAmount"] = -0.0;
                                                         s["estimatedCostCurrency"] = "INR";
                                                     },
                                                     "12,34,56,789 tokens", "Estimated \u20b90.00"},
                                           LabelCase{
                                               "Unconfirmed", "en_US", [](Json &s) { s["unknownUsageRecords"] = 2; },
                                               "At least 70 tokens \u00b7 2 unconfirmed", "Cost awaiting confirmation"},
                                           LabelCase{"UngroupableTotal", "en_US",
                                                     [](Json &s) {
                                                         s["totalTokens"] = "n/a";
                                                         s["unknownCostRecords"] = 1;
                                                         s["estimatedCostAmount"] = 1;
                                                         s["estimatedCostCurrency"] = "USD";
                                                     },
                                                     "Usage unavailable", "Cost awaiting confirmation"},
                                           LabelCase{"LowerCaseCurrency", "en_US",
                                                     [](Json &s) {
                                                         s["estimatedCostAmount"] = 1;
                                                         s["estimatedCostCurrency"] = "usd";
                                                     },
                                                     "70 tokens", "Cost awaiting confirmation"},
                                           LabelCase{"NegativeAmount", "en_US",
                                                     [](Json &s) {
                                                         s["estimatedCostAmount"] = -1;
                                                         s["estimatedCostCurrency"] = "USD";
                                                     },
                                                     "70 tokens", "Cost awaiting confirmation"}),
                         [](const auto &info) { return std::string(info.param.name); });

class AgentLedgerLabels : public ::testing::TestWithParam<LabelCase>
{
};

TEST_P(AgentLedgerLabels, Show)
{
    const livetest::LocaleScope locale(GetParam().locale);
    Json document = row(QStringLiteral("tavrilo_builder"));
    GetParam().change(document);
    const auto usage = NativeAgentLedgerUsage::decode(document);
    EXPECT_EQ(usage.tokenLabel(), u8(GetParam().tokens));
    EXPECT_EQ(usage.costLabel(), u8(GetParam().cost));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AgentLedgerLabels,
    ::testing::Values(LabelCase{"NoRecords", "en_US", [](Json &r) { r["recordCount"] = "0"; }, "No recorded usage",
                                "No recorded cost"},
                      LabelCase{"DoubleZeroIsNotEmpty", "en_US", [](Json &r) { r["recordCount"] = "00"; },
                                "10 recorded tokens", "Cost awaiting confirmation"},
                      LabelCase{"BilledCentsWin", "en_US",
                                [](Json &r) {
                                    r["totalTokens"] = "1234567";
                                    r["totalCostCents"] = "123456.70";
                                    r["estimatedCostAmount"] = "9.99";
                                    r["estimatedCostCurrency"] = "USD";
                                },
                                "1,234,567 recorded tokens", "Billed 123,456.7 cents"},
                      LabelCase{"EstimateInGermany", "de_DE",
                                [](Json &r) {
                                    r["totalTokens"] = "1234567";
                                    r["estimatedCostAmount"] = "1234.50";
                                    r["estimatedCostCurrency"] = "EUR";
                                },
                                "1.234.567 recorded tokens", "Est. 1.234,5 EUR"},
                      LabelCase{"EstimateInIndia", "en_IN",
                                [](Json &r) {
                                    r["totalTokens"] = "12345678";
                                    r["estimatedCostAmount"] = "1234567";
                                    r["estimatedCostCurrency"] = "INR";
                                },
                                "1,23,45,678 recorded tokens", "Est. 12,34,567 INR"},
                      LabelCase{"UnknownCostHidesTheEstimate", "en_US",
                                [](Json &r) {
                                    r["unknownCostRecords"] = 1;
                                    r["unknownUsageRecords"] = 3;
                                    r["estimatedCostAmount"] = "1";
                                    r["estimatedCostCurrency"] = "USD";
                                },
                                "At least 10 recorded tokens \u00b7 3 unconfirmed", "Cost awaiting confirmation"},
                      LabelCase{"UngroupableTotal", "en_US",
                                [](Json &r) {
                                    r["totalTokens"] = "x";
                                    r["totalCostCents"] = "bad";
                                },
                                "Unknown recorded tokens", "Cost awaiting confirmation"}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
