#include "live/NativeLedgerUsage.h"

#include "live/IcuNumbers.h"
#include "live/NativePresence.h"
#include "core/StrictDecoder.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <vector>

NativeLedgerUsage NativeLedgerUsage::decode(const Json &object)
{
    const StrictDecoder fields(object);
    NativeLedgerUsage usage;
    for (const Json &row : fields.array("agents"))
        usage.agents.append(NativeAgentLedgerUsage::decode(row));
    usage.pendingUsageRecords = fields.integer("pendingUsageRecords");
    usage.sessionLedgerReady = fields.boolean("sessionLedgerReady");
    usage.tenantId = fields.text("tenantId");
    usage.sessionId = fields.optionalText("sessionId");
    usage.period = fields.text("period");
    usage.totalInputTokens = fields.text("totalInputTokens");
    usage.totalOutputTokens = fields.text("totalOutputTokens");
    usage.totalTokens = fields.text("totalTokens");
    usage.unknownUsageRecords = fields.integer("unknownUsageRecords");
    usage.estimatedCostAmount = fields.optionalNumber("estimatedCostAmount");
    usage.estimatedCostCurrency = fields.optionalText("estimatedCostCurrency");
    usage.unknownCostRecords = fields.integer("unknownCostRecords");
    return usage;
}

