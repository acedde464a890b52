#include "live/NativeUsage.h"

#include "core/Json.h"
#include "live/IcuNumbers.h"
#include "live/StrictNumbers.h"

#include <QLocale>

#include <cmath>

namespace
{
std::optional<qint64> tokenCount(const EventPayload &payload, const QString &key)
{
    const auto it = payload.constFind(key);
    if (it == payload.constEnd())
        return std::nullopt;
    return strictnumbers::signedInteger(*it);
}
} // namespace

void NativeUsage::apply(const WorkspaceEvent &event)
{
    applyTokens(event.payload);
    applyCost(event.payload);
}

void NativeUsage::applyTokens(const EventPayload &payload)
{
    std::optional<qint64> count;
    if (const auto total = tokenCount(payload, QStringLiteral("totalTokens")); total && *total >= 0) {
        count = total;
    } else {
        const auto input = tokenCount(payload, QStringLiteral("inputTokens"));
        const auto output = tokenCount(payload, QStringLiteral("outputTokens"));
        qint64 sum = 0;
        if (input && output && *input >= 0 && *output >= 0 && !qAddOverflow(*input, *output, &sum))
            count = sum;
    }
    qint64 sum = 0;
    if (!count || qAddOverflow(tokens, *count, &sum)) {
        unconfirmedTokens = true;
        return;
    }
    tokens = sum;
    tokensObserved = true;
}

void NativeUsage::applyCost(const EventPayload &payload)
{
    const auto fail = [this] { unknown = true; };
    const auto costText = payload.constFind(QStringLiteral("cost"));
    if (costText == payload.constEnd())
        return fail();
    const auto cost = json::tryParse(costText->toUtf8());
    if (!cost || !cost->is_object())
        return fail();
    if (json::string(*cost, "status") != QLatin1StringView("estimated_list_price"))
        return fail();
    const auto amountIt = cost->find("amount");
    if (amountIt == cost->end() || !amountIt->is_number())
        return fail();
    const double amount = amountIt->get<double>();
    if (!std::isfinite(amount) || amount < 0)
        return fail();
    const auto code = json::string(*cost, "currency");
    if (!code || (currency && *currency != *code))
        return fail();
    const double sum = estimatedAmount + amount;
    if (!std::isfinite(sum))
        return fail();
    estimatedAmount = sum;
    currency = code;
}

QString NativeUsage::label() const
{
    if (unknown || !currency)
        return QStringLiteral("Cost unknown");
    return QStringLiteral("Est. ") + icunumbers::currencyOrPlain(estimatedAmount, *currency, QLocale());
}
