#include "live/NativeAgentLedgerUsage.h"

#include "live/NativeLedgerUsage.h"
#include "live/NativePresence.h"
#include "core/StrictDecoder.h"

#include <QLocale>

#include <algorithm>

NativeAgentLedgerUsage NativeAgentLedgerUsage::decode(const Json &object)
{
    const StrictDecoder fields(object);
    NativeAgentLedgerUsage row;
    row.agentId = fields.optionalText("agentId");
    row.unattributed = fields.boolean("unattributed");
    row.recordCount = fields.text("recordCount");
    row.totalInputTokens = fields.text("totalInputTokens");
    row.totalOutputTokens = fields.text("totalOutputTokens");
    row.totalTokens = fields.text("totalTokens");
    row.totalCostCents = fields.optionalText("totalCostCents");
    row.estimatedCostAmount = fields.optionalText("estimatedCostAmount");
    row.estimatedCostCurrency = fields.optionalText("estimatedCostCurrency");
    row.unknownCostRecords = fields.integer("unknownCostRecords");
    row.unknownUsageRecords = fields.integer("unknownUsageRecords");
    return row;
}

bool NativeAgentLedgerUsage::valid() const
{
    if (agentId ? (unattributed || !NativePresence::isRole(*agentId)) : !unattributed)
        return false;
    for (const QString *total : {&recordCount, &totalInputTokens, &totalOutputTokens, &totalTokens})
        if (!NativeLedgerUsage::isDecimalTotal(*total))
            return false;
    for (const auto *amount : {&totalCostCents, &estimatedCostAmount})
        if (*amount && !NativeLedgerUsage::isDecimalAmount(**amount))
            return false;
    if (estimatedCostCurrency && !NativeLedgerUsage::isCurrencyCode(*estimatedCostCurrency))
        return false;
    return unknownCostRecords >= 0 && unknownUsageRecords >= 0;
}

QString NativeAgentLedgerUsage::tokenLabel() const
{
    if (recordCount == QLatin1StringView("0"))
        return QStringLiteral("No recorded usage");
    const QString grouped =
        NativeLedgerUsage::formatTokenTotal(totalTokens, QLocale()).value_or(QStringLiteral("Unknown"));
    return NativeLedgerUsage::tokenLine(grouped, u" recorded tokens", unknownUsageRecords);
}

QString NativeAgentLedgerUsage::costLabel() const
{
    if (recordCount == QLatin1StringView("0"))
        return QStringLiteral("No recorded cost");
    if (totalCostCents)
        if (const auto cents = NativeLedgerUsage::formatDecimalAmount(*totalCostCents))
            return QStringLiteral("Billed ") + *cents + QStringLiteral(" cents");
    if (unknownCostRecords == 0 && estimatedCostAmount && estimatedCostCurrency)
        if (const auto amount = NativeLedgerUsage::formatDecimalAmount(*estimatedCostAmount))
            return QStringLiteral("Est. ") + *amount + QLatin1Char(' ') + *estimatedCostCurrency;
    return QStringLiteral("Cost awaiting confirmation");
}