bool NativeLedgerUsage::isDecimalTotal(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool NativeLedgerUsage::isDecimalAmount(QStringView text)
{
    const auto pieces = text.split(u'.', Qt::KeepEmptyParts);
    return pieces.size() <= 2 &&
           std::all_of(pieces.begin(), pieces.end(), [](QStringView p) { return isDecimalTotal(p); });
}

std::optional<QString> NativeLedgerUsage::sumDecimalTotals(const QStringList &totals)
{
    if (!std::all_of(totals.begin(), totals.end(), [](const QString &t) { return isDecimalTotal(t); }))
        return std::nullopt;
    std::vector<unsigned char> digits{0}; // least significant first
    for (const QString &total : totals) {
        unsigned carry = 0;
        size_t column = 0;
        for (qsizetype i = total.size() - 1; i >= 0; --i, ++column) {
            if (column == digits.size())
                digits.push_back(0);
            const unsigned sum = digits[column] + unsigned(total[i].unicode() - u'0') + carry;
            digits[column] = static_cast<unsigned char>(sum % 10);
            carry = sum / 10;
        }
        for (; carry != 0; ++column) {
            if (column == digits.size())
                digits.push_back(0);
            const unsigned sum = digits[column] + carry;
            digits[column] = static_cast<unsigned char>(sum % 10);
            carry = sum / 10;
        }
    }
    while (digits.size() > 1 && digits.back() == 0)
        digits.pop_back();
    QString out(qsizetype(digits.size()), Qt::Uninitialized);
    for (size_t i = 0; i < digits.size(); ++i)
        out[qsizetype(digits.size() - 1 - i)] = QChar(u'0' + digits[i]);
    return out;
}

std::optional<QString> NativeLedgerUsage::formatTokenTotal(QStringView total, const QLocale &locale)
{
    if (!isDecimalTotal(total))
        return std::nullopt;
    qsizetype start = 0;
    while (start < total.size() - 1 && total[start] == u'0')
        ++start;
    const QStringView digits = total.sliced(start);
    const icunumbers::DecimalStyle style = icunumbers::decimalStyle(locale);

    // Groups cut from the right: the primary size first, then the secondary size.
    QStringList groups;
    qsizetype end = digits.size();
    qsizetype size = style.primaryGroup;
    while (end > 0) {
        const qsizetype begin = std::max<qsizetype>(0, end - size);
        groups.prepend(digits.sliced(begin, end - begin).toString());
        end = begin;
        size = style.secondaryGroup;
    }
    return groups.join(style.groupingSeparator);
}

std::optional<QString> NativeLedgerUsage::formatDecimalAmount(QStringView amount)
{
    if (!isDecimalAmount(amount))
        return std::nullopt;
    const QLocale locale;
    const auto pieces = amount.split(u'.', Qt::KeepEmptyParts);
    auto text = formatTokenTotal(pieces[0], locale);
    if (!text)
        return std::nullopt;
    if (pieces.size() == 2) {
        QStringView fraction = pieces[1];
        while (!fraction.isEmpty() && fraction.back() == u'0')
            fraction.chop(1);
        if (!fraction.isEmpty())
            *text += icunumbers::decimalStyle(locale).decimalSeparator + fraction.toString();
    }
    return text;
}

bool NativeLedgerUsage::valid() const
{
    if (tenantId.isEmpty() || !isDecimalTotal(totalTokens))
        return false;
    if (unknownUsageRecords < 0 || unknownCostRecords < 0 || pendingUsageRecords < 0)
        return false;
    const QStringList &roles = NativePresence::roles();
    if (agents.size() != roles.size() + 1)
        return false;
    const QString unattributed = QStringLiteral("unattributed");
    QSet<QString> rowKeys;
    for (const auto &row : agents)
        rowKeys.insert(row.agentId.value_or(unattributed));
    QSet<QString> expected(roles.cbegin(), roles.cend());
    expected.insert(unattributed);
    if (rowKeys != expected)
        return false;
    if (!std::all_of(agents.begin(), agents.end(), [](const NativeAgentLedgerUsage &row) { return row.valid(); }))
        return false;
    // Sums, not texts, are compared: leading zeros do not matter.
    const auto matches = [this](QString NativeAgentLedgerUsage::*rowField, const QString &summaryTotal) {
        QStringList rows;
        for (const auto &row : agents)
            rows.append(row.*rowField);
        const auto rowSum = sumDecimalTotals(rows);
        const auto summarySum = sumDecimalTotals({summaryTotal});
        return rowSum && summarySum && *rowSum == *summarySum;
    };
    return matches(&NativeAgentLedgerUsage::totalTokens, totalTokens) &&
           matches(&NativeAgentLedgerUsage::totalInputTokens, totalInputTokens) &&
           matches(&NativeAgentLedgerUsage::totalOutputTokens, totalOutputTokens);
}

QString NativeLedgerUsage::tokenLabel() const
{
    const auto grouped = formatTokenTotal(totalTokens, QLocale());
    if (!grouped)
        return QStringLiteral("Usage unavailable");
    return tokenLine(*grouped, u" tokens", unknownUsageRecords);
}

QString NativeLedgerUsage::tokenLine(const QString &grouped, QStringView noun, qint64 unconfirmed)
{
    QString label = unconfirmed > 0 ? QStringLiteral("At least ") : QString();
    label += grouped;
    label += noun;
    if (unconfirmed >= 1)
        label += QStringLiteral(" \u00b7 ") + QString::number(unconfirmed) + QStringLiteral(" unconfirmed");
    return label;
}

bool NativeLedgerUsage::isCurrencyCode(QStringView code)
{
    return code.size() == 3 && std::all_of(code.begin(), code.end(), [](QChar c) { return c >= u'A' && c <= u'Z'; });
}

QString NativeLedgerUsage::estimatedCostLabel() const
{
    const bool codeOK = estimatedCostCurrency && isCurrencyCode(*estimatedCostCurrency);
    if (unknownCostRecords != 0 || !estimatedCostAmount || !std::isfinite(*estimatedCostAmount) ||
        *estimatedCostAmount < 0 || !codeOK)
        return QStringLiteral("Cost awaiting confirmation");
    const double amount = *estimatedCostAmount == 0 ? 0.0 : *estimatedCostAmount; // no "-0"
    return QStringLiteral("Estimated ") + icunumbers::currencyOrPlain(amount, *estimatedCostCurrency, QLocale());
}
