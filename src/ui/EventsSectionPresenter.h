#pragma once

#include "live/EventProjection.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <limits>
#include <optional>

// The "RECONCILIATION & GATES" section around its blocks: the counters, which blocks of the gates
// content show and in what order, and the status line.
struct EventsSection
{
    Q_GADGET
    QML_VALUE_TYPE(eventsSection)
    Q_PROPERTY(QString positionsCounter MEMBER positionsCounter)
    Q_PROPERTY(QString approvalsCounter MEMBER approvalsCounter)
    Q_PROPERTY(QString inputRequestsCounter MEMBER inputRequestsCounter)
    Q_PROPERTY(QStringList blocks MEMBER blocks)
    Q_PROPERTY(QString statusText MEMBER statusText)
    Q_PROPERTY(QColor statusColor MEMBER statusColor)

public:
    bool operator==(const EventsSection &) const = default;

    // The gates content's blocks in their one order; `blocks` holds those that show.
    static const QStringList &allBlocks();

    QString positionsCounter;     // "2 positions"
    QString approvalsCounter;     // "1 approvals to review": undecided ones only
    QString inputRequestsCounter; // "0 input requests"
    QStringList blocks;
    QString statusText; // the clean-up failure while one is held, else the model's message
    QColor statusColor;

    Q_INVOKABLE bool shows(const QString &block) const { return blocks.contains(block); }
};

// `thinkingOpen` is the thinking disclosure's state (see thinkingOpen in SpecialistUpdatesPresenter.h).
EventsSection eventsSection(const EventProjection &projection, const QString &message,
                            const std::optional<QString> &cleanupFailure, bool thinkingOpen);

// The turn error block and the turn completion line.
struct TurnStatus
{
    Q_GADGET
    QML_VALUE_TYPE(turnStatus)
    Q_PROPERTY(bool showError MEMBER showError)
    Q_PROPERTY(QString guidance MEMBER guidance)
    Q_PROPERTY(QString errorAccessibleName MEMBER errorAccessibleName)
    Q_PROPERTY(bool showReviewReason MEMBER showReviewReason)
    Q_PROPERTY(QString reviewReason MEMBER reviewReason)
    Q_PROPERTY(int reviewReasonLineLimit MEMBER reviewReasonLineLimit)
    Q_PROPERTY(QString reviewToggleText MEMBER reviewToggleText)
    Q_PROPERTY(bool showCompletion MEMBER showCompletion)
    Q_PROPERTY(QString completionText MEMBER completionText)

public:
    bool operator==(const TurnStatus &) const = default;

    static constexpr int kNoLineLimit = std::numeric_limits<int>::max();

    bool showError = false;
    QString guidance;
    QString errorAccessibleName; // "Turn error. " and the guidance
    // The independent reviewer's reason, only inside the error block.
    bool showReviewReason = false;
    QString reviewReason;
    int reviewReasonLineLimit = 4; // kNoLineLimit while the reason is read in full
    QString reviewToggleText;      // "Read full reason" or "Show less"
    bool showCompletion = false;
    QString completionText;
};

// `expandedReviewReason` is the view's one flag for reading the reason in full.
TurnStatus turnStatus(const EventProjection &projection, bool expandedReviewReason);
