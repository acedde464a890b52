#include "project/ProjectRoot.h"

#include "core/HubError.h"
#include "core/Utf8.h"
#include "platform/ChildProcess.h"

#include <QRandomGenerator>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
const QString kOutside = QStringLiteral("Project path is outside the permitted boundary or contains credentials.");
const QString kLeaves = QStringLiteral("Project symlink leaves the selected directory.");
const QString kTargetsProtected = QStringLiteral("Project symlink targets protected credentials or state.");
const QString kWritesRoot = QStringLiteral("Cannot write the project directory.");
const QString kCannotOpen = QStringLiteral("Cannot safely open the project file.");
const QString kNotRegular = QStringLiteral("File exceeds the 2 MiB limit or is not regular.");
const QString kNotText = QStringLiteral("File is oversized or is not UTF-8 text.");

// More links than this on one path is a loop; the rest of the path stays as written.
constexpr int kMaxLinks = 40;

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

int openat2Retrying(int directory, const char *path, int flags, mode_t mode)
{
    open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, directory, path, &how, sizeof how);
        if (fd >= 0)
            return int(fd);
        // EAGAIN: a rename elsewhere raced the beneath-check; the kernel asks to try again.
        if ((errno == EINTR || errno == EAGAIN) && attempt < 16)
            continue;
        return -1;
    }
}

QStringList split(QStringView path)
{
    QStringList parts;
    for (QStringView part : path.split(u'/', Qt::SkipEmptyParts))
        if (part != u".")
            parts.append(part.toString());
    return parts;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QString() : path.left(slash);
}

bool isLineOrControl(char32_t code)
{
    if ((code >= 0x0A && code <= 0x0D) || code == 0x85 || code == 0x2028 || code == 0x2029)
        return true;
    switch (QChar::category(code)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
        return true;
    default:
        return false;
    }
}
} // namespace

HubError ProjectRoot::systemError(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.endsWith(u'.'))
        text += u'.';
    return HubError(text);
}

ProjectRoot::ProjectRoot(QString path) : m_path(std::move(path))
{
    m_prefix = m_path.endsWith(u'/') ? m_path : m_path + u'/';
    m_descriptor = ::open(m_path.toUtf8().constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

ProjectRoot::~ProjectRoot()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool ProjectRoot::isProtectedName(QStringView component, bool write)
{
    static const std::array<QLatin1String, 9> equal = {
        QLatin1String(".git"),     QLatin1String(".ssh"),    QLatin1String(".aws"),   QLatin1String(".gnupg"),
        QLatin1String(".npmrc"),   QLatin1String(".pypirc"), QLatin1String(".netrc"), QLatin1String(".git-credentials"),
        QLatin1String(".htpasswd")};
    static const std::array<QLatin1String, 5> prefixes = {QLatin1String(".env"), QLatin1String("id_rsa"),
                                                          QLatin1String("id_dsa"), QLatin1String("id_ecdsa"),
                                                          QLatin1String("id_ed25519")};
    static const std::array<QLatin1String, 9> suffixes = {
        QLatin1String(".pem"), QLatin1String(".key"),     QLatin1String(".p12"),
        QLatin1String(".pfx"), QLatin1String(".jks"),     QLatin1String(".keystore"),
        QLatin1String(".ppk"), QLatin1String(".tfstate"), QLatin1String(".tfvars")};
    // Case folding: any spelling that lower-cases to a protected name is refused too.
    constexpr auto folded = Qt::CaseInsensitive;
    for (const auto &candidate : equal)
        if (component.compare(candidate, folded) == 0)
            return true;
    for (const auto &prefix : prefixes)
        if (component.startsWith(prefix, folded))
            return true;
    for (const auto &suffix : suffixes)
        if (component.endsWith(suffix, folded))
            return true;
    return write && component.compare(QLatin1String(".tavrilo"), folded) == 0;
}

bool ProjectRoot::isProtected(const QStringList &components, bool write)
{
    for (const QString &component : components)
        if (isProtectedName(component, write))
            return true;
    return false;
}

bool ProjectRoot::refusedName(QStringView name, bool first, bool write)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t code = name[i].unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        if (isLineOrControl(code))
            return true;
    }
    return name.contains(u'\\') || name.contains(u':') || (first && name.startsWith(u'~')) || name == u".." ||
           isProtectedName(name, write);
}

