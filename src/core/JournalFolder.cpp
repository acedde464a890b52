#include "core/JournalFolder.h"

#include "core/HubError.h"
#include "core/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The user id, read once: the hub never changes it, and every journal call checks owners.
uid_t currentUser()
{
    static const uid_t uid = ::getuid();
    return uid;
}

HubError unsafeDirectory(const QString &path)
{
    return HubError(QStringLiteral("Unsafe shared workspace directory: ") + path);
}

// The platform's error of a folder operation, passed on as a sentence.
HubError platformError(const char *what, const QString &path, int error)
{
    return HubError(QStringLiteral("Cannot %1 the folder %2: %3.")
                        .arg(QLatin1StringView(what), path, QString::fromLocal8Bit(std::strerror(error))));
}

// One level of the folder chain: created when missing, opened without following a symbolic link,
// checked and set to 0700 on its descriptor.
ScopedFd openLevel(int parent, const QByteArray &name, const QString &path)
{
    if (::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST)
        throw platformError("create", path, errno);
    ScopedFd fd(::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        struct stat st
        {
        };
        if (::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode))
                throw unsafeDirectory(path);
            // Something else stands in its place: creating the folder is what failed.
            if (!S_ISDIR(st.st_mode))
                throw platformError("create", path, EEXIST);
        }
        throw platformError("open", path, error);
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        throw platformError("read the attributes of", path, errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != currentUser())
        throw unsafeDirectory(path);
    if (::fchmod(fd.get(), 0700) != 0)
        throw platformError("set the permissions of", path, errno);
    return fd;
}

// One name of a folder inside another: nothing that could leave it.
bool isFolderName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString resolvedTmp()
{
    char buffer[PATH_MAX];
    if (::realpath("/tmp", buffer) == nullptr)
        return QStringLiteral("/tmp");
    return QFile::decodeName(buffer);
}

// Opens a journal file without following a symbolic link and checks it is a regular file of ours.
enum class Check { Ok, OpenFailed, Unsafe };
Check openChecked(const QByteArray &path, int flags, ScopedFd &out, struct stat &st)
{
    RegularFile file = RegularFile::open(path, flags | O_NOFOLLOW, 0600);
    if (file.status() == RegularFile::Status::OpenFailed)
        return Check::OpenFailed;
    if (!file.opened() || file.info().st_uid != currentUser())
        return Check::Unsafe;
    st = file.info();
    out.reset(file.release());
    return Check::Ok;
}
} // namespace

JournalFolder JournalFolder::setUp(const QString &appID)
{
    return setUp(resolvedTmp(), appID);
}

JournalFolder JournalFolder::setUp(const QString &base, const QString &appID)
{
    const QString tavrilo = base + QStringLiteral("/tavrilo");
    const QString application = tavrilo + QLatin1Char('/') + appID;
    // The configuration allows letters, digits, '_' and '-' only; anything that could leave the
    // folder is refused here as well.
    if (!isFolderName(appID))
        throw unsafeDirectory(application);
    ScopedFd baseFd(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!baseFd.valid())
        throw platformError("open", base, errno);
    const ScopedFd tavriloFd = openLevel(baseFd.get(), QByteArrayLiteral("tavrilo"), tavrilo);
    openLevel(tavriloFd.get(), QFile::encodeName(appID), application);
    return JournalFolder(application);
}

JournalFolder::JournalFolder(QString directory)
    : m_directory(std::move(directory)), m_journal(QFile::encodeName(m_directory + QStringLiteral("/events.jsonl"))),
      m_previous(QFile::encodeName(m_directory + QStringLiteral("/events.previous.jsonl"))),
      m_lock(QFile::encodeName(m_directory + QStringLiteral("/events.lock")))
{}

QString JournalFolder::privateFolder(const QString &name) const
{
    const QString path = m_directory + QLatin1Char('/') + name;
    if (!isFolderName(name))
        throw unsafeDirectory(path);
    const ScopedFd parent(
        ::open(QFile::encodeName(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!parent.valid())
        throw platformError("open", m_directory, errno);
    openLevel(parent.get(), QFile::encodeName(name), path);
    return path;
}

QString JournalFolder::journalPath() const
{
    return QFile::decodeName(m_journal);
}
QString JournalFolder::previousPath() const
{
    return QFile::decodeName(m_previous);
}
QString JournalFolder::lockPath() const
{
    return QFile::decodeName(m_lock);
}

int JournalFolder::descriptor(struct stat *status) const
{
    ScopedFd fd;
    struct stat st
    {
    };
    switch (openChecked(m_journal, O_RDWR | O_APPEND | O_CREAT, fd, st)) {
    case Check::OpenFailed:
        throw HubError(QStringLiteral("Cannot open workspace event log."));
    case Check::Unsafe:
        throw HubError(QStringLiteral("Unsafe event log owner or type."));
    case Check::Ok:
        break;
    }
    // Setting a mode the file already has changes nothing but costs a journaled inode update.
    if ((st.st_mode & 07777) != 0600) {
        if (::fchmod(fd.get(), 0600) != 0)
            throw HubError(QStringLiteral("Cannot secure event log."));
        st.st_mode = (st.st_mode & ~mode_t(07777)) | 0600;
    }
    if (status)
        *status = st;
    return fd.release();
}

int JournalFolder::lockDescriptor() const
{
    ScopedFd fd;
    struct stat st
    {
    };
    switch (openChecked(m_lock, O_RDWR | O_CREAT, fd, st)) {
    case Check::OpenFailed:
        throw HubError(QStringLiteral("Cannot open event lock."));
    case Check::Unsafe:
        throw HubError(QStringLiteral("Unsafe event lock."));
    case Check::Ok:
        break;
    }
    return fd.release();
}

int JournalFolder::previousDescriptor(struct stat *status) const
{
    ScopedFd fd;
    struct stat st
    {
    };
    if (openChecked(m_previous, O_RDONLY, fd, st) != Check::Ok)
        return -1;
    if (status)
        *status = st;
    return fd.release();
}

bool JournalFolder::rotate() const
{
    return ::rename(m_journal.constData(), m_previous.constData()) == 0;
}

ScopedFileLock::ScopedFileLock(int fd, int operation) : m_fd(fd)
{
    while (::flock(m_fd.get(), operation) != 0) {
        if (errno != EINTR)
            throw HubError(QStringLiteral("Cannot lock event log."));
    }
}

ScopedFileLock::~ScopedFileLock()
{
    ::flock(m_fd.get(), LOCK_UN);
}
