#pragma once

#include "live/EventProjection.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <limits>

// A criterion of the recorded details: its position ("1.") and its text.
struct NumberedLine
{
    Q_GADGET
    QML_VALUE_TYPE(numberedLine)
    Q_PROPERTY(QString number MEMBER number)
    Q_PROPERTY(QString text MEMBER text)

public:
    bool operator==(const NumberedLine &) const = default;

    QString number;
    QString text;
};

// What the window's model says about answering approvals, read on every redraw.
struct ApprovalControls
{
    QString sessionID;
    bool controlsConnected = false;
    bool controlInFlight = false;
    QSet<QString> answeredApprovalIDs; // tool-use ids
};

// One approval card. Texts that are empty are not shown; line limits use the largest int for "no
// limit", as Text.maximumLineCount does.
struct ApprovalCard
{
    Q_GADGET
    QML_VALUE_TYPE(approvalCard)
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(bool decided MEMBER decided)
    Q_PROPERTY(QString chevronSymbol MEMBER chevronSymbol)
    Q_PROPERTY(QString decisionText MEMBER decisionText)
    Q_PROPERTY(QString summary MEMBER summary)
    Q_PROPERTY(int summaryLineLimit MEMBER summaryLineLimit)
    Q_PROPERTY(bool showCriteriaCount MEMBER showCriteriaCount)
    Q_PROPERTY(QString criteriaCountText MEMBER criteriaCountText)
    Q_PROPERTY(bool showDetails MEMBER showDetails)
    Q_PROPERTY(bool detailsHeightFixed MEMBER detailsHeightFixed)
    Q_PROPERTY(QVariantList criteria READ criteriaValues)
    Q_PROPERTY(QStringList detailLines MEMBER detailLines)
    Q_PROPERTY(QString recordedText MEMBER recordedText)
    Q_PROPERTY(QString roundText MEMBER roundText)
    Q_PROPERTY(QString turnRevisionText MEMBER turnRevisionText)
    Q_PROPERTY(bool showProof MEMBER showProof)
    Q_PROPERTY(QString proofText MEMBER proofText)
    Q_PROPERTY(bool answerable MEMBER answerable)

public:
    bool operator==(const ApprovalCard &) const = default;

    static constexpr int kNoLineLimit = std::numeric_limits<int>::max();
    static constexpr int kDetailsHeight = 160; // exact off screen, the most in the window

    QString id;
    QString title;         // "Deploy approval" or "Brief approval"
    bool decided = false;  // the chevron and the decision show in the header
    QString chevronSymbol; // "chevron.down" while the details are open, else "chevron.right"
    QString decisionText;  // "Approved"
    QString summary;
    int summaryLineLimit = kNoLineLimit;
    bool showCriteriaCount = false;
    QString criteriaCountText; // "3 acceptance criteria recorded"
    bool showDetails = false;
    bool detailsHeightFixed = false; // kDetailsHeight exactly, else at most that
    QList<NumberedLine> criteria;    // under the heading "Acceptance criteria" when not empty
    QStringList detailLines;
    QString recordedText;     // "Recorded …"
    QString roundText;        // "Round …"
    QString turnRevisionText; // "Turn …\nRevision …", only when both are known
    bool showProof = false;   // the proof row with Decline and Approve
    QString proofText;
    bool answerable = false; // the proof row's buttons are enabled

    QVariantList criteriaValues() const;
};

namespace approvalrules
{
bool isDeployGate(const EventProjection::Approval &approval);
// Ready, and a deploy gate or a brief carrying its proof.
bool proofComplete(const EventProjection::Approval &approval);
bool sameSession(const EventProjection::Approval &approval, const QString &sessionID);
// The proof row's buttons may be pressed.
bool answerable(const EventProjection::Approval &approval, const ApprovalControls &controls);
// "Same-session verified proposal", "Session requires verification" or "Waiting for complete
// runtime proposal".
QString proofText(const EventProjection::Approval &approval, const QString &sessionID);
// Each word's first letter upper case, the rest lower case: "approved" shows "Approved".
QString capitalisedDecision(const QString &decision);
} // namespace approvalrules

// The card of `approval`; `expanded` when its id is in the view's set of opened approvals.
ApprovalCard approvalCard(const EventProjection::Approval &approval, const ApprovalControls &controls, bool expanded,
                          bool offscreenExport);
