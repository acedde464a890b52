#include "session/LedgerLabels.h"

namespace ledgerlabels
{
namespace
{
const QString kSeparator = QStringLiteral(" \u00b7 ");

Json evidence(const std::optional<NativeLedgerUsage> &summary)
{
    if (!summary)
        return {{"confirmed", false}};
    Json agents = Json::array();
    for (const NativeAgentLedgerUsage &row : summary->agents)
        agents.push_back({{"agentId", row.agentId ? Json(json::toStd(*row.agentId)) : Json()},
                          {"unattributed", row.unattributed},
                          {"recordCount", json::toStd(row.recordCount)},
                          {"totalTokens", json::toStd(row.totalTokens)},
                          {"unknownUsageRecords", row.unknownUsageRecords}});
    return {{"confirmed", !summary->sessionId || summary->sessionLedgerReady},
            {"sessionLedgerReady", summary->sessionLedgerReady},
            {"period", json::toStd(summary->period)},
            {"totalTokens", json::toStd(summary->totalTokens)},
            {"unknownUsageRecords", summary->unknownUsageRecords},
            {"unknownCostRecords", summary->unknownCostRecords},
            {"pendingUsageRecords", summary->pendingUsageRecords},
            {"agents", agents}};
}
} // namespace

QString workspaceLabel(const Ledger &ledger)
{
    if (!ledger.controlsConnected)
        return QStringLiteral("Sign in to view usage");
    return QStringLiteral("Month") + kSeparator +
           (ledger.workspace ? ledger.workspace->tokenLabel() : QStringLiteral("Usage unavailable"));
}

QString sessionLabel(const Ledger &ledger)
{
    const QString prefix = QStringLiteral("Session") + kSeparator;
    if (!ledger.controlsConnected)
        return prefix + QStringLiteral("Usage unavailable");
    if (ledger.sessionPending)
        return prefix + QStringLiteral("Usage pending");
    return prefix + (ledger.session ? ledger.session->tokenLabel() : QStringLiteral("Usage unavailable"));
}

QString costLabel(const Ledger &ledger)
{
    if (!ledger.controlsConnected)
        return QStringLiteral("Sign in to view cost");
    return ledger.workspace ? ledger.workspace->estimatedCostLabel() : QStringLiteral("Cost unavailable");
}

std::optional<QString> unattributedLabel(const std::optional<NativeLedgerUsage> &session)
{
    const std::optional<NativeAgentLedgerUsage> row = agentUsage(session, std::nullopt);
    if (!row || row->recordCount == QLatin1StringView("0"))
        return std::nullopt;
    return QStringLiteral("Unattributed") + kSeparator + row->tokenLabel() + kSeparator + row->costLabel();
}

std::optional<QString> pendingAttributionLabel(const std::optional<NativeLedgerUsage> &session)
{
    if (!session || session->pendingUsageRecords == 0)
        return std::nullopt;
    return QString::number(session->pendingUsageRecords) +
           QStringLiteral(" usage receipts awaiting attribution; no specialist allocation is implied.");
}

std::optional<NativeAgentLedgerUsage> agentUsage(const std::optional<NativeLedgerUsage> &session,
                                                 const std::optional<QString> &agentID)
{
    if (!session)
        return std::nullopt;
    for (const NativeAgentLedgerUsage &row : session->agents) {
        if (agentID ? (!row.unattributed && row.agentId == agentID) : row.unattributed)
            return row;
    }
    return std::nullopt;
}

QString agentHelp(const std::optional<NativeAgentLedgerUsage> &row, const QString &liveLine)
{
    if (!row)
        return QStringLiteral("Persisted session attribution unavailable. ") + liveLine;
    return row->tokenLabel() + kSeparator + row->costLabel() + u'\n' + liveLine;
}

Json captureEvidence(const std::optional<NativeLedgerUsage> &workspace, const std::optional<NativeLedgerUsage> &session,
                     bool sessionPending)
{
    return {{"workspace", evidence(workspace)},
            {"session", evidence(session)},
            {"sessionPending", sessionPending},
            {"pendingUsageRecords", session ? Json(session->pendingUsageRecords) : Json()}};
}
} // namespace ledgerlabels
