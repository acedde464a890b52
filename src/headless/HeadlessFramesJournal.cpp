#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "core/JSONValue.h"
#include "core/JournalFolder.h"
#include "core/RegularFile.h"
#include "core/ScopedFd.h"
#include "core/async/Sleep.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
using namespace std::chrono_literals;
constexpr auto kLockRetry = 50ms;

uid_t currentUser()
{
    static const uid_t uid = ::getuid();
    return uid;
}

enum class Opened { File, Missing };

// Opens a journal file for reading without following a link and without waiting on what stands in
// its place. Missing (or a link): nothing to read. Another type or owner: refused.
Opened openJournalFile(const QString &path, const QString &unsafe, ScopedFd &out)
{
    RegularFile file = RegularFile::open(QFile::encodeName(path), O_RDONLY | O_NOFOLLOW);
    if (file.status() == RegularFile::Status::OpenFailed)
        return Opened::Missing;
    if (!file.opened() || file.info().st_uid != currentUser())
        throw HubError(unsafe);
    out.reset(file.release());
    return Opened::File;
}

HubError readFailed(int error)
{
    return HubError(QStringLiteral("Cannot read the shared journal for frame export: %1.")
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
}

QByteArray readTail(int fd, qint64 &offset)
{
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0)
        throw readFailed(errno);
    // One byte before the window tells whether its first line starts with it.
    const qint64 start = std::max<qint64>(0, qint64(size) - HeadlessFrames::kJournalWindow);
    offset = start > 0 ? start - 1 : 0;
    if (::lseek(fd, off_t(offset), SEEK_SET) < 0)
        throw readFailed(errno);
    QByteArray bytes(qsizetype(qint64(size) - offset), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw readFailed(errno);
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

std::optional<WorkspaceEvent> eventOf(const QByteArray &line, int number, const QString &appID)
{
    if (line.size() > HeadlessFrames::kJournalLineLimit)
        return std::nullopt;
    if (auto record = WorkspaceEvent::decode(line))
        return record;
    JSONValue value;
    try {
        value = JSONValue::decode(line);
    } catch (const HubError &) {
        return std::nullopt;
    }
    const JSONValue::Object *object = value.object();
    if (!object)
        return std::nullopt;
    const auto text = [&](const char *key) -> std::optional<QString> {
        const auto it = object->find(QString::fromLatin1(key));
        return it == object->end() ? std::nullopt : std::optional(it->second.text());
    };
    WorkspaceEvent event;
    event.id = QStringLiteral("journal-") + QString::number(number);
    event.timestamp = text("timestamp").value_or(QStringLiteral("Local journal"));
    event.appID = appID;
    event.kind = text("agent").value_or(text("track").value_or(QStringLiteral("coordination")));
    for (const auto &[key, member] : *object)
        event.payload.insert(key, member.text());
    return event;
}
} // namespace

std::vector<WorkspaceEvent> HeadlessFrames::journalEvents(const QByteArray &window, qint64 offset, const QString &appID)
{
    QByteArrayView bytes(window);
    // A window that starts inside the file begins with the rest of a line whose start it cut off:
    // never a record, and possibly a fragment that parses as something else.
    if (offset > 0) {
        const qsizetype end = bytes.indexOf('\n');
        bytes = end < 0 ? QByteArrayView() : bytes.sliced(end + 1);
    }
    QList<QByteArray> lines;
    for (const QByteArrayView line : QByteArray(bytes.toByteArray()).split('\n')) {
        if (!line.isEmpty())
            lines.append(line.toByteArray());
    }
    const qsizetype first = std::max<qsizetype>(0, lines.size() - kJournalLines);
    std::vector<WorkspaceEvent> events;
    for (qsizetype i = first; i < lines.size(); ++i) {
        if (auto event = eventOf(lines[i], int(i - first), appID))
            events.push_back(std::move(*event));
    }
    return events;
}

QCoro::Task<std::vector<WorkspaceEvent>> HeadlessFrames::readJournal(QString appID, CancelToken token)
{
    JournalFolder folder = JournalFolder::setUp(appID);
    co_return co_await readJournal(std::move(folder), std::move(appID), kJournalLockPatience, std::move(token));
}

QCoro::Task<std::vector<WorkspaceEvent>>
HeadlessFrames::readJournal(JournalFolder folder, QString appID, std::chrono::milliseconds patience, CancelToken token)
{
    ScopedFd lock;
    if (openJournalFile(folder.lockPath(), QStringLiteral("Unsafe event lock."), lock) == Opened::Missing)
        co_return std::vector<WorkspaceEvent>{};
    // A writer holds the lock only for an append or a rotation; one that is stuck must not hold the
    // export for good, and a stop must not wait for it.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        token.throwIfCancelled();
        if (::flock(lock.get(), LOCK_SH | LOCK_NB) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            throw HubError(QStringLiteral("Cannot lock shared journal for frame export."));
        co_await sleepFor(kLockRetry, token);
    }
    ScopedFd journal;
    QByteArray window;
    qint64 offset = 0;
    // Closing the lock's descriptor releases the lock on every way out.
    if (openJournalFile(folder.journalPath(), QStringLiteral("Unsafe event log owner or type."), journal) ==
        Opened::File)
        window = readTail(journal.get(), offset);
    ::flock(lock.get(), LOCK_UN);
    co_return journalEvents(window, offset, appID);
}
