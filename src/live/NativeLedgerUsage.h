#pragma once

#include "core/Json.h"
#include "live/NativeAgentLedgerUsage.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

// A persisted usage summary (the workspace's or the session's), shown only when it is consistent:
// one row per role plus the unattributed row, adding up exactly to its totals.
struct NativeLedgerUsage
{
    QList<NativeAgentLedgerUsage> agents;
    qint64 pendingUsageRecords = 0;
    bool sessionLedgerReady = false;
    QString tenantId;
    std::optional<QString> sessionId;
    QString period;
    QString totalInputTokens;
    QString totalOutputTokens;
    QString totalTokens;
    qint64 unknownUsageRecords = 0;
    std::optional<double> estimatedCostAmount;
    std::optional<QString> estimatedCostCurrency;
    qint64 unknownCostRecords = 0;

    // Throws HubError with the decoding sentence on a missing, null or mistyped required field.
    static NativeLedgerUsage decode(const Json &object);

    bool valid() const;
    QString tokenLabel() const;
    QString estimatedCostLabel() const;

    // Decimal text: a total is ASCII digits only (no sign, separator or blank); an amount is a
    // total, or two totals joined by one ".".
    static bool isDecimalTotal(QStringView text);
    static bool isDecimalAmount(QStringView text);
    // The exact sum, added digit by digit; nothing when any element is no decimal total.
    static std::optional<QString> sumDecimalTotals(const QStringList &totals);
    // A total grouped by `locale`'s primary and secondary group sizes, without leading zeros.
    static std::optional<QString> formatTokenTotal(QStringView total, const QLocale &locale);
    // An amount grouped and with the decimal separator of the current locale, trailing fraction
    // zeros dropped.
    static std::optional<QString> formatDecimalAmount(QStringView amount);

    // Three ASCII capital letters.
    static bool isCurrencyCode(QStringView code);
    // "At least " when `unconfirmed` is positive, the grouped total and `noun`, then " · ", the
    // count and " unconfirmed" when there are unconfirmed receipts.
    static QString tokenLine(const QString &grouped, QStringView noun, qint64 unconfirmed);
};
