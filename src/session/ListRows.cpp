#include "session/ListRows.h"

#include <optional>

namespace
{
template <typename T> QVariant optional(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariantMap stringMap(const EventPayload &payload)
{
    QVariantMap map;
    for (auto it = payload.cbegin(); it != payload.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}
} // namespace

namespace listrows
{
const QList<QByteArray> kEventRoles = {"eventID", "kind", "timestamp", "agent", "payload"};
const QList<QByteArray> kApprovalRoles = {
    "approvalID", "toolUseID", "tool",  "sessionID", "summary",    "ready",         "detail",  "acceptanceCriteria",
    "turnID",     "revision",  "round", "decision",  "recordedAt", "hasBriefProof", "answered"};
const QList<QByteArray> kInputRequestRoles = {"requestID", "mode", "message", "fields", "url", "requestStateJSON"};
const QList<QByteArray> kPositionRoles = {"positionID", "owner",     "position",
                                          "confidence", "dependsOn", "conflictsWith"};
const QList<QByteArray> kResponseRoles = {"agent", "response"};
const QList<QByteArray> kToolRoles = {"toolUseID", "tool", "agent", "index"};
const QList<QByteArray> kWorkspaceRoles = {"tenantId", "tenantName", "workspaceRole", "isDefault"};
const QList<QByteArray> kChangeFileRoles = {"path", "status"};
const QList<QByteArray> kRecentProjectRoles = {"directory", "openedAt"};
const QList<QByteArray> kSpecialistRoles = {"roleID", "seat", "working", "active", "usageLabel", "persistedHelp"};

Row event(const WorkspaceEvent &e)
{
    return {e.id, {e.id, e.kind, e.timestamp, e.payload.value(QStringLiteral("agent")), stringMap(e.payload)}};
}

QList<Row> events(const QList<WorkspaceEvent> &events)
{
    QList<Row> rows;
    rows.reserve(events.size());
    for (const WorkspaceEvent &e : events)
        rows.append(event(e));
    return rows;
}

QList<Row> approvals(const QList<EventProjection::Approval> &approvals, const QSet<QString> &answered)
{
    QList<Row> rows;
    for (const EventProjection::Approval &a : approvals)
        rows.append(
            {a.id,
             {a.id, a.toolUseID, a.tool, optional(a.sessionID), a.summary, a.ready, a.detail, a.acceptanceCriteria,
              optional(a.turnID), optional(a.revision), optional(a.round), optional(a.decision), optional(a.recordedAt),
              a.hasBriefProof(), answered.contains(a.toolUseID)}});
    return rows;
}

QList<Row> inputRequests(const QList<EventProjection::Elicitation> &requests)
{
    QList<Row> rows;
    for (const EventProjection::Elicitation &r : requests)
        rows.append(
            {r.requestID, {r.requestID, r.mode, r.message, r.fields, optional(r.url), optional(r.requestStateJSON)}});
    return rows;
}

QList<Row> positions(const QList<EventProjection::Position> &positions)
{
    QList<Row> rows;
    for (const EventProjection::Position &p : positions)
        rows.append({p.id, {p.id, p.owner, p.position, p.confidence, p.dependsOn, p.conflictsWith}});
    return rows;
}

QList<Row> responses(const EventProjection &projection)
{
    QList<Row> rows;
    for (const QString &agent : projection.responseOrder)
        rows.append({agent, {agent, projection.responses.value(agent)}});
    return rows;
}

QList<Row> tools(const ToolTargets &tools)
{
    QList<Row> rows;
    for (const ToolTarget &t : tools)
        rows.append({t.id, {t.id, t.tool, t.agent, t.indexValue()}});
    return rows;
}

QList<Row> workspaces(const QList<NativeLive::Workspace> &workspaces)
{
    QList<Row> rows;
    for (const NativeLive::Workspace &w : workspaces)
        rows.append({w.tenantId, {w.tenantId, w.tenantName, w.role, w.isDefault}});
    return rows;
}

QList<Row> changeFiles(const QList<NativeChangeFile> &files)
{
    QList<Row> rows;
    for (const NativeChangeFile &f : files)
        rows.append({f.path, {f.path, f.status}});
    return rows;
}

QList<Row> recentProjects(const QList<NativeRecentProject> &projects)
{
    QList<Row> rows;
    for (const NativeRecentProject &p : projects)
        rows.append({p.directory, {p.directory, p.openedAt}});
    return rows;
}

QList<Row> specialists(const QStringList &roles, const QSet<QString> &working, const QStringList &active,
                       const SpecialistFacts &facts)
{
    QList<Row> rows;
    for (qsizetype seat = 0; seat < roles.size(); ++seat) {
        const QString &role = roles.at(seat);
        rows.append({role,
                     {role, int(seat + 1), working.contains(role), active.contains(role), facts.usageLabel(role),
                      facts.persistedHelp(role)}});
    }
    return rows;
}
} // namespace listrows
