#pragma once

#include "core/HubError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/stat.h>

// A place under the project root that the path guard accepted: its absolute path, and the same path
// relative to the root ("" for the root itself). Neither has "." or ".." components or links in
// the part that existed when the guard looked.
struct ProjectLocation
{
    QString path;
    QString relative;
};

// The project directory that the agents' tools work in, and the only way they reach its files.
// `inside` is the path guard: every textual refusal, then resolution of links, the root prefix on a
// "/" boundary and the protected names. Every file operation after it goes through openat2 on a
// descriptor of the root with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS: the location the guard
// resolved has no links left, so a link that appears between the check and the use (a folder
// swapped for a link) makes the operation fail instead of leading it elsewhere, in or out of the
// project.
class ProjectRoot
{
public:
    // `path` must already be resolved (links followed, standardised).
    explicit ProjectRoot(QString path);
    ~ProjectRoot();
    ProjectRoot(const ProjectRoot &) = delete;
    ProjectRoot &operator=(const ProjectRoot &) = delete;

    const QString &path() const { return m_path; }

    // Maps a project-relative path to its location under the root, or throws HubError with the
    // guard's sentence.
    ProjectLocation inside(const QString &path, bool write) const;
    // The textual refusals alone (the guard's first step).
    static bool refusedText(QStringView path, bool write);
    // The same refusals for one component of a path; `first` when it begins the path.
    static bool refusedName(QStringView name, bool first, bool write);
    // Whether one of `components` is a credential or state name (".tavrilo" only in write mode).
    static bool isProtected(const QStringList &components, bool write);
    static bool isProtectedName(QStringView component, bool write);

    // The whole text of a regular UTF-8 file of at most `maximum` bytes without NUL characters.
    QString read(const ProjectLocation &location, qint64 maximum) const;
    // The status of what is at `location` (a link itself is not followed), none when nothing is.
    std::optional<struct stat> status(const ProjectLocation &location) const;
    // Creates the missing folders above `location` with default permissions.
    void createParents(const ProjectLocation &location) const;
    // Creates the folder `location` and the missing ones above it, each with `mode`.
    void createDirectory(const ProjectLocation &location, mode_t mode) const;
    // Replaces the file at `location` with `bytes` in one rename of a temporary file of the same
    // folder. `mode`, when given, is set on the new file before it takes the old one's place.
    void replace(const ProjectLocation &location, const QByteArray &bytes, std::optional<mode_t> mode) const;
    // Removes `location` and everything below it; errors are ignored.
    void removeTree(const ProjectLocation &location) const;
    // A descriptor of the folder at `location`, to enumerate; throws HubError with `failure`.
    int openDirectory(const ProjectLocation &location, const QString &failure) const;
    // A descriptor of the folder at the root-relative `relative` (bytes as the file system holds
    // them, "" for the root), to enumerate; -1 with errno when it is not a folder reached without
    // a link.
    int openDirectory(const QByteArray &relative) const;
    // The root's own descriptor (O_PATH), -1 when the root could not be opened.
    int descriptor() const { return m_descriptor; }

    // The system's description of an error number, as one sentence.
    static HubError systemError(int error);

    // Whether `bytes` are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
    static bool isUtf8(const QByteArray &bytes);

private:
    // openat2 beneath the root, every link refused; -1 with errno on failure.
    int openBeneath(const QString &relative, int flags, mode_t mode = 0) const;
    int openParent(const ProjectLocation &location, QString &name) const;
    QString resolveLinks(QString resolved, QStringList pending) const;

    QString m_path;
    QString m_prefix;
    int m_descriptor = -1;
};
