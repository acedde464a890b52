#pragma once

#include "core/ScopedFd.h"

#include <QString>

#include <sys/stat.h>

// The journal folder and the opening rules of its files: "/tmp/tavrilo/<app id>"
// holding "events.jsonl", "events.lock" and "events.previous.jsonl". Every folder below /tmp is
// created and checked through descriptors opened with O_NOFOLLOW, so no component below the base
// can be a symbolic link; the files are opened with O_NOFOLLOW, without waiting on what stands in
// their place (RegularFile), and checked on their descriptor.
class JournalFolder
{
public:
    // Sets up and checks "<base>/tavrilo" and then "<base>/tavrilo/<appID>" (create with 0700,
    // directory, owned by the current user, no symbolic link, mode set to 0700) and returns the
    // application folder's path. `base` defaults to /tmp with its symbolic links resolved. Throws
    // HubError: "Unsafe shared workspace directory: " and the path (also for an id that is no
    // single folder name: empty, "." or "..", or holding "/" or a NUL), or the platform's error of
    // creating a folder or of reading or setting its attributes.
    static JournalFolder setUp(const QString &appID);
    static JournalFolder setUp(const QString &base, const QString &appID);

    // An already checked folder (no checks here).
    explicit JournalFolder(QString directory);

    const QString &directory() const { return m_directory; }
    // The folder `name` inside this one, set up by the same rules as the folder itself (created
    // 0700, a folder of the current user, no symbolic link, mode set to 0700); returns its path.
    // Throws as setUp does.
    QString privateFolder(const QString &name) const;
    QString journalPath() const;
    QString previousPath() const;
    QString lockPath() const;

    // "events.jsonl": read-write, append, create, no-follow, 0600, regular file owned by the user,
    // mode set to 0600. The caller closes the descriptor. Throws "Cannot open workspace event log.",
    // "Unsafe event log owner or type.", "Cannot secure event log.".
    // `status`, when given, receives the file's status as checked.
    int descriptor(struct stat *status = nullptr) const;
    // "events.lock": read-write, create, no-follow, 0600, regular file owned by the user; its mode is
    // not changed. Throws "Cannot open event lock.", "Unsafe event lock.".
    int lockDescriptor() const;
    // "events.previous.jsonl" for reading, no-follow, regular file owned by the user; -1 when it is
    // missing or unsafe (never created, never an error).
    int previousDescriptor(struct stat *status = nullptr) const;
    // Renames "events.jsonl" to "events.previous.jsonl", replacing an earlier previous generation.
    bool rotate() const;

private:
    QString m_directory;
    QByteArray m_journal;
    QByteArray m_previous;
    QByteArray m_lock;
};

// Holds a whole-file flock on a descriptor it owns; unlocks and closes on destruction, in that order.
class ScopedFileLock
{
public:
    // Takes the lock (LOCK_EX or LOCK_SH), waiting as long as needed; a wait interrupted by a signal
    // is repeated. Closes `fd` and throws "Cannot lock event log." when the lock cannot be taken.
    ScopedFileLock(int fd, int operation);
    ~ScopedFileLock();
    ScopedFileLock(const ScopedFileLock &) = delete;
    ScopedFileLock &operator=(const ScopedFileLock &) = delete;

private:
    ScopedFd m_fd;
};
