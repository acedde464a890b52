#include "session/TurnSummary.h"

namespace
{
template <typename T> QVariantMap variantMap(const QMap<QString, T> &map)
{
    QVariantMap out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out.insert(it.key(), QVariant::fromValue(it.value()));
    return out;
}
} // namespace

TurnSummary TurnSummary::of(const EventProjection &projection)
{
    TurnSummary summary;
    summary.turnCompleted = projection.turnCompleted;
    summary.currentTurnID = projection.currentTurnID;
    summary.latestErrorCode = projection.latestErrorCode;
    summary.errorGuidance = projection.errorGuidance();
    summary.releaseAuthorized = projection.releaseAuthorized;
    summary.releaseCheckLabels = projection.releaseCheckLabels();
    summary.evaluators = variantMap(projection.evaluators);
    summary.evaluatorLabels = variantMap(projection.evaluatorLabels);
    summary.evaluatorDetails = variantMap(projection.evaluatorDetails);
    summary.reviewerGrade = projection.reviewerGrade;
    summary.reasoning = projection.reasoning;
    return summary;
}