bool ProjectRoot::refusedText(QStringView path, bool write)
{
    if (path.startsWith(u'/'))
        return true;
    bool first = true;
    for (QStringView part : path.tokenize(u'/')) {
        if (refusedName(part, first, write))
            return true;
        first = false;
    }
    return false;
}

QString ProjectRoot::resolveLinks(QString resolved, QStringList pending) const
{
    int links = 0;
    bool missing = false;
    while (!pending.isEmpty()) {
        const QString component = pending.takeFirst();
        if (component == u"..") {
            resolved = parentOf(resolved);
            continue;
        }
        const QString candidate = resolved + u'/' + component;
        if (missing) {
            resolved = candidate;
            continue;
        }
        const QByteArray native = candidate.toUtf8();
        struct stat st;
        if (::lstat(native.constData(), &st) != 0) {
            // A component that is not there (or cannot be looked at) stays as written, and so does
            // the rest after it.
            missing = true;
            resolved = candidate;
            continue;
        }
        if (!S_ISLNK(st.st_mode)) {
            resolved = candidate;
            continue;
        }
        if (++links > kMaxLinks) {
            // A loop: the rest stays as written, and opening it fails later.
            missing = true;
            resolved = candidate;
            continue;
        }
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size()) {
            missing = true;
            resolved = candidate;
            continue;
        }
        target.truncate(qsizetype(length));
        const QString text = QString::fromUtf8(target);
        if (text.startsWith(u'/'))
            resolved.clear();
        pending = split(text) + pending;
    }
    return resolved.isEmpty() ? QStringLiteral("/") : resolved;
}

ProjectLocation ProjectRoot::inside(const QString &path, bool write) const
{
    if (refusedText(path, write))
        throw HubError(kOutside);
    const QString root = m_path == u"/" ? QString() : m_path;
    const QString candidate = resolveLinks(root, split(path));
    if (candidate != m_path && !candidate.startsWith(m_prefix))
        throw HubError(kLeaves);
    ProjectLocation location;
    location.path = candidate;
    location.relative = candidate == m_path ? QString() : candidate.mid(m_prefix.size());
    if (isProtected(location.relative.split(u'/', Qt::SkipEmptyParts), write))
        throw HubError(kTargetsProtected);
    if (write && location.relative.isEmpty())
        throw HubError(kWritesRoot);
    return location;
}

int ProjectRoot::openBeneath(const QString &relative, int flags, mode_t mode) const
{
    if (m_descriptor < 0) {
        errno = ENOENT;
        return -1;
    }
    const QByteArray native = relative.isEmpty() ? QByteArray(".") : relative.toUtf8();
    return openat2Retrying(m_descriptor, native.constData(), flags, mode);
}

bool ProjectRoot::isUtf8(const QByteArray &bytes)
{
    return utf8::isWellFormed(QByteArrayView(bytes));
}

QString ProjectRoot::read(const ProjectLocation &location, qint64 maximum) const
{
    Fd fd(openBeneath(location.relative, O_RDONLY | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0)
        throw HubError(kCannotOpen);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || st.st_size > maximum)
        throw HubError(kNotRegular);
    // One buffer per thread, kept between reads: a fresh one per read makes the heap grow and
    // shrink by the file's size every time, and giving memory back costs more than the read.
    thread_local std::vector<char> buffer;
    buffer.clear();
    // A file that grows meanwhile is read up to one byte past the cap, which is enough to refuse it.
    while (qint64(buffer.size()) <= maximum) {
        const size_t held = buffer.size();
        const qint64 want = std::min<qint64>(65536, maximum + 1 - qint64(held));
        buffer.resize(held + size_t(want));
        const ssize_t n = ::read(fd.get(), buffer.data() + held, size_t(want));
        buffer.resize(held + size_t(std::max<ssize_t>(n, 0)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw systemError(errno);
        }
        if (n == 0)
            break;
    }
    const QByteArray bytes = QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size()));
    if (bytes.size() > maximum || std::memchr(bytes.constData(), 0, size_t(bytes.size())) || !isUtf8(bytes))
        throw HubError(kNotText);
    return utf8text::decode(bytes);
}

std::optional<struct stat> ProjectRoot::status(const ProjectLocation &location) const
{
    Fd fd(openBeneath(location.relative, O_PATH | O_NOFOLLOW));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw HubError(kCannotOpen);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        throw systemError(errno);
    return st;
}

