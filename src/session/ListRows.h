#pragma once

#include "cloud/NativeLive.h"
#include "core/WorkspaceEvent.h"
#include "live/EventProjection.h"
#include "project/NativeChangeResult.h"
#include "project/NativeProjects.h"
#include "session/KeyedListModel.h"
#include "session/ToolTarget.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The rows of the lists the window shows, made from the model's values: what each list's roles are
// and what one record becomes. An absent value is an invalid variant, which QML reads as undefined.
namespace listrows
{
using Row = KeyedListModel::Row;

extern const QList<QByteArray> kEventRoles;
extern const QList<QByteArray> kApprovalRoles;
extern const QList<QByteArray> kInputRequestRoles;
extern const QList<QByteArray> kPositionRoles;
extern const QList<QByteArray> kResponseRoles;
extern const QList<QByteArray> kToolRoles;
extern const QList<QByteArray> kWorkspaceRoles;
extern const QList<QByteArray> kChangeFileRoles;
extern const QList<QByteArray> kRecentProjectRoles;
extern const QList<QByteArray> kSpecialistRoles;

Row event(const WorkspaceEvent &event);
QList<Row> events(const QList<WorkspaceEvent> &events);
// An approval the user answered in this turn says so, so its card stops offering the decision.
QList<Row> approvals(const QList<EventProjection::Approval> &approvals, const QSet<QString> &answered);
QList<Row> inputRequests(const QList<EventProjection::Elicitation> &requests);
QList<Row> positions(const QList<EventProjection::Position> &positions);
// One row per specialist that answered, in the order the answers arrived (the latest last).
QList<Row> responses(const EventProjection &projection);
QList<Row> tools(const ToolTargets &tools);
QList<Row> workspaces(const QList<NativeLive::Workspace> &workspaces);
QList<Row> changeFiles(const QList<NativeChangeFile> &files);
QList<Row> recentProjects(const QList<NativeRecentProject> &projects);

// What the roster shows of one specialist besides its id.
struct SpecialistFacts
{
    std::function<QString(const QString &role)> usageLabel;
    std::function<QString(const QString &role)> persistedHelp;
};
// Every role of the role list in seat order (seat 1 first); `active` is a role among the active
// specialists of a running turn.
QList<Row> specialists(const QStringList &roles, const QSet<QString> &working, const QStringList &active,
                       const SpecialistFacts &facts);
} // namespace listrows
