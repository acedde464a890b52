#include "project/NativeProjects.h"

#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "core/Json.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr qsizetype kMaxHistoryBytes = 32768;
constexpr qsizetype kMaxPathBytes = 4096;
constexpr qsizetype kKeptRows = 6;
// How far ahead of this computer's clock a recorded time may lie (another computer's clock).
constexpr qint64 kFutureSlackSeconds = 300;

HubError sentence(const char *text)
{
    return HubError(QString::fromUtf8(text));
}

HubError unsafeFile()
{
    return sentence("Local project history could not be read safely.");
}

HubError platformError(const char *action, const QString &path, int error)
{
    return HubError(QStringLiteral("Cannot %1 %2: %3.")
                        .arg(QLatin1StringView(action), path, QString::fromLocal8Bit(std::strerror(error))));
}

// The folder the user keeps application data in: $XDG_DATA_HOME when it is absolute, else
// ~/.local/share.
QString dataHome()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local/share"));
}

// Creates `path` and its missing parents with mode 0700, as the folder an application's data goes in.
void makePath(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    for (qsizetype slash = encoded.indexOf('/', 1); slash != -1; slash = encoded.indexOf('/', slash + 1))
        ::mkdir(encoded.left(slash).constData(), 0700);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
        throw platformError("create the folder", path, errno);
}

