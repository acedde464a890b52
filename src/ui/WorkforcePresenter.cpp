#include "ui/WorkforcePresenter.h"

#include "session/HubModel.h"
#include "ui/Palette.h"

#include <QLocale>

namespace
{
// Every role id starts with a prefix of this length ("tavrilo_"), dropped whatever it holds.
constexpr qsizetype kRolePrefixLength = 8;
const QString kLiaison = QStringLiteral("tavrilo_liaison");

// The view state's inspected role: a string, or nothing.
std::optional<QString> inspected(const QVariant &role)
{
    if (!role.isValid() || role.isNull())
        return std::nullopt;
    return role.toString();
}

QColor withAlpha(QColor color, float alpha)
{
    color.setAlphaF(alpha);
    return color;
}
} // namespace

QString roleDisplayName(const QString &roleID)
{
    // Words are separated by white space only, as the roster's names always have been: an
    // underscore keeps "release_manager" one word.
    QString name = roleID.mid(kRolePrefixLength).toLower();
    bool wordStart = true;
    for (QChar &c : name) {
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    return name;
}

WorkforceView workforceView(const WorkforceInputs &in)
{
    WorkforceView v;
    const QSet<QString> working = in.running ? in.presence.working : QSet<QString>();
    const bool expanded = in.expandedInspector == QLatin1String("workforce");

    v.caption = in.running         ? QStringLiteral("LIVE ROUND")
                : in.turnCompleted ? QStringLiteral("TURN COMPLETED")
                                   : QStringLiteral("STANDING BY");
    v.roundWidthLabel =
        in.presence.parallel ? QStringLiteral("Parallel round width") : QStringLiteral("Current round width");
    if (!in.activeSpecialists.isEmpty())
        v.roundWidthValue = QStringLiteral("%1 / 5 specialists").arg(in.activeSpecialists.size());
    else if (working.contains(kLiaison))
        v.roundWidthValue = QStringLiteral("Liaison active");
    else
        v.roundWidthValue = QStringLiteral("No active specialists");

    for (const QString &role : in.roles) {
        RosterColumn column;
        column.roleID = role;
        column.name = roleDisplayName(role);
        column.initial = column.name.left(1);
        column.active = working.contains(role);
        column.stateText = column.active ? QStringLiteral("Working") : QStringLiteral("Idle");
        column.stateColor = column.active ? Palette::green() : Palette::muted();
        column.circleFill = column.active ? withAlpha(Palette::green(), 0.22F) : Palette::paper();
        column.circleStroke = column.active ? Palette::green() : Palette::line();
        column.circleStrokeWidth = column.active ? 1.5 : 0.5;
        const RoleUsage usage = in.usage.value(role);
        column.usageText = usage.tokenLabel.value_or(QStringLiteral("Usage unavailable"));
        column.costShown = expanded;
        column.costText = usage.costLabel.value_or(QStringLiteral("Cost unavailable"));
        column.help = usage.help;
        v.columns.append(QVariant::fromValue(column));
    }

    if (in.inspectedAgent) {
        const QString &role = *in.inspectedAgent;
        v.inspectionShown = true;
        v.inspectionTitle = roleDisplayName(role) + QStringLiteral(" \u00B7 Live inspection");
        v.inspectionResponse = in.responses.value(role, QStringLiteral("Awaiting this agent's first streamed update."));
        v.inspectionCost = in.usage.value(role).costLabel.value_or(QStringLiteral("Cost unavailable"));
    }

    v.dispatchShown = in.presence.parallel && !in.activeSpecialists.isEmpty();
    if (v.dispatchShown) {
        for (qsizetype i = 1; i < in.roles.size(); ++i) {
            if (working.contains(in.roles.at(i)))
                v.dispatchLanes.append(int(i));
        }
    }

    v.laneMask = double(NativePresence::mask(working, in.roles));
    v.laneVelocity = in.running ? double(in.presence.velocity) : 0.0;
    v.showsRenderedActivity = in.hasRenderedActivity;
    v.lanesAccessibleName =
        in.running ? QStringLiteral("Specialist activity") : QStringLiteral("No active specialist turn");
    v.lanesCaptionShown = expanded;
    v.lanesCaption = QStringLiteral("OPENGL \u00B7 %1 ACTIVE STAVES").arg(working.size());
    v.serviceOutput = in.presence.measuredRate ? QStringLiteral("Service output \u00B7 %1 tokens/s")
                                                     .arg(QString::number(double(in.presence.velocity), 'f', 1))
                                               : QStringLiteral("Service output \u00B7 unreported");

    v.pendingShown = in.pendingAttributionLabel.has_value();
    v.pendingText = in.pendingAttributionLabel.value_or(QString());
    return v;
}

WorkforceInputs workforceInputs(const HubModel &model, const std::optional<QString> &inspectedAgent)
{
    WorkforceInputs in;
    in.running = model.running();
    in.presence = model.presence();
    in.roles = NativePresence::roles();
    in.activeSpecialists = model.activeSpecialists();
    in.turnCompleted = model.eventProjection().turnCompleted;
    in.expandedInspector = model.expandedInspector();
    in.responses = model.eventProjection().responses;
    for (const QString &role : in.roles) {
        RoleUsage usage;
        if (const std::optional<NativeAgentLedgerUsage> row = model.persistedAgentUsage(role)) {
            usage.tokenLabel = row->tokenLabel();
            usage.costLabel = row->costLabel();
        }
        usage.help = model.persistedAgentHelp(role);
        in.usage.insert(role, usage);
    }
    in.pendingAttributionLabel = model.pendingAttributionLabel();
    in.hasRenderedActivity = !model.renderedActivity().isNull();
    in.inspectedAgent = inspectedAgent;
    return in;
}

void WorkforcePresenter::refresh()
{
    if (replace(m_view,
                model() ? workforceView(workforceInputs(*model(), inspected(m_inspectedAgent))) : workforceView({})))
        Q_EMIT viewChanged();
}

void WorkforcePresenter::setInspectedAgent(const QVariant &role)
{
    if (replace(m_inspectedAgent, role)) {
        Q_EMIT inspectedAgentChanged();
        refresh();
    }
}
