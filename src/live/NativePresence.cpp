#include "live/NativePresence.h"

#include "core/Json.h"
#include "core/TavriloRoleContract.h"
#include "live/StrictNumbers.h"

#include <cmath>
#include <limits>

namespace
{
const QSet<QString> &roleSet()
{
    static const QSet<QString> set(NativePresence::roles().cbegin(), NativePresence::roles().cend());
    return set;
}

std::optional<double> rateInput(const EventPayload &payload, const QString &key)
{
    const auto it = payload.constFind(key);
    if (it == payload.constEnd())
        return std::nullopt;
    const auto value = strictnumbers::floatingPoint(*it);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}
} // namespace

QStringList NativePresence::workingRoles() const
{
    QStringList inSeatOrder;
    for (const QString &role : roles())
        if (working.contains(role))
            inSeatOrder.append(role);
    return inSeatOrder;
}

const QStringList &NativePresence::roles()
{
    return TavriloRoleContract::roles(); // itself read once, safely against concurrent first use
}

bool NativePresence::isRole(const QString &id)
{
    return roleSet().contains(id);
}

qint64 NativePresence::mask(const QSet<QString> &set)
{
    return mask(set, roles());
}

qint64 NativePresence::mask(const QSet<QString> &set, const QStringList &roles)
{
    quint64 bits = 0;
    for (qsizetype i = 0; i < std::min<qsizetype>(roles.size(), 64); ++i)
        if (set.contains(roles[i]))
            bits |= quint64(1) << i;
    return qint64(bits);
}

void NativePresence::consume(const QString &kind, const EventPayload &payload)
{
    if (const auto report = payload.constFind(QStringLiteral("working")); report != payload.constEnd()) {
        const auto list = json::tryParse(report->toUtf8());
        const bool strings = list && list->is_array() &&
                             std::all_of(list->begin(), list->end(), [](const Json &v) { return v.is_string(); });
        // A malformed or oversized report is ignored whole rather than trusted in part.
        if (strings && qsizetype(list->size()) <= roles().size()) {
            working.clear();
            for (const Json &entry : *list)
                if (const QString id = json::toQString(entry.get_ref<const std::string &>()); isRole(id))
                    working.insert(id);
            parallel = payload.value(QStringLiteral("parallel")) == QLatin1StringView("true");
        }
    }

    if ((kind == QLatin1StringView("usage") || kind == QLatin1StringView("metadata")) && !payload.isEmpty()) {
        const QString outputKey = QStringLiteral("outputTokens");
        const QString latencyKey = QStringLiteral("latencyMs");
        const auto output = rateInput(payload, outputKey);
        const auto latency = rateInput(payload, latencyKey);
        if (output && latency && *output >= 0 && *latency > 0) {
            const double rate = *output / (*latency / 1000.0);
            const bool fits = std::isfinite(rate) && rate <= double(std::numeric_limits<float>::max());
            velocity = fits ? float(rate) : 0.0f;
            measuredRate = fits;
        } else if (payload.contains(outputKey) || payload.contains(latencyKey)) {
            velocity = 0;
            measuredRate = false;
        }
    }

    const bool terminal =
        kind == QLatin1StringView("done") || kind == QLatin1StringView("turn_end") ||
        kind == QLatin1StringView("turn_completed") ||
        (kind == QLatin1StringView("error") && payload.value(QStringLiteral("final")) != QLatin1StringView("false"));
    if (terminal) {
        working.clear();
        velocity = 0;
        measuredRate = false;
        parallel = false;
    }
}