namespace
{
// Opens (creating when missing) each folder of `names` below `start`, one component at a time and
// never through a link; returns the last one. `mode` applies to the folders it creates.
int descend(int start, const QStringList &names, qsizetype count, mode_t mode, mode_t lastMode)
{
    Fd current(::fcntl(start, F_DUPFD_CLOEXEC, 0));
    if (current.get() < 0)
        throw ProjectRoot::systemError(errno);
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray name = names[i].toUtf8();
        int next = openat2Retrying(current.get(), name.constData(), O_PATH | O_DIRECTORY, 0);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(current.get(), name.constData(), i + 1 == count ? lastMode : mode) != 0 && errno != EEXIST)
                throw ProjectRoot::systemError(errno);
            next = openat2Retrying(current.get(), name.constData(), O_PATH | O_DIRECTORY, 0);
        }
        if (next < 0)
            throw ProjectRoot::systemError(errno);
        current.reset(next);
    }
    return current.release();
}
} // namespace

void ProjectRoot::createParents(const ProjectLocation &location) const
{
    if (m_descriptor < 0)
        throw systemError(ENOENT);
    const QStringList names = location.relative.split(u'/', Qt::SkipEmptyParts);
    Fd last(descend(m_descriptor, names, names.size() - 1, 0777, 0777));
}

void ProjectRoot::createDirectory(const ProjectLocation &location, mode_t mode) const
{
    if (m_descriptor < 0)
        throw systemError(ENOENT);
    const QStringList names = location.relative.split(u'/', Qt::SkipEmptyParts);
    Fd last(descend(m_descriptor, names, names.size(), mode, mode));
}

int ProjectRoot::openParent(const ProjectLocation &location, QString &name) const
{
    const qsizetype slash = location.relative.lastIndexOf(u'/');
    name = location.relative.mid(slash + 1);
    return openBeneath(slash < 0 ? QString() : location.relative.left(slash), O_PATH | O_DIRECTORY);
}

void ProjectRoot::replace(const ProjectLocation &location, const QByteArray &bytes, std::optional<mode_t> mode) const
{
    QString name;
    Fd parent(openParent(location, name));
    if (parent.get() < 0)
        throw systemError(errno);
    const QByteArray target = name.toUtf8();
    const QByteArray temporary =
        ".tavrilo-" + QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ".tmp";
    Fd file(::openat(parent.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.get() < 0)
        throw systemError(errno);
    auto fail = [&](int error) {
        ::unlinkat(parent.get(), temporary.constData(), 0);
        throw systemError(error);
    };
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(file.get(), bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        written += n;
    }
    if (mode && ::fchmod(file.get(), *mode) != 0)
        fail(errno);
    // The new bytes reach the disk before the name does, so a crash leaves the old file or the new
    // one, never an empty one.
    if (::fsync(file.get()) != 0)
        fail(errno);
    if (::close(file.release()) != 0)
        fail(errno);
    if (::renameat(parent.get(), temporary.constData(), parent.get(), target.constData()) != 0)
        fail(errno);
}

namespace
{
void removeBelow(int directory)
{
    DIR *stream = ::fdopendir(directory);
    if (!stream) {
        ::close(directory);
        return;
    }
    while (dirent *entry = ::readdir(stream)) {
        const char *name = entry->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        if (::unlinkat(::dirfd(stream), name, 0) == 0)
            continue;
        const int child = ::openat(::dirfd(stream), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) {
            removeBelow(child);
            ::unlinkat(::dirfd(stream), name, AT_REMOVEDIR);
        }
    }
    ::closedir(stream);
}
} // namespace

void ProjectRoot::removeTree(const ProjectLocation &location) const
{
    QString name;
    Fd parent(openParent(location, name));
    if (parent.get() < 0 || name.isEmpty())
        return;
    const QByteArray native = name.toUtf8();
    if (::unlinkat(parent.get(), native.constData(), 0) == 0)
        return;
    const int folder = ::openat(parent.get(), native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    removeBelow(folder);
    ::unlinkat(parent.get(), native.constData(), AT_REMOVEDIR);
}

int ProjectRoot::openDirectory(const QByteArray &relative) const
{
    if (m_descriptor < 0) {
        errno = ENOENT;
        return -1;
    }
    return openat2Retrying(m_descriptor, relative.isEmpty() ? "." : relative.constData(), O_RDONLY | O_DIRECTORY, 0);
}

int ProjectRoot::openDirectory(const ProjectLocation &location, const QString &failure) const
{
    const int fd = openBeneath(location.relative, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        throw HubError(failure);
    return fd;
}
