#include "ui/ApprovalCardPresenter.h"

#include "ui/AgentNames.h"
#include "ui/GadgetList.h"

namespace approvalrules
{
bool isDeployGate(const EventProjection::Approval &approval)
{
    return approval.tool == QLatin1StringView("approve_deploy");
}

bool proofComplete(const EventProjection::Approval &approval)
{
    return approval.ready && (isDeployGate(approval) || approval.hasBriefProof());
}

bool sameSession(const EventProjection::Approval &approval, const QString &sessionID)
{
    return approval.sessionID && *approval.sessionID == sessionID;
}

bool answerable(const EventProjection::Approval &approval, const ApprovalControls &controls)
{
    return proofComplete(approval) && sameSession(approval, controls.sessionID) && controls.controlsConnected &&
           !controls.controlInFlight && !controls.answeredApprovalIDs.contains(approval.toolUseID);
}

QString proofText(const EventProjection::Approval &approval, const QString &sessionID)
{
    if (!proofComplete(approval))
        return QStringLiteral("Waiting for complete runtime proposal");
    if (!sameSession(approval, sessionID))
        return QStringLiteral("Session requires verification");
    return QStringLiteral("Same-session verified proposal");
}

QString capitalisedDecision(const QString &decision)
{
    return agentnames::capitalisedWords(decision);
}
} // namespace approvalrules

ApprovalCard approvalCard(const EventProjection::Approval &approval, const ApprovalControls &controls, bool expanded,
                          bool offscreenExport)
{
    ApprovalCard card;
    card.id = approval.id;
    card.title =
        approvalrules::isDeployGate(approval) ? QStringLiteral("Deploy approval") : QStringLiteral("Brief approval");
    card.decided = approval.decision.has_value();
    card.summary = approval.summary;
    if (card.decided) {
        card.chevronSymbol = expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right");
        card.decisionText = approvalrules::capitalisedDecision(*approval.decision);
        card.summaryLineLimit = 2;
        card.showCriteriaCount = !expanded && !approval.acceptanceCriteria.isEmpty();
        if (card.showCriteriaCount)
            card.criteriaCountText =
                QStringLiteral("%1 acceptance criteria recorded").arg(approval.acceptanceCriteria.size());
    } else {
        card.showProof = true;
        card.proofText = approvalrules::proofText(approval, controls.sessionID);
        card.answerable = approvalrules::answerable(approval, controls);
    }

    card.showDetails = !card.decided || expanded;
    card.detailsHeightFixed = offscreenExport;
    for (qsizetype i = 0; i < approval.acceptanceCriteria.size(); ++i)
        card.criteria.append({QStringLiteral("%1.").arg(i + 1), approval.acceptanceCriteria[i]});
    card.detailLines = approval.detail;
    if (approval.recordedAt)
        card.recordedText = QStringLiteral("Recorded ") + *approval.recordedAt;
    if (approval.round)
        card.roundText = QStringLiteral("Round ") + *approval.round;
    if (approval.turnID && approval.revision)
        card.turnRevisionText = QStringLiteral("Turn %1\nRevision %2").arg(*approval.turnID, *approval.revision);
    return card;
}

QVariantList ApprovalCard::criteriaValues() const
{
    return gadgetList(criteria);
}
