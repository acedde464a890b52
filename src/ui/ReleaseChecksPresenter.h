#pragma once

#include "live/EventProjection.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// One cell of the release-check grid. Its texts come from the evaluator's label and reason, its
// symbol and colours from the evaluator's result; the two never decide for each other.
struct ReleaseCheckCell
{
    Q_GADGET
    QML_VALUE_TYPE(releaseCheckCell)
    Q_PROPERTY(QString key MEMBER key)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString statusText MEMBER statusText)
    Q_PROPERTY(QString reason MEMBER reason)
    Q_PROPERTY(QString symbol MEMBER symbol)
    Q_PROPERTY(QColor color MEMBER color)
    Q_PROPERTY(QColor background MEMBER background)
    Q_PROPERTY(QString readReasonAccessibleName MEMBER readReasonAccessibleName)

public:
    bool operator==(const ReleaseCheckCell &) const = default;

    QString key;
    QString title;      // key, " · ", status text: the cell's label and its popover's headline
    QString statusText; // "Not needed", "Passed", "Failed", another label as it is, "Not run", "Pending"
    QString reason;
    QString symbol;                   // "circle.dashed", "checkmark.circle.fill" or "xmark.circle.fill"
    QColor color;                     // of the label: muted, green or error
    QColor background;                // error at 7 % for a failed result, else paper
    QString readReasonAccessibleName; // "Read full <key> evaluator reason"
};

// The "RELEASE CHECKS" block: the badge and the cells in grid order.
struct ReleaseChecks
{
    Q_GADGET
    QML_VALUE_TYPE(releaseChecks)
    Q_PROPERTY(QString badgeText MEMBER badgeText)
    Q_PROPERTY(QColor badgeColor MEMBER badgeColor)
    Q_PROPERTY(QVariantList cells READ cellValues)

public:
    bool operator==(const ReleaseChecks &) const = default;

    QString badgeText; // empty until delivery is authorised or held
    QColor badgeColor;
    QList<ReleaseCheckCell> cells;

    QVariantList cellValues() const;
};

ReleaseChecks releaseChecks(const EventProjection &projection);
