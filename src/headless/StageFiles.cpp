#include "headless/StageFiles.h"

#include "core/HubError.h"
#include "core/RegularFile.h"
#include "core/ScopedFd.h"
#include "headless/WriteLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
HubError failure(const char *what, const QString &path, int error)
{
    return HubError(QStringLiteral("Cannot %1 %2: %3.")
                        .arg(QLatin1StringView(what), path, QString::fromLocal8Bit(std::strerror(error))));
}

class SystemStageFiles final : public StageFiles
{
public:
    void makeFolders(const QString &path) override
    {
        // QDir::mkpath says no more than true or false; the system's reason comes from mkdir.
        QString partial;
        for (const QString &part : QDir::cleanPath(path).split(QLatin1Char('/'))) {
            partial += part.isEmpty() && partial.isEmpty() ? QStringLiteral("/") : part + QLatin1Char('/');
            if (part.isEmpty())
                continue;
            const QByteArray name = QFile::encodeName(partial);
            if (::mkdir(name.constData(), 0777) != 0 && errno != EEXIST)
                throw failure("create the folder", partial, errno);
        }
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            throw failure("create the folder", path, errno);
        if (!S_ISDIR(st.st_mode))
            throw failure("create the folder", path, ENOTDIR);
    }

    void makeFolder(const QString &path, bool ownerOnly) override
    {
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), ownerOnly ? 0700 : 0777) != 0)
            throw failure("create the folder", path, errno);
        // 0700 even under a umask that would take the owner's own rights away.
        if (ownerOnly && ::chmod(name.constData(), 0700) != 0)
            throw failure("set the permissions of", path, errno);
    }

    bool exists(const QString &path) override
    {
        struct stat st
        {
        };
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    }

    QByteArray read(const QString &path) override
    {
        RegularFile file = RegularFile::open(QFile::encodeName(path), O_RDONLY | O_NOFOLLOW);
        if (file.status() == RegularFile::Status::NotRegular)
            throw failure("read", path, EINVAL);
        if (!file.opened())
            throw failure("read", path, file.error());
        const std::optional<QByteArray> bytes = file.read(std::numeric_limits<qint64>::max());
        if (!bytes)
            throw failure("read", path, file.error());
        return *bytes;
    }

    void writeNew(const QString &path, const QByteArray &bytes) override
    {
        ScopedFd fd(
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd.valid())
            throw failure("write", path, errno);
        if (!writeAll(fd.get(), bytes))
            throw failure("write", path, errno);
        if (::fsync(fd.get()) != 0)
            throw failure("write", path, errno);
        if (::close(fd.release()) != 0)
            throw failure("write", path, errno);
    }

    void rename(const QString &from, const QString &to) override
    {
        if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
            throw failure("replace", to, errno);
    }

    void syncFolder(const QString &path) override
    {
        ScopedFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.valid() || ::fsync(fd.get()) != 0)
            throw failure("flush the folder", path, errno);
    }

    void remove(const QString &path) override
    {
        if (::unlink(QFile::encodeName(path).constData()) != 0)
            throw failure("remove", path, errno);
    }

    void removeTree(const QString &path) noexcept override
    {
        // Depth first, physical: a link inside is removed itself, never what it points to.
        ::nftw(
            QFile::encodeName(path).constData(),
            [](const char *entry, const struct stat *, int type, struct FTW *) {
                if (type == FTW_DP)
                    ::rmdir(entry);
                else
                    ::unlink(entry);
                return 0;
            },
            16, FTW_DEPTH | FTW_PHYS);
    }
};
} // namespace

StageFiles &StageFiles::system()
{
    static SystemStageFiles files;
    return files;
}

void StageFiles::writeAtomically(const QString &target, const QByteArray &bytes, const std::function<void()> &replaced)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    const QString temporary = folder + QStringLiteral("/.") + info.fileName() + QLatin1Char('.') +
                              QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".tmp");
    try {
        writeNew(temporary, bytes);
        rename(temporary, target);
    } catch (const HubError &) {
        if (exists(temporary)) {
            try {
                remove(temporary);
            } catch (const HubError &) {
            }
        }
        throw;
    }
    if (replaced)
        replaced();
    syncFolder(folder);
}
