#include "ui/EventsSectionPresenter.h"

#include "ui/Palette.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
const QString kReview = QStringLiteral("review-fidelity");
const QString kTenLines = QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9\n10");

EventProjection::Approval approval(std::optional<QString> decision)
{
    EventProjection::Approval a;
    a.id = QStringLiteral("a");
    a.decision = std::move(decision);
    return a;
}

TEST(EventsSection, AnEmptyProjectionShowsTheAlwaysPresentBlocksAndZeroCounters)
{
    const EventsSection section = eventsSection(EventProjection(), QStringLiteral("Ready."), std::nullopt, false);
    EXPECT_EQ(section.positionsCounter, QStringLiteral("0 positions"));
    EXPECT_EQ(section.approvalsCounter, QStringLiteral("0 approvals to review"));
    EXPECT_EQ(section.inputRequestsCounter, QStringLiteral("0 input requests"));
    EXPECT_EQ(section.blocks, (QStringList{"positions", "thinkingHeader", "noApprovalPending", "inputRequests",
                                           "hairline", "journalHeader", "journalRows"}));
    EXPECT_EQ(section.statusText, QStringLiteral("Ready."));
    EXPECT_EQ(section.statusColor, Palette::muted());
}

TEST(EventsSection, EveryBlockInItsOrder)
{
    EventProjection projection;
    projection.latestErrorCode = QStringLiteral("ITERATION_CAP");
    projection.turnCompleted = true;
    projection.responseOrder = {QStringLiteral("tavrilo_builder")};
    projection.approvals = {approval(std::nullopt), approval(QStringLiteral("approved"))};
    projection.positions.resize(1);
    projection.elicitations.resize(1);
    const EventsSection section = eventsSection(projection, {}, std::nullopt, true);
    QStringList expected = EventsSection::allBlocks();
    expected.removeOne(QStringLiteral("noApprovalPending"));
    EXPECT_EQ(section.blocks, expected);
    EXPECT_TRUE(section.shows(QStringLiteral("approvalCards")));
    EXPECT_FALSE(section.shows(QStringLiteral("noApprovalPending")));
    EXPECT_EQ(EventsSection::allBlocks().size(), 12);

    // No plural forms, and decided approvals are not counted.
    EXPECT_EQ(section.positionsCounter, QStringLiteral("1 positions"));
    EXPECT_EQ(section.approvalsCounter, QStringLiteral("1 approvals to review"));
    EXPECT_EQ(section.inputRequestsCounter, QStringLiteral("1 input requests"));
}

TEST(EventsSection, ACleanupFailureHidesTheMessageInTheErrorColour)
{
    const EventsSection failed =
        eventsSection(EventProjection(), QStringLiteral("Ready."), QStringLiteral("Cleanup failed."), false);
    EXPECT_EQ(failed.statusText, QStringLiteral("Cleanup failed."));
    EXPECT_EQ(failed.statusColor, Palette::error());
    // Even an empty failure sentence is the failure that is held.
    EXPECT_EQ(eventsSection(EventProjection(), QStringLiteral("Ready."), QString(), false).statusColor,
              Palette::error());
}

struct ReviewCase
{
    const char *name;
    bool error;
    std::optional<QString> label;
    std::optional<QString> detail;
    bool expanded;
    bool showReason;
    int lineLimit;
    QString toggle;
};

class ReviewReason : public ::testing::TestWithParam<ReviewCase>
{
};

TEST_P(ReviewReason, ShowsOnlyInsideTheErrorBlockForAFailedReviewWithAReason)
{
    const ReviewCase &c = GetParam();
    EventProjection projection;
    if (c.error)
        projection.latestErrorCode = QStringLiteral("ITERATION_CAP");
    if (c.label)
        projection.evaluatorLabels.insert(kReview, *c.label);
    if (c.detail)
        projection.evaluatorDetails.insert(kReview, *c.detail);
    const TurnStatus status = turnStatus(projection, c.expanded);
    EXPECT_EQ(status.showError, c.error);
    EXPECT_EQ(status.showReviewReason, c.showReason);
    if (c.showReason) {
        EXPECT_EQ(status.reviewReason, *c.detail);
        EXPECT_EQ(status.reviewReasonLineLimit, c.lineLimit);
        EXPECT_EQ(status.reviewToggleText, c.toggle);
    }
}

const QString kRead = QStringLiteral("Read full reason");
const QString kLess = QStringLiteral("Show less");

