#include "ui/ReleaseChecksPresenter.h"

#include "ui/Palette.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
QColor tinted()
{
    QColor tint = Palette::error();
    tint.setAlphaF(0.07f);
    return tint;
}

ReleaseCheckCell cellOf(const ReleaseChecks &block, const QString &key)
{
    for (const ReleaseCheckCell &cell : block.cells)
        if (cell.key == key)
            return cell;
    ADD_FAILURE() << "no cell " << key.toStdString();
    return {};
}

const QString kCheck = QStringLiteral("diff-within-plan");

struct Case
{
    const char *name;
    std::function<void(EventProjection &)> fill;
    QString statusText;
    QString reason;
    QString symbol;
    QColor color;
    QColor background;
};

class ReleaseCell : public ::testing::TestWithParam<Case>
{
};

// Texts come from labels and details, symbol and colours from the result, each on its own.
TEST_P(ReleaseCell, TakesTextsFromTheLabelAndLooksFromTheResult)
{
    const Case &c = GetParam();
    EventProjection projection;
    c.fill(projection);
    const ReleaseCheckCell cell = cellOf(releaseChecks(projection), kCheck);
    EXPECT_EQ(cell.statusText, c.statusText);
    EXPECT_EQ(cell.title, kCheck + QStringLiteral(" · ") + c.statusText);
    EXPECT_EQ(cell.reason, c.reason);
    EXPECT_EQ(cell.symbol, c.symbol);
    EXPECT_EQ(cell.color, c.color);
    EXPECT_EQ(cell.background, c.background);
    EXPECT_EQ(cell.readReasonAccessibleName, QStringLiteral("Read full diff-within-plan evaluator reason"));
}

const QString kPending = QStringLiteral("Pending");
const QString kNoResult = QStringLiteral("No evaluator result received");
const QString kDashed = QStringLiteral("circle.dashed");
const QString kTick = QStringLiteral("checkmark.circle.fill");
const QString kCross = QStringLiteral("xmark.circle.fill");

INSTANTIATE_TEST_SUITE_P(
    Table, ReleaseCell,
    ::testing::Values(
        Case{"Empty", [](EventProjection &) {}, kPending, kNoResult, kDashed, Palette::muted(), Palette::paper()},
        Case{"HeldAfterAnError",
             [](EventProjection &p) {
                 p.releaseAuthorized = false;
                 p.latestErrorCode = QStringLiteral("ITERATION_CAP");
             },
             QStringLiteral("Not run"), QStringLiteral("Blocked by incomplete turn"), kDashed, Palette::muted(),
             Palette::paper()},
        Case{"HeldWithoutAnError", [](EventProjection &p) { p.releaseAuthorized = false; }, kPending, kNoResult,
             kDashed, Palette::muted(), Palette::paper()},
        Case{"ErrorWithoutAHold", [](EventProjection &p) { p.latestErrorCode = QStringLiteral("X"); }, kPending,
             kNoResult, kDashed, Palette::muted(), Palette::paper()},
        Case{"PassedLabelFailedResult",
             [](EventProjection &p) {
                 p.evaluatorLabels.insert(kCheck, QStringLiteral("PASS"));
                 p.evaluators.insert(kCheck, false);
             },
             QStringLiteral("Passed"), kNoResult, kCross, Palette::error(), tinted()},
        Case{"FailedLabelPassedResult",
             [](EventProjection &p) {
                 p.evaluatorLabels.insert(kCheck, QStringLiteral("FAIL"));
                 p.evaluators.insert(kCheck, true);
                 p.evaluatorDetails.insert(kCheck, QStringLiteral("Touched files outside the plan"));
             },
             QStringLiteral("Failed"), QStringLiteral("Touched files outside the plan"), kTick, Palette::green(),
             Palette::paper()},
        Case{"NotApplicable",
             [](EventProjection &p) { p.evaluatorLabels.insert(kCheck, QStringLiteral("NOT_APPLICABLE")); },
             QStringLiteral("Not needed"), kNoResult, kDashed, Palette::muted(), Palette::paper()},
        Case{"OtherLabelAsItIs", [](EventProjection &p) { p.evaluatorLabels.insert(kCheck, QStringLiteral("pass")); },
             QStringLiteral("pass"), kNoResult, kDashed, Palette::muted(), Palette::paper()},
        // A blocked turn does not override what the evaluator did report.
        Case{"BlockedButReported",
             [](EventProjection &p) {
                 p.releaseAuthorized = false;
                 p.latestErrorCode = QStringLiteral("DELIVERY_HELD");
                 p.evaluatorLabels.insert(kCheck, QStringLiteral("FAIL"));
                 p.evaluatorDetails.insert(kCheck, QString());
                 p.evaluators.insert(kCheck, false);
             },
             QStringLiteral("Failed"), QString(), kCross, Palette::error(), tinted()}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReleaseChecks, CellsInGridOrderWithTheRequestedRoundFirstOnlyWhenLabelled)
{
    EventProjection projection;
    QStringList keys;
    for (const ReleaseCheckCell &cell : releaseChecks(projection).cells)
        keys.append(cell.key);
    EXPECT_EQ(keys, EventProjection::releaseLabels());

    projection.evaluators.insert(QStringLiteral("requested-specialist-round"), true);
    EXPECT_EQ(releaseChecks(projection).cells.size(), 6);
    projection.evaluatorLabels.insert(QStringLiteral("requested-specialist-round"), QStringLiteral("PASS"));
    const ReleaseChecks seven = releaseChecks(projection);
    ASSERT_EQ(seven.cells.size(), 7);
    EXPECT_EQ(seven.cells.front().key, QStringLiteral("requested-specialist-round"));
    EXPECT_EQ(seven.cells.front().symbol, kTick);
}

TEST(ReleaseChecks, BadgeOnlyOnceDeliveryIsDecided)
{
    EventProjection projection;
    EXPECT_TRUE(releaseChecks(projection).badgeText.isEmpty());
    projection.releaseAuthorized = false;
    EXPECT_EQ(releaseChecks(projection).badgeText, QStringLiteral("DELIVERY HELD"));
    EXPECT_EQ(releaseChecks(projection).badgeColor, Palette::error());
    projection.releaseAuthorized = true;
    EXPECT_EQ(releaseChecks(projection).badgeText, QStringLiteral("AUTHORIZED"));
    EXPECT_EQ(releaseChecks(projection).badgeColor, Palette::green());
}
} // namespace
