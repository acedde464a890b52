// The event journal against bare system calls, in one run.
//
// Append: JournalWriter (what WorkspaceLog runs on its executor) against two baselines writing the
// same bytes: "held" keeps both descriptors open and does flock + write + unlock; "reopened" opens
// the lock file and the journal for every batch as the journal must (open, flock, open, write,
// close, unlock, close). Read: JournalReader::readDeltas() from a fresh reader over a full 24 MiB
// journal against a bare read in 1 MiB buffers with a line split.
//
// Ratios: compare each BM_Journal* line with the BM_Baseline* line of the same argument.
#include "core/HubConfiguration.h"
#include "core/JournalFolder.h"
#include "core/JournalLimits.h"
#include "core/JournalReader.h"
#include "core/JournalWriter.h"
#include "core/WorkspaceLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
const QString kTenant = QStringLiteral("tenant-bench");

QString benchAppID(const char *what)
{
    return QStringLiteral("bench-%1-%2").arg(::getpid()).arg(QLatin1String(what));
}

// A journal folder of its own, removed at the end.
struct Folder
{
    explicit Folder(const char *what) : appID(benchAppID(what)), folder(JournalFolder::setUp(appID)) {}
    ~Folder() { QDir(folder.directory()).removeRecursively(); }
    QString appID;
    JournalFolder folder;
};

QByteArray frameOfSize(qsizetype size, qint64 seq)
{
    const QByteArray head = R"({"v":1,"ts":"2026-12-09T08:26:13Z","turnId":"turn-1","seq":)" + QByteArray::number(seq) +
                            R"(,"sessionId":"session-1","tenantId":"tenant-bench","agent":"builder","kind":"text",)"
                            R"("payload":{"text":")";
    const QByteArray tail = "\"}}";
    QByteArray body(size - head.size() - tail.size(), 'y');
    // Some text that needs escaping, as model output has.
    for (qsizetype i = 40; i < body.size(); i += 80)
        body[i] = ' ';
    return head + body + tail;
}

enum class Kind { Small, Frame7K, Frame1M };

std::vector<QByteArray> recordsOf(const JournalWriter &writer, Kind kind)
{
    switch (kind) {
    case Kind::Small: {
        WorkspaceEvent e{WorkspaceEvent::newID(),
                         WorkspaceEvent::now(),
                         writer.folder().directory().section(u'/', -1),
                         kTenant,
                         QStringLiteral("document.opened"),
                         {{QStringLiteral("path"), QStringLiteral("/home/user/project/README.md")}}};
        return JournalWriter::eventRecords(e);
    }
    case Kind::Frame7K:
        return writer.frameRecords(frameOfSize(7000, 1));
    case Kind::Frame1M:
        return writer.frameRecords(frameOfSize(1048576, 1));
    }
    return {};
}

qint64 totalBytes(const std::vector<QByteArray> &records)
{
    qint64 n = 0;
    for (const auto &r : records)
        n += r.size() + 1;
    return n;
}