INSTANTIATE_TEST_SUITE_P(
    Table, ReviewReason,
    ::testing::Values(ReviewCase{"FailedReviewFolded", true, QStringLiteral("FAIL"), kTenLines, false, true, 4, kRead},
                      ReviewCase{"FailedReviewOpened", true, QStringLiteral("FAIL"), kTenLines, true, true,
                                 TurnStatus::kNoLineLimit, kLess},
                      ReviewCase{"NoErrorBlock", false, QStringLiteral("FAIL"), kTenLines, false, false, 0, {}},
                      ReviewCase{"NoDetail", true, QStringLiteral("FAIL"), std::nullopt, false, false, 0, {}},
                      ReviewCase{"LowerCaseLabel", true, QStringLiteral("fail"), kTenLines, false, false, 0, {}},
                      ReviewCase{"PassedReview", true, QStringLiteral("PASS"), kTenLines, false, false, 0, {}},
                      ReviewCase{"NoLabel", true, std::nullopt, kTenLines, false, false, 0, {}},
                      ReviewCase{"EmptyDetailIsAReason", true, QStringLiteral("FAIL"), QString(), false, true, 4,
                                 kRead}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TurnStatus, ErrorBlockCarriesTheGuidanceVerbatim)
{
    EventProjection projection;
    EXPECT_FALSE(turnStatus(projection, false).showError);
    projection.latestErrorCode = QStringLiteral("ITERATION_CAP");
    const TurnStatus status = turnStatus(projection, false);
    ASSERT_TRUE(projection.errorGuidance());
    EXPECT_EQ(status.guidance, *projection.errorGuidance());
    EXPECT_EQ(status.errorAccessibleName, QStringLiteral("Turn error. ") + *projection.errorGuidance());
}

struct CompletionCase
{
    const char *name;
    bool completed;
    std::function<void(QMap<QString, QString> &)> labels;
    QString text; // empty: no line
};

class Completion : public ::testing::TestWithParam<CompletionCase>
{
};

TEST_P(Completion, ReadOnlyOnlyWhenAllSixChecksAreNotApplicable)
{
    const CompletionCase &c = GetParam();
    EventProjection projection;
    projection.turnCompleted = c.completed;
    for (const QString &check : EventProjection::releaseLabels())
        projection.evaluatorLabels.insert(check, QStringLiteral("NOT_APPLICABLE"));
    c.labels(projection.evaluatorLabels);
    const TurnStatus status = turnStatus(projection, false);
    EXPECT_EQ(status.showCompletion, !c.text.isEmpty());
    EXPECT_EQ(status.completionText, c.text);
}

const QString kReadOnly = QStringLiteral("Read-only turn completed · Answer below");
const QString kReviewIt = QStringLiteral("Turn completed · Review the answer and release checks below");

INSTANTIATE_TEST_SUITE_P(
    Table, Completion,
    ::testing::Values(
        CompletionCase{"NotCompleted", false, [](auto &) {}, {}},
        CompletionCase{"AllSixNotApplicable", true, [](auto &) {}, kReadOnly},
        CompletionCase{"OtherChecksDoNotCount", true,
                       [](auto &l) { l.insert(QStringLiteral("requested-specialist-round"), QStringLiteral("FAIL")); },
                       kReadOnly},
        CompletionCase{"OneMissing", true, [](auto &l) { l.remove(QStringLiteral("preview-answered")); }, kReviewIt},
        CompletionCase{"OnePassed", true,
                       [](auto &l) { l.insert(QStringLiteral("build-green"), QStringLiteral("PASS")); }, kReviewIt},
        CompletionCase{"LowerCase", true,
                       [](auto &l) { l.insert(QStringLiteral("review-fidelity"), QStringLiteral("not_applicable")); },
                       kReviewIt},
        CompletionCase{"NoLabels", true, [](auto &l) { l.clear(); }, kReviewIt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TurnStatus, ACompletedTurnWithAnErrorShowsBoth)
{
    EventProjection projection;
    projection.turnCompleted = true;
    projection.latestErrorCode = QStringLiteral("ITERATION_CAP");
    const TurnStatus status = turnStatus(projection, false);
    EXPECT_TRUE(status.showError);
    EXPECT_TRUE(status.showCompletion);
    const QStringList blocks = eventsSection(projection, {}, std::nullopt, false).blocks;
    EXPECT_EQ(blocks.indexOf(QStringLiteral("turnError")), 0);
    EXPECT_EQ(blocks.indexOf(QStringLiteral("turnCompletion")), 1);
}
} // namespace
