#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The file operations of frame staging and publication, one system call's worth each, so that a
// test can make any one of them fail. Failures are thrown as HubError with the system's reason.
class StageFiles
{
public:
    virtual ~StageFiles() = default;

    // Creates `path` and every missing folder above it with the default permissions; an existing
    // folder is no error.
    virtual void makeFolders(const QString &path) = 0;
    // Creates the one folder `path` (its parent must exist), owner-only (0700 whatever the umask) or
    // with the default permissions; an existing one is an error.
    virtual void makeFolder(const QString &path, bool ownerOnly) = 0;
    // Whether anything stands at `path` (a symbolic link counts, never followed).
    virtual bool exists(const QString &path) = 0;
    // The bytes of the regular file at `path`, never through a symbolic link.
    virtual QByteArray read(const QString &path) = 0;
    // Creates the file `path`, which must not exist yet, writes `bytes` and flushes them to disk.
    virtual void writeNew(const QString &path, const QByteArray &bytes) = 0;
    // Replaces `to` by `from` in one step.
    virtual void rename(const QString &from, const QString &to) = 0;
    // Flushes the folder's entries (a rename in it) to disk.
    virtual void syncFolder(const QString &path) = 0;
    // Removes the file or link `path`.
    virtual void remove(const QString &path) = 0;
    // Removes the folder `path` with everything in it, links removed and never followed; never
    // throws, a failure is ignored.
    virtual void removeTree(const QString &path) noexcept = 0;

    // The operations on this machine's file system.
    static StageFiles &system();

    // Writes `bytes` to `target` so that a reader sees either the old file or the new one whole: a
    // temporary file of the same folder, flushed, renamed over `target`, the folder flushed.
    // `replaced` runs as soon as the rename took place: from then on `target` holds the new bytes even
    // when flushing the folder fails afterwards.
    void writeAtomically(const QString &target, const QByteArray &bytes, const std::function<void()> &replaced = {});
};
