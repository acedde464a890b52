#pragma once

#include "live/EventProjection.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <limits>

// One row of the positions table. The owner opens and closes all of its rows together.
struct PositionRow
{
    Q_GADGET
    QML_VALUE_TYPE(positionRow)
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString owner MEMBER owner)
    Q_PROPERTY(QString displayName MEMBER displayName)
    Q_PROPERTY(QString position MEMBER position)
    Q_PROPERTY(QString confidence MEMBER confidence)
    Q_PROPERTY(QString dependsOn MEMBER dependsOn)
    Q_PROPERTY(QString conflictsWith MEMBER conflictsWith)
    Q_PROPERTY(bool expanded MEMBER expanded)
    Q_PROPERTY(QString chevronSymbol MEMBER chevronSymbol)
    Q_PROPERTY(int positionLineLimit MEMBER positionLineLimit)
    Q_PROPERTY(QString accessibleName MEMBER accessibleName)

public:
    bool operator==(const PositionRow &) const = default;

    static constexpr int kNoLineLimit = std::numeric_limits<int>::max();

    QString id;
    QString owner; // raw agent id, the key of the view's set of opened owners
    QString displayName;
    QString position;
    QString confidence;
    QString dependsOn;
    QString conflictsWith;
    bool expanded = false;
    QString chevronSymbol;     // "chevron.up" while open, else "chevron.down"
    int positionLineLimit = 2; // kNoLineLimit while open
    QString accessibleName;    // "Read full <owner> position" or "Collapse <owner> position"
};

// The positions block: the caption and the waiting label show by `positions` being empty or not.
struct PositionsBlock
{
    Q_GADGET
    QML_VALUE_TYPE(positionsBlock)
    Q_PROPERTY(bool showCaption MEMBER showCaption)
    Q_PROPERTY(bool showWaiting MEMBER showWaiting)

public:
    bool operator==(const PositionsBlock &) const = default;

    bool showCaption = false; // "Attributed specialist claims · verification is shown in release checks"
    bool showWaiting = true;  // "Waiting for specialist positions · Domain owners keep their own conclusions"
    QList<PositionRow> rows; // reach the view as `GatesPresenter::positionRows`, row by row
};

namespace positionrules
{
// How many of `total` positions show: all while the section is expanded ("events"), else three.
qsizetype shownCount(qsizetype total, const QString &expandedInspector);
PositionRow row(const EventProjection::Position &position, const QSet<QString> &expandedOwners);
} // namespace positionrules

PositionsBlock positionsBlock(const QList<EventProjection::Position> &positions, const QString &expandedInspector,
                              const QSet<QString> &expandedOwners);
