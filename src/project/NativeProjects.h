#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One entry of the recent-project history.
struct NativeRecentProject
{
    QString directory;
    QDateTime openedAt;
};

// The recent-project history of one application, user and workspace, kept under the user's data folder.
namespace NativeProjects {

// Reads the history, records `recording` at the front with the current time when given, writes the
// history back and returns it, most recent first. Throws HubError when the history cannot be located,
// read safely or written.
QList<NativeRecentProject> recent(const QString &app, const QString &user, const QString &tenant,
                                  const std::optional<QString> &recording);

} // namespace NativeProjects
