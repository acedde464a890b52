#pragma once

#include "live/EventProjection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// What the turn-status, release-check and thinking blocks show of the projection, one record read
// whole. Compared by value: it is announced only when something it holds changed, not on every
// merged event.
struct TurnSummary
{
    Q_GADGET
    Q_PROPERTY(bool turnCompleted MEMBER turnCompleted)
    Q_PROPERTY(QVariant currentTurnID READ currentTurnIDValue)
    Q_PROPERTY(QVariant latestErrorCode READ latestErrorCodeValue)
    Q_PROPERTY(QVariant errorGuidance READ errorGuidanceValue)
    Q_PROPERTY(QVariant releaseAuthorized READ releaseAuthorizedValue)
    Q_PROPERTY(QStringList releaseCheckLabels MEMBER releaseCheckLabels)
    Q_PROPERTY(QVariantMap evaluators MEMBER evaluators)
    Q_PROPERTY(QVariantMap evaluatorLabels MEMBER evaluatorLabels)
    Q_PROPERTY(QVariantMap evaluatorDetails MEMBER evaluatorDetails)
    Q_PROPERTY(QVariant reviewerGrade READ reviewerGradeValue)
    Q_PROPERTY(QStringList reasoning MEMBER reasoning)

public:
    bool turnCompleted = false;
    std::optional<QString> currentTurnID;
    std::optional<QString> latestErrorCode;
    std::optional<QString> errorGuidance;
    std::optional<bool> releaseAuthorized;
    QStringList releaseCheckLabels;
    QVariantMap evaluators;
    QVariantMap evaluatorLabels;
    QVariantMap evaluatorDetails;
    std::optional<QString> reviewerGrade;
    QStringList reasoning; // oldest first

    static TurnSummary of(const EventProjection &projection);

    QVariant currentTurnIDValue() const { return value(currentTurnID); }
    QVariant latestErrorCodeValue() const { return value(latestErrorCode); }
    QVariant errorGuidanceValue() const { return value(errorGuidance); }
    QVariant releaseAuthorizedValue() const { return value(releaseAuthorized); }
    QVariant reviewerGradeValue() const { return value(reviewerGrade); }

    bool operator==(const TurnSummary &) const = default;

private:
    template <typename T> static QVariant value(const std::optional<T> &v)
    {
        return v ? QVariant::fromValue(*v) : QVariant();
    }
};