// One folder level of ours below the data home: created 0700 when missing, opened without following
// a link, and checked to be a folder of the user's.
ScopedFd openOwnLevel(int parent, const char *name, const QString &path)
{
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
        throw platformError("create the folder", path, errno);
    ScopedFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        struct stat st
        {
        };
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            throw sentence("Local project history must not redirect through a symbolic link.");
        throw platformError("open the folder", path, error);
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        throw platformError("read the attributes of", path, errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw unsafeFile();
    return fd;
}

struct HistoryFile
{
    ScopedFd folder; // "NativeProjects", opened without following links
    QByteArray name; // the file's name in that folder
    QString path;    // for sentences only
};

// Locates the history file and prepares its folder.
HistoryFile store(const QString &app, const QString &user, const QString &tenant)
{
    if (app.isEmpty() || user.isEmpty() || tenant.isEmpty())
        throw sentence("Recent projects require an authenticated workspace.");
    const QString name = NativeProjects::historyFileName(app, user, tenant);

    // The data home is where the user chose to keep data, links and all; below it nothing of ours
    // may be a link.
    const QString home = dataHome();
    makePath(home);
    const ScopedFd homeFd(::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!homeFd.valid())
        throw platformError("open the folder", home, errno);
    const QString tavrilo = home + QStringLiteral("/Tavrilo");
    const QString folder = tavrilo + QStringLiteral("/NativeProjects");
    const ScopedFd tavriloFd = openOwnLevel(homeFd.get(), "Tavrilo", tavrilo);
    ScopedFd folderFd = openOwnLevel(tavriloFd.get(), "NativeProjects", folder);
    if (::fchmod(folderFd.get(), 0700) != 0)
        throw platformError("set the permissions of", folder, errno);
    return {std::move(folderFd), QFile::encodeName(name), folder + QLatin1Char('/') + name};
}

// ISO 8601 with whole seconds and a zone, as the history is written ("2026-05-01T10:00:00Z").
std::optional<QDateTime> parseDate(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("\\A\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(?:Z|[+-]\\d{2}:\\d{2})\\z"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

QString formatDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

QList<NativeRecentProject> decodeRows(const QByteArray &bytes)
{
    const std::optional<Json> document = json::tryParse(bytes);
    if (!document || !document->is_array())
        throw HubError(json::decodingErrorSentence());
    QList<NativeRecentProject> rows;
    for (const Json &element : *document) {
        const std::optional<QString> directory =
            element.is_object() ? json::string(element, "directory") : std::nullopt;
        const std::optional<QString> openedAt = element.is_object() ? json::string(element, "openedAt") : std::nullopt;
        const std::optional<QDateTime> date = openedAt ? parseDate(*openedAt) : std::nullopt;
        if (!directory || !date)
            throw HubError(json::decodingErrorSentence());
        rows.append({*directory, *date});
    }
    return rows;
}

QByteArray encodeRows(const QList<NativeRecentProject> &rows)
{
    Json array = Json::array();
    for (const NativeRecentProject &row : rows)
        array.push_back(
            {{"directory", json::toStd(row.directory)}, {"openedAt", json::toStd(formatDate(row.openedAt))}});
    return json::dump(array);
}

// The file's bytes, or nothing when no file is there. Only a regular file of the user's, opened
// without following a link and at most kMaxHistoryBytes long, is read.
std::optional<QByteArray> readHistory(const HistoryFile &file)
{
    struct stat st
    {
    };
    // A dangling link counts as no file: it is replaced, not followed, by the next write.
    if (::fstatat(file.folder.get(), file.name.constData(), &st, 0) != 0)
        return std::nullopt;
    if (::fstatat(file.folder.get(), file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kMaxHistoryBytes || st.st_uid != ::getuid())
        throw unsafeFile();
    // Non-blocking: whatever was swapped in since the check must not hang the open.
    const ScopedFd fd(
        ::openat(file.folder.get(), file.name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        throw sentence("Local project history could not be opened safely.");
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
        throw unsafeFile();

    QByteArray bytes(kMaxHistoryBytes + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw platformError("read", file.path, errno);
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > kMaxHistoryBytes)
        throw sentence("Local project history exceeds its limit.");
    bytes.truncate(filled);
    return bytes;
}

// Replaces the file whole: a complete 0600 file of ours is renamed over the old one.
void writeHistory(const HistoryFile &file, const QByteArray &bytes)
{
    const QByteArray temporary =
        '.' + file.name + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    ScopedFd fd(
        ::openat(file.folder.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        throw platformError("write", file.path, errno);
    const auto fail = [&](int error) {
        ::unlinkat(file.folder.get(), temporary.constData(), 0);
        return platformError("write", file.path, error);
    };
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw fail(errno);
        written += n;
    }
    // The mode is set on the descriptor: the process's umask may have taken bits off it.
    if (::fchmod(fd.get(), 0600) != 0 || ::fsync(fd.get()) != 0)
        throw fail(errno);
    fd.reset();
    if (::renameat(file.folder.get(), temporary.constData(), file.folder.get(), file.name.constData()) != 0)
        throw fail(errno);
}

std::optional<QString> resolvedPath(const QByteArray &path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    return QFile::decodeName(resolved.get());
}

// The rows that still name project folders, with their links resolved; a folder named twice keeps
// its first row.
QList<NativeRecentProject> validRows(const QList<NativeRecentProject> &rows, const QDateTime &now)
{
    const QDateTime latest = now.addSecs(kFutureSlackSeconds);
    QList<NativeRecentProject> kept;
    QSet<QString> taken;
    for (const NativeRecentProject &row : rows) {
        const QByteArray path = QFile::encodeName(row.directory);
        if (!row.directory.startsWith(QLatin1Char('/')) || row.directory.toUtf8().size() > kMaxPathBytes ||
            row.openedAt > latest)
            continue;
        struct stat st
        {
        };
        if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        const std::optional<QString> resolved = resolvedPath(path);
        if (!resolved || taken.contains(*resolved))
            continue;
        taken.insert(*resolved);
        kept.append({*resolved, row.openedAt});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const NativeRecentProject &a, const NativeRecentProject &b) {
        return a.openedAt > b.openedAt;
    });
    return kept;
}

// The folder to record, with its links resolved like every row of the history.
QString recordedFolder(const QString &directory)
{
    const HubError notAFolder = sentence("Recent projects must be existing directories.");
    const QByteArray path = QFile::encodeName(directory);
    if (directory.toUtf8().size() > kMaxPathBytes)
        throw notAFolder;
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw notAFolder;
        throw platformError("examine", directory, errno);
    }
    if (!S_ISDIR(st.st_mode))
        throw notAFolder;
    const std::optional<QString> resolved = resolvedPath(path);
    if (!resolved)
        throw platformError("examine", directory, errno);
    if (resolved->toUtf8().size() > kMaxPathBytes)
        throw notAFolder;
    return *resolved;
}
} // namespace

QString NativeProjects::historyFileName(const QString &app, const QString &user, const QString &tenant)
{
    QByteArray text = json::dump(Json::array({json::toStd(app), json::toStd(user), json::toStd(tenant)}));
    // A "/" only occurs inside the strings, where the escaped form is what the name was made from.
    text.replace("/", "\\/");
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()) +
           QStringLiteral(".json");
}

QList<NativeRecentProject> NativeProjects::recent(const QString &app, const QString &user, const QString &tenant,
                                                  const std::optional<QString> &recording)
{
    const HistoryFile file = store(app, user, tenant);
    const std::optional<QByteArray> bytes = readHistory(file);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<NativeRecentProject> rows = validRows(bytes ? decodeRows(*bytes) : QList<NativeRecentProject>(), now);

    if (recording) {
        const QString folder = recordedFolder(*recording);
        rows.removeIf([&](const NativeRecentProject &row) { return row.directory == folder; });
        // Whole seconds: the time as it is written and read back.
        rows.prepend({folder, QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), Qt::UTC)});
    }
    if (rows.size() > kKeptRows)
        rows.resize(kKeptRows);

    if (recording) {
        const QByteArray encoded = encodeRows(rows);
        if (encoded.size() > kMaxHistoryBytes)
            throw sentence("Local project history exceeds its limit.");
        writeHistory(file, encoded);
    }
    return rows;
}
