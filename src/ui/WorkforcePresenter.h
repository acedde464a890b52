#pragma once

#include "live/NativePresence.h"

#include "ui/ModelFollower.h"

#include <QColor>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// A specialist's persisted usage row, as the roster shows it.
struct RoleUsage
{
    std::optional<QString> tokenLabel; // absent without a persisted row
    std::optional<QString> costLabel;
    QString help;
};

// What the workforce roster and its lanes show, from the model's values and the inspected role.
struct WorkforceInputs
{
    bool running = false;
    NativePresence presence;
    QStringList roles; // seat order, the liaison first
    QStringList activeSpecialists;
    bool turnCompleted = false;
    QString expandedInspector;
    QHash<QString, QString> responses;
    QHash<QString, RoleUsage> usage; // by role id
    std::optional<QString> pendingAttributionLabel;
    bool hasRenderedActivity = false;
    // View state: the role whose inspection panel is open.
    std::optional<QString> inspectedAgent;
};

// One role's column of the roster.
struct RosterColumn
{
    Q_GADGET
    QML_VALUE_TYPE(rosterColumn)
    Q_PROPERTY(QString roleID MEMBER roleID)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString initial MEMBER initial)
    Q_PROPERTY(bool active MEMBER active)
    Q_PROPERTY(QString stateText MEMBER stateText)
    Q_PROPERTY(QColor stateColor MEMBER stateColor)
    Q_PROPERTY(QColor circleFill MEMBER circleFill)
    Q_PROPERTY(QColor circleStroke MEMBER circleStroke)
    Q_PROPERTY(double circleStrokeWidth MEMBER circleStrokeWidth)
    Q_PROPERTY(QString usageText MEMBER usageText)
    Q_PROPERTY(bool costShown MEMBER costShown)
    Q_PROPERTY(QString costText MEMBER costText)
    Q_PROPERTY(QString help MEMBER help)

public:
    friend bool operator==(const RosterColumn &, const RosterColumn &) = default;

    QString roleID;
    QString name;    // the role id without its 8-character prefix, each word capitalised
    QString initial; // the name's first character
    bool active = false;
    QString stateText; // "Working" or "Idle"
    QColor stateColor;
    QColor circleFill;
    QColor circleStroke;
    double circleStrokeWidth = 0;
    QString usageText;
    bool costShown = false;
    QString costText;
    QString help; // the usage and cost lines' tooltip
};

struct WorkforceView
{
    Q_GADGET
    QML_VALUE_TYPE(workforceView)
    Q_PROPERTY(QString caption MEMBER caption)
    Q_PROPERTY(QString roundWidthLabel MEMBER roundWidthLabel)
    Q_PROPERTY(QString roundWidthValue MEMBER roundWidthValue)
    Q_PROPERTY(QVariantList columns MEMBER columns)
    Q_PROPERTY(bool inspectionShown MEMBER inspectionShown)
    Q_PROPERTY(QString inspectionTitle MEMBER inspectionTitle)
    Q_PROPERTY(QString inspectionResponse MEMBER inspectionResponse)
    Q_PROPERTY(QString inspectionCost MEMBER inspectionCost)
    Q_PROPERTY(bool dispatchShown MEMBER dispatchShown)
    Q_PROPERTY(QVariantList dispatchLanes MEMBER dispatchLanes)
    Q_PROPERTY(double laneMask MEMBER laneMask)
    Q_PROPERTY(double laneVelocity MEMBER laneVelocity)
    Q_PROPERTY(bool showsRenderedActivity MEMBER showsRenderedActivity)
    Q_PROPERTY(QString lanesAccessibleName MEMBER lanesAccessibleName)
    Q_PROPERTY(bool lanesCaptionShown MEMBER lanesCaptionShown)
    Q_PROPERTY(QString lanesCaption MEMBER lanesCaption)
    Q_PROPERTY(QString serviceOutput MEMBER serviceOutput)
    Q_PROPERTY(bool pendingShown MEMBER pendingShown)
    Q_PROPERTY(QString pendingText MEMBER pendingText)

public:
    friend bool operator==(const WorkforceView &, const WorkforceView &) = default;

    QString caption; // "LIVE ROUND", "TURN COMPLETED" or "STANDING BY"
    QString roundWidthLabel;
    QString roundWidthValue;
    QVariantList columns; // RosterColumn values, one per role in seat order
    bool inspectionShown = false;
    QString inspectionTitle;
    QString inspectionResponse;
    QString inspectionCost;
    // The dispatch drawing: shown for parallel work with specialists active; the seat indexes (from 1)
    // of the working roles it draws a path to.
    bool dispatchShown = false;
    QVariantList dispatchLanes;
    // The lanes' inputs: the working set's bit mask (a few bits, exact as a double) and the output rate.
    double laneMask = 0;
    double laneVelocity = 0;
    bool showsRenderedActivity = false;
    QString lanesAccessibleName;
    bool lanesCaptionShown = false;
    QString lanesCaption;  // "OPENGL · N ACTIVE STAVES"
    QString serviceOutput; // "Service output · 12.5 tokens/s" or "… · unreported"
    bool pendingShown = false;
    QString pendingText;
};

// A role id as the roster names it: "tavrilo_liaison" -> "Liaison".
QString roleDisplayName(const QString &roleID);

WorkforceView workforceView(const WorkforceInputs &in);
WorkforceInputs workforceInputs(const HubModel &model, const std::optional<QString> &inspectedAgent);

// The window's WorkforceView, followed from the model: `WorkforcePresenter { model: root.model }` and
// `text: presenter.view.someText`.
class WorkforcePresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    // View state: the role whose inspection panel is open; undefined (or null) for none.
    Q_PROPERTY(QVariant inspectedAgent READ inspectedAgent WRITE setInspectedAgent NOTIFY inspectedAgentChanged)
    Q_PROPERTY(WorkforceView view READ view NOTIFY viewChanged)

public:
    using ModelFollower::ModelFollower;

    const QVariant &inspectedAgent() const { return m_inspectedAgent; }
    void setInspectedAgent(const QVariant &role);
    const WorkforceView &view() const { return m_view; }

Q_SIGNALS:
    void inspectedAgentChanged();
    void viewChanged();

protected:
    void refresh() override;

private:
    QVariant m_inspectedAgent;
    WorkforceView m_view = workforceView({});
};