void BM_JournalAppend(benchmark::State &state)
{
    const auto kind = Kind(state.range(0));
    Folder f("append");
    const JournalWriter writer(f.folder, f.appID, kTenant);
    const QByteArray frame7k = frameOfSize(7000, 1);
    const QByteArray frame1m = frameOfSize(1048576, 1);
    const EventPayload payload{{QStringLiteral("path"), QStringLiteral("/home/user/project/README.md")}};
    for (auto _ : state) {
        switch (kind) {
        case Kind::Small:
            writer.append(QStringLiteral("document.opened"), payload);
            break;
        case Kind::Frame7K:
            writer.appendFrame(frame7k);
            break;
        case Kind::Frame1M:
            writer.appendFrame(frame1m);
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes(recordsOf(writer, kind)));
}

// The same bytes with a bare flock + write; the file is cut back at the journal's rotation size
// so both sides write into files of the same sizes.
void baseline(benchmark::State &state, bool reopen)
{
    const auto kind = Kind(state.range(0));
    Folder f(reopen ? "reopened" : "held");
    const JournalWriter writer(f.folder, f.appID, kTenant);
    const auto records = recordsOf(writer, kind);
    QByteArray batch;
    for (const auto &r : records)
        batch += r + '\n';
    const QByteArray lockPath = QFile::encodeName(f.folder.lockPath());
    const QByteArray journalPath = QFile::encodeName(f.folder.journalPath());
    const auto openLock = [&] { return ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); };
    const auto openJournal = [&] {
        return ::open(journalPath.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    };
    int lock = reopen ? -1 : openLock();
    int fd = reopen ? -1 : openJournal();
    qint64 size = 0;
    for (auto _ : state) {
        if (reopen)
            lock = openLock();
        ::flock(lock, LOCK_EX);
        if (reopen)
            fd = openJournal();
        if (size + batch.size() > journal::kJournalLimit) {
            ::ftruncate(fd, 0);
            size = 0;
        }
        if (::write(fd, batch.constData(), size_t(batch.size())) != batch.size())
            state.SkipWithError("write failed");
        size += batch.size();
        if (reopen)
            ::close(fd);
        ::flock(lock, LOCK_UN);
        if (reopen)
            ::close(lock);
    }
    if (!reopen) {
        ::close(fd);
        ::close(lock);
    }
    state.SetBytesProcessed(state.iterations() * batch.size());
}

void BM_BaselineAppendHeld(benchmark::State &state)
{
    baseline(state, false);
}
void BM_BaselineAppendReopened(benchmark::State &state)
{
    baseline(state, true);
}

// The coroutine road of the window: WorkspaceLog::append awaited from the main thread's event loop.
void BM_WorkspaceLogAppendSmall(benchmark::State &state)
{
    const QString appID = benchAppID("actor");
    HubConfiguration configuration({{QStringLiteral("TAVRILO_APP_ID"), appID}});
    configuration.tenantID = kTenant;
    auto log = std::make_unique<WorkspaceLog>(configuration);
    const EventPayload payload{{QStringLiteral("path"), QStringLiteral("/home/user/project/README.md")}};
    for (auto _ : state) {
        bool done = false;
        [](WorkspaceLog &l, EventPayload p, bool &d) -> QCoro::Task<void> {
            co_await l.append(QStringLiteral("document.opened"), std::move(p));
            d = true;
        }(*log, payload, done);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const QString directory = log->directory();
    log.reset();
    QDir(directory).removeRecursively();
}

// A full journal: records of one kind up to just under 24 MiB.
enum class Fill { Small, Frame7K, Slices };

void fillJournal(const Folder &f, Fill fill)
{
    const JournalWriter writer(f.folder, f.appID, kTenant);
    std::vector<QByteArray> batch;
    qint64 size = 0;
    for (qint64 seq = 0;; ++seq) {
        std::vector<QByteArray> records;
        switch (fill) {
        case Fill::Small:
            records = JournalWriter::eventRecords(WorkspaceEvent{
                WorkspaceEvent::newID(),
                WorkspaceEvent::now(),
                f.appID,
                kTenant,
                QStringLiteral("tool.end"),
                {{QStringLiteral("seq"), QString::number(seq)}, {QStringLiteral("agent"), QStringLiteral("builder")}}});
            break;
        case Fill::Frame7K:
            records = writer.frameRecords(frameOfSize(7000, seq));
            break;
        case Fill::Slices:
            records = writer.frameRecords(frameOfSize(1048576, seq));
            break;
        }
        const qint64 more = totalBytes(records);
        if (size + more > journal::kJournalLimit)
            break;
        size += more;
        for (auto &r : records)
            batch.push_back(std::move(r));
    }
    writer.writeLines(batch);
}

void BM_JournalReadFull(benchmark::State &state)
{
    Folder f("read");
    fillJournal(f, Fill(state.range(0)));
    size_t events = 0;
    for (auto _ : state) {
        JournalReader reader(f.folder, f.appID, kTenant);
        events = reader.readDeltas().events.size();
        benchmark::DoNotOptimize(events);
    }
    state.counters["events"] = double(events);
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.folder.journalPath()).size());
}

void BM_BaselineReadFull(benchmark::State &state)
{
    Folder f("bareread");
    fillJournal(f, Fill(state.range(0)));
    const QByteArray path = QFile::encodeName(f.folder.journalPath());
    const auto buffer = std::make_unique<char[]>(size_t(journal::kReadBuffer));
    size_t lines = 0;
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        lines = 0;
        QByteArray remainder;
        ssize_t n;
        while ((n = ::read(fd, buffer.get(), size_t(journal::kReadBuffer))) > 0) {
            const char *p = buffer.get();
            const char *end = p + n;
            while (const auto *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)))) {
                if (!remainder.isEmpty())
                    remainder.clear();
                ++lines;
                p = lf + 1;
            }
            remainder.append(p, end - p);
        }
        ::close(fd);
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = double(lines);
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.folder.journalPath()).size());
}
} // namespace

// Arguments: 0 small event, 1 frame of 7000 bytes, 2 frame of 1 MiB.
BENCHMARK(BM_JournalAppend)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineAppendHeld)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineAppendReopened)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkspaceLogAppendSmall)->Unit(benchmark::kMicrosecond);
// Arguments: 0 small events, 1 "session.frame" records of 7000-byte frames, 2 slices of 1 MiB frames.
BENCHMARK(BM_JournalReadFull)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadFull)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
