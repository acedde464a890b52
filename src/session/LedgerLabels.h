#pragma once

#include "core/Json.h"
#include "live/NativeAgentLedgerUsage.h"
#include "live/NativeLedgerUsage.h"

#include <QString>

#include <optional>

// What the header, the workforce view and headless capture show of the persisted usage ledger,
// worked out from the summaries the model holds.
namespace ledgerlabels
{
// The model's ledger state as the labels read it.
struct Ledger
{
    bool controlsConnected = false;
    const std::optional<NativeLedgerUsage> &workspace;
    const std::optional<NativeLedgerUsage> &session;
    bool sessionPending = true;
};

// "Month · " and the workspace's tokens; "Sign in to view usage" when signed out.
QString workspaceLabel(const Ledger &ledger);
// "Session · " and the session's tokens, or "Usage pending" until the platform says the session's
// ledger is ready.
QString sessionLabel(const Ledger &ledger);
// The workspace's estimated cost; "Sign in to view cost" when signed out.
QString costLabel(const Ledger &ledger);
// The session's unattributed receipts, unless there are none.
std::optional<QString> unattributedLabel(const std::optional<NativeLedgerUsage> &session);
// How many usage receipts wait for attribution, unless none do.
std::optional<QString> pendingAttributionLabel(const std::optional<NativeLedgerUsage> &session);

// The session's row for `agentID`, or its unattributed row without an id.
std::optional<NativeAgentLedgerUsage> agentUsage(const std::optional<NativeLedgerUsage> &session,
                                                 const std::optional<QString> &agentID);
// The persisted row's tokens and cost above `liveLine`, or a notice that there is no row.
QString agentHelp(const std::optional<NativeAgentLedgerUsage> &row, const QString &liveLine);

// The confirmed ledger state a headless frame records.
Json captureEvidence(const std::optional<NativeLedgerUsage> &workspace, const std::optional<NativeLedgerUsage> &session,
                     bool sessionPending);
} // namespace ledgerlabels
