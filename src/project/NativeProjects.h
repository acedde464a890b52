#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// One entry of the recent-project history: a project folder (absolute, links resolved) and when it
// was last recorded.
struct NativeRecentProject
{
    Q_GADGET
    Q_PROPERTY(QString directory MEMBER directory)
    Q_PROPERTY(QDateTime openedAt MEMBER openedAt)

public:
    QString directory;
    QDateTime openedAt;
};

// The recent-project history of one application, user and workspace: one small file of at most six
// entries in "$XDG_DATA_HOME/Tavrilo/NativeProjects", named by a digest of the three ids. The folder
// is the user's own (0700, never reached through a link of ours) and so is the file (0600, regular,
// owned by the user, at most 32 KiB, replaced whole on every write).
namespace NativeProjects
{

// Reads the history, records `recording` at the front with the current time when given, writes the
// history back and returns it, most recent first. Rows that are no longer valid project folders are
// left out of the answer; a reading call never rewrites the file. Throws HubError when the history
// cannot be located, read safely or written; the file is then left as it was.
QList<NativeRecentProject> recent(const QString &app, const QString &user, const QString &tenant,
                                  const std::optional<QString> &recording);

// The history file's name for the three ids: the SHA-256, in lower-case hexadecimal, of their JSON
// array as compact text with every "/" escaped, and ".json".
QString historyFileName(const QString &app, const QString &user, const QString &tenant);

} // namespace NativeProjects
