#include "ui/ReleaseChecksPresenter.h"

#include "ui/GadgetList.h"
#include "ui/Palette.h"

namespace
{
QString statusText(const std::optional<QString> &label, bool blocked)
{
    if (!label)
        return blocked ? QStringLiteral("Not run") : QStringLiteral("Pending");
    if (*label == QLatin1StringView("NOT_APPLICABLE"))
        return QStringLiteral("Not needed");
    if (*label == QLatin1StringView("PASS"))
        return QStringLiteral("Passed");
    if (*label == QLatin1StringView("FAIL"))
        return QStringLiteral("Failed");
    return *label;
}

template <typename Map> std::optional<typename Map::mapped_type> entry(const Map &map, const QString &key)
{
    const auto it = map.constFind(key);
    return it == map.cend() ? std::nullopt : std::optional(*it);
}
} // namespace

ReleaseChecks releaseChecks(const EventProjection &projection)
{
    ReleaseChecks block;
    if (projection.releaseAuthorized) {
        block.badgeText =
            *projection.releaseAuthorized ? QStringLiteral("AUTHORIZED") : QStringLiteral("DELIVERY HELD");
        block.badgeColor = *projection.releaseAuthorized ? Palette::green() : Palette::error();
    }
    const bool blocked = projection.releaseAuthorized == false && projection.latestErrorCode.has_value();
    QColor tint = Palette::error();
    tint.setAlphaF(0.07f);

    for (const QString &key : projection.releaseCheckLabels()) {
        ReleaseCheckCell cell;
        cell.key = key;
        cell.statusText = statusText(entry(projection.evaluatorLabels, key), blocked);
        cell.title = key + QStringLiteral(" · ") + cell.statusText;
        cell.reason = entry(projection.evaluatorDetails, key)
                          .value_or(blocked ? QStringLiteral("Blocked by incomplete turn")
                                            : QStringLiteral("No evaluator result received"));
        const std::optional<bool> result = entry(projection.evaluators, key);
        cell.symbol = !result   ? QStringLiteral("circle.dashed")
                      : *result ? QStringLiteral("checkmark.circle.fill")
                                : QStringLiteral("xmark.circle.fill");
        cell.color = !result ? Palette::muted() : *result ? Palette::green() : Palette::error();
        cell.background = result == false ? tint : Palette::paper();
        cell.readReasonAccessibleName = QStringLiteral("Read full %1 evaluator reason").arg(key);
        block.cells.append(cell);
    }
    return block;
}

QVariantList ReleaseChecks::cellValues() const
{
    return gadgetList(cells);
}
