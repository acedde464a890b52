#pragma once

#include "core/Json.h"
#include "project/ProjectRoot.h"

#include <QMap>
#include <QString>
#include <QStringList>

// The state of one file before its first change in the current turn.
struct ProjectOriginal
{
    bool exists = false;
    // Empty when the file did not exist.
    QString text;
    // POSIX permission bits; 0644 when they could not be read.
    int permissions = 0644;
};

// Baselines keyed by the changed file's path relative to the root, in ascending order.
using ProjectOriginals = QMap<QString, ProjectOriginal>;

// What a tool answers when it succeeds: the text shown to the agent and the paths it wrote.
struct ProjectToolResult
{
    QString text;
    QStringList changed;
};

// The read, list, write and edit tools on locations the path guard has resolved. Failures are
// thrown as HubError with their sentences.
namespace projectfiles
{
// The byte cap of a file that is read and of the text that a write leaves.
inline constexpr qint64 kMaximum = 2097152;
// The summed text of all baselines of one turn.
inline constexpr qint64 kBaselineCapacity = 20971520;
inline constexpr int kListLimit = 1000;

// Numbered lines of a text file ("offset", "limit").
ProjectToolResult readLines(const ProjectRoot &root, const ProjectLocation &location, const Json &input);
// The sorted project-relative entries below a folder, hidden ones skipped ("depth").
ProjectToolResult list(const ProjectRoot &root, const ProjectLocation &location, const Json &input);
// A whole-file write ("content", "append") or an edit ("old_text", "new_text", "replace_all"), done
// atomically with the file's mode kept, its baseline recorded at its first change of the turn.
ProjectToolResult write(const ProjectRoot &root, const ProjectLocation &location, const QString &sentPath,
                        const Json &input, bool edit, ProjectOriginals &originals);
} // namespace projectfiles
