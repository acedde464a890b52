#include "ui/EventsSectionPresenter.h"

#include "ui/Palette.h"

#include <algorithm>

namespace
{
const QString kErrorBlock = QStringLiteral("turnError");
const QString kCompletion = QStringLiteral("turnCompletion");
const QString kPositions = QStringLiteral("positions");
const QString kUpdates = QStringLiteral("specialistUpdates");
const QString kThinkingHeader = QStringLiteral("thinkingHeader");
const QString kThinkingBody = QStringLiteral("thinkingBody");
const QString kNoApproval = QStringLiteral("noApprovalPending");
const QString kApprovalCards = QStringLiteral("approvalCards");
const QString kInputRequests = QStringLiteral("inputRequests");
const QString kHairline = QStringLiteral("hairline");
const QString kJournalHeader = QStringLiteral("journalHeader");
const QString kJournalRows = QStringLiteral("journalRows");

const QString kReviewCheck = QStringLiteral("review-fidelity");
} // namespace

const QStringList &EventsSection::allBlocks()
{
    static const QStringList blocks{kErrorBlock,     kCompletion,   kPositions,     kUpdates,
                                    kThinkingHeader, kThinkingBody, kNoApproval,    kApprovalCards,
                                    kInputRequests,  kHairline,     kJournalHeader, kJournalRows};
    return blocks;
}

EventsSection eventsSection(const EventProjection &projection, const QString &message,
                            const std::optional<QString> &cleanupFailure, bool thinkingOpen)
{
    EventsSection section;
    const auto undecided = std::count_if(projection.approvals.cbegin(), projection.approvals.cend(),
                                         [](const EventProjection::Approval &a) { return !a.decision; });
    section.positionsCounter = QStringLiteral("%1 positions").arg(projection.positions.size());
    section.approvalsCounter = QStringLiteral("%1 approvals to review").arg(undecided);
    section.inputRequestsCounter = QStringLiteral("%1 input requests").arg(projection.elicitations.size());

    const bool shown[] = {
        projection.errorGuidance().has_value(),
        projection.turnCompleted,
        true,
        !projection.responseOrder.isEmpty(),
        true,
        thinkingOpen,
        projection.approvals.isEmpty(),
        !projection.approvals.isEmpty(),
        true,
        true,
        true,
        true,
    };
    static_assert(std::size(shown) == 12);
    for (qsizetype i = 0; i < EventsSection::allBlocks().size(); ++i)
        if (shown[i])
            section.blocks.append(EventsSection::allBlocks()[i]);

    section.statusText = cleanupFailure.value_or(message);
    section.statusColor = cleanupFailure ? Palette::error() : Palette::muted();
    return section;
}

TurnStatus turnStatus(const EventProjection &projection, bool expandedReviewReason)
{
    TurnStatus status;
    if (const std::optional<QString> guidance = projection.errorGuidance()) {
        status.showError = true;
        status.guidance = *guidance;
        status.errorAccessibleName = QStringLiteral("Turn error. ") + *guidance;
        const auto detail = projection.evaluatorDetails.constFind(kReviewCheck);
        // Case-sensitive on purpose: only the reviewer's own failure verdict carries a reason to read.
        if (projection.evaluatorLabels.value(kReviewCheck) == QLatin1StringView("FAIL") &&
            detail != projection.evaluatorDetails.cend()) {
            status.showReviewReason = true;
            status.reviewReason = *detail;
            status.reviewReasonLineLimit = expandedReviewReason ? TurnStatus::kNoLineLimit : 4;
            status.reviewToggleText =
                expandedReviewReason ? QStringLiteral("Show less") : QStringLiteral("Read full reason");
        }
    }
    if (projection.turnCompleted) {
        status.showCompletion = true;
        const QStringList &checks = EventProjection::releaseLabels();
        const bool readOnly = std::all_of(checks.cbegin(), checks.cend(), [&](const QString &check) {
            const auto label = projection.evaluatorLabels.constFind(check);
            return label != projection.evaluatorLabels.cend() && *label == QLatin1StringView("NOT_APPLICABLE");
        });
        status.completionText = readOnly
                                    ? QStringLiteral("Read-only turn completed · Answer below")
                                    : QStringLiteral("Turn completed · Review the answer and release checks below");
    }
    return status;
}
