#pragma once

#include "core/Json.h"

#include <QString>

#include <optional>

// One row of a persisted usage summary: one specialist role's receipts, or the unattributed row.
// Totals are decimal digit text, never machine integers.
struct NativeAgentLedgerUsage
{
    std::optional<QString> agentId; // absent on the unattributed row
    bool unattributed = false;
    QString recordCount;
    QString totalInputTokens;
    QString totalOutputTokens;
    QString totalTokens;
    std::optional<QString> totalCostCents;      // decimal amount
    std::optional<QString> estimatedCostAmount; // decimal amount
    std::optional<QString> estimatedCostCurrency;
    qint64 unknownCostRecords = 0;
    qint64 unknownUsageRecords = 0;

    // Throws HubError with the decoding sentence on a missing, null or mistyped required field.
    static NativeAgentLedgerUsage decode(const Json &object);

    bool valid() const;
    QString tokenLabel() const;
    QString costLabel() const;
};
