#include "platform/ReadConfinement.h"

#include "core/ScopedFd.h"
#include "platform/ChildProcess.h"

#include <QHash>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace readconfinement
{
namespace
{
constexpr __u64 kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr __u64 kHandled = kRead | LANDLOCK_ACCESS_FS_EXECUTE;

[[noreturn]] void refuse(int error)
{
    throw ChildProcessError(ChildProcessError::Stage::isolation, error);
}

void allow(int ruleset, int target, __u64 access)
{
    landlock_path_beneath_attr rule = {};
    rule.allowed_access = access;
    rule.parent_fd = target;
    if (::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
        refuse(errno);
}

void allowFile(int ruleset, const QString &path, __u64 access)
{
    const ScopedFd file(::open(path.toUtf8().constData(), O_PATH | O_CLOEXEC));
    if (file.get() < 0)
        refuse(errno);
    allow(ruleset, file.get(), access);
}

struct Known
{
    dev_t device;
    ino_t inode;
    timespec modified;
    QStringList files;
};
} // namespace

bool available()
{
    static const bool supported =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) >= 1;
    return supported;
}

QStringList programFiles(const QString &program)
{
    struct stat st;
    if (::stat(program.toUtf8().constData(), &st) != 0)
        throw ChildProcessError(ChildProcessError::Stage::spawn, errno);
    static std::mutex mutex;
    static QHash<QString, Known> known;
    {
        const std::lock_guard lock(mutex);
        const auto found = known.constFind(program);
        if (found != known.constEnd() && found->device == st.st_dev && found->inode == st.st_ino &&
            found->modified.tv_sec == st.st_mtim.tv_sec && found->modified.tv_nsec == st.st_mtim.tv_nsec)
            return found->files;
    }
    // The loader lists what it would map and exits without running the program. A program that
    // is not dynamically linked needs nothing but itself; its answer lists no file.
    ChildProcess::Options options;
    options.program = program;
    options.environment = {QByteArrayLiteral("LD_TRACE_LOADED_OBJECTS=1")};
    options.errors = ChildProcess::ErrorOutput::discarded;
    options.deadline = std::chrono::seconds(10);
    const ChildProcess::Result result = ChildProcess::run(options);
    QStringList files{program};
    for (const QByteArray &line : result.output.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const qsizetype arrow = trimmed.indexOf("=> ");
        QByteArray path = arrow >= 0 ? trimmed.mid(arrow + 3) : trimmed;
        const qsizetype address = path.lastIndexOf(" (0x");
        if (address >= 0)
            path.truncate(address);
        if (path.startsWith('/'))
            files.append(QString::fromUtf8(path));
    }
    const std::lock_guard lock(mutex);
    known.insert(program, Known{st.st_dev, st.st_ino, st.st_mtim, files});
    return files;
}

void confine(int directory, const QStringList &programs)
{
    landlock_ruleset_attr attributes = {};
    attributes.handled_access_fs = kHandled;
    const ScopedFd ruleset(int(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
    if (ruleset.get() < 0)
        refuse(errno);
    allow(ruleset.get(), directory, kRead);
    for (const QString &program : programs)
        allowFile(ruleset.get(), program, LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_EXECUTE);
    allowFile(ruleset.get(), QStringLiteral("/dev/null"), LANDLOCK_ACCESS_FS_READ_FILE);
    // Required before a thread without privileges may restrict itself; it also keeps a set-id
    // program from gaining what the restriction took away.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        refuse(errno);
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        refuse(errno);
}
} // namespace readconfinement
