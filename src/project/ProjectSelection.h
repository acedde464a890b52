#pragma once

#include <QString>
#include <QUrl>

#include <optional>

#include <sys/types.h>

// The checks of switching to another project folder or opening a repository, free of the model.
namespace projectselection
{
// The identity of a folder as the file system knows it: equal identities are the same object.
struct DirectoryIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const DirectoryIdentity &) const = default;
};

// The folder's identity, none when `path` is no directory. Throws HubError with the system's sentence
// when it cannot be examined.
std::optional<DirectoryIdentity> directoryIdentity(const QString &path);

// `path` with every link resolved and standardised ("." and ".." gone, no trailing "/"); the parts
// that do not exist stay as written.
QString resolved(const QString &path);

// Whether `child` lies strictly below `parent` (both resolved).
bool strictlyInside(const QString &parent, const QString &child);

// The typed address, trimmed, when it is an HTTPS address with a host and without user, password,
// query or fragment (an empty one counts as present).
std::optional<QUrl> repositoryAddress(const QString &typed);
} // namespace projectselection
