#include "ui/PositionsPresenter.h"

#include "ui/AgentNames.h"

namespace positionrules
{
qsizetype shownCount(qsizetype total, const QString &expandedInspector)
{
    return expandedInspector == QLatin1StringView("events") ? total : std::min<qsizetype>(total, 3);
}

PositionRow row(const EventProjection::Position &position, const QSet<QString> &expandedOwners)
{
    PositionRow row;
    row.id = position.id;
    row.owner = position.owner;
    row.displayName = agentnames::displayName(position.owner);
    row.position = position.position;
    row.confidence = position.confidence;
    row.dependsOn = position.dependsOn;
    row.conflictsWith = position.conflictsWith;
    row.expanded = expandedOwners.contains(position.owner);
    row.chevronSymbol = row.expanded ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down");
    row.positionLineLimit = row.expanded ? PositionRow::kNoLineLimit : 2;
    row.accessibleName = (row.expanded ? QStringLiteral("Collapse ") : QStringLiteral("Read full ")) + position.owner +
                         QStringLiteral(" position");
    return row;
}
} // namespace positionrules

PositionsBlock positionsBlock(const QList<EventProjection::Position> &positions, const QString &expandedInspector,
                              const QSet<QString> &expandedOwners)
{
    PositionsBlock block;
    block.showCaption = !positions.isEmpty();
    block.showWaiting = positions.isEmpty();
    const qsizetype shown = positionrules::shownCount(positions.size(), expandedInspector);
    for (qsizetype i = 0; i < shown; ++i)
        block.rows.append(positionrules::row(positions[i], expandedOwners));
    return block;
}
