// The event journal against bare system calls, in one run.
//
// Append: JournalWriter (what WorkspaceLog runs on its executor) against two baselines writing the
// same bytes: "held" keeps both descriptors open and does flock + write + unlock; "reopened" opens
// the lock file and the journal for every batch as the journal must (open, flock, open, write,
// close, unlock, close). The "faults" counter is the minor page faults per iteration: fresh buffers
// of a large batch are paid for in faults, reused ones are not. Read: JournalReader::readDeltas()
// from a fresh reader over a full 24 MiB journal against a bare read in 1 MiB buffers with a line
// split; the "Fresh" pair runs each read as the first call of a new process (the bench starts
// itself once per iteration), which is what the window's first poll pays.
//
// Ratios: compare each BM_Journal* line with the BM_Baseline* line of the same argument.
#include "core/HubConfiguration.h"
#include "core/JournalFolder.h"
#include "core/JournalLimits.h"
#include "core/JournalLineDecoder.h"
#include "core/JournalReader.h"
#include "core/JournalWriter.h"
#include "core/WorkspaceLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/resource.h>
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

// Minor page faults of the calling thread so far.
long minorFaults()
{
    struct rusage usage
    {
    };
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
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
    const long faults = minorFaults();
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
    state.counters["faults"] = benchmark::Counter(double(minorFaults() - faults), benchmark::Counter::kAvgIterations);
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
    const long faults = minorFaults();
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
    state.counters["faults"] = benchmark::Counter(double(minorFaults() - faults), benchmark::Counter::kAvgIterations);
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

// The coroutine road of the window: WorkspaceLog awaited from the main thread's event loop, the
// work done on the actor's own thread. Faults are counted for the whole process.
void BM_WorkspaceLogAppend(benchmark::State &state)
{
    const auto kind = Kind(state.range(0));
    const QString appID = benchAppID("actor");
    HubConfiguration configuration({{QStringLiteral("TAVRILO_APP_ID"), appID}});
    configuration.tenantID = kTenant;
    auto log = std::make_unique<WorkspaceLog>(configuration);
    const EventPayload payload{{QStringLiteral("path"), QStringLiteral("/home/user/project/README.md")}};
    const QByteArray frame = frameOfSize(kind == Kind::Frame1M ? 1048576 : 7000, 1);
    struct rusage usage
    {
    };
    ::getrusage(RUSAGE_SELF, &usage);
    const long faults = usage.ru_minflt;
    for (auto _ : state) {
        bool done = false;
        [](WorkspaceLog &l, Kind k, EventPayload p, QByteArray f, bool &d) -> QCoro::Task<void> {
            if (k == Kind::Small)
                co_await l.append(QStringLiteral("document.opened"), std::move(p));
            else
                co_await l.appendFrame(std::move(f));
            d = true;
        }(*log, kind, payload, frame, done);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["faults"] = benchmark::Counter(double(usage.ru_minflt - faults), benchmark::Counter::kAvgIterations);
    const QString directory = log->directory();
    log.reset();
    QDir(directory).removeRecursively();
}

// The general JSON parser with its depth cap (what frame projection and unusual lines go through)
// against nlohmann's own parser without one, on a 7000-byte frame and on a small record.
QByteArray smallRecord()
{
    return R"({"id":"0A1B2C3D-0A1B-0A1B-0A1B-0A1B2C3D4E5F","timestamp":"2026-12-09T08:26:13Z","app_id":"app",)"
           R"("tenant_id":"tenant-bench","kind":"tool.end","payload":{"agent":"builder","seq":"12"}})";
}

void BM_JsonParse(benchmark::State &state)
{
    const QByteArray text = state.range(0) ? frameOfSize(7000, 1) : smallRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(json::tryParse(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_BaselineJsonParse(benchmark::State &state)
{
    const QByteArray text = state.range(0) ? frameOfSize(7000, 1) : smallRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(Json::parse(text.constData(), text.constData() + text.size(), nullptr, false));
    state.SetBytesProcessed(state.iterations() * text.size());
}

// One journal line into a record: the one-pass decoder the reader uses against the general road
// (the JSON parser, then the record decoder), which gives the same result.
void BM_LineDecodeOnePass(benchmark::State &state)
{
    const QByteArray line = smallRecord();
    JournalLineDecoder decoder(QStringLiteral("app"), kTenant);
    for (auto _ : state)
        benchmark::DoNotOptimize(decoder.decode(std::string_view(line.constData(), size_t(line.size()))));
    state.SetBytesProcessed(state.iterations() * line.size());
}

void BM_LineDecodeGeneral(benchmark::State &state)
{
    const QByteArray line = smallRecord();
    for (auto _ : state) {
        const auto json = json::tryParse(line);
        benchmark::DoNotOptimize(WorkspaceEvent::decode(*json));
    }
    state.SetBytesProcessed(state.iterations() * line.size());
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
    // A warm heap: what one iteration frees stays with the process for the next, whatever glibc's
    // adaptive thresholds would decide from the sizes freed so far. This measures the reading
    // itself; the fresh-process pair below measures a first call, fresh pages included.
    ::mallopt(M_MMAP_THRESHOLD, 256 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    Folder f("read");
    fillJournal(f, Fill(state.range(0)));
    size_t events = 0;
    const long faults = minorFaults();
    for (auto _ : state) {
        JournalReader reader(f.folder, f.appID, kTenant);
        events = reader.readDeltas().events.size();
        benchmark::DoNotOptimize(events);
    }
    state.counters["faults"] = benchmark::Counter(double(minorFaults() - faults), benchmark::Counter::kAvgIterations);
    state.counters["events"] = double(events);
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.folder.journalPath()).size());
}

// The floor of any reader: the file in 1 MiB reads, split at line feeds, nothing decoded.
size_t bareRead(const QByteArray &path, char *buffer)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    size_t lines = 0;
    QByteArray remainder;
    ssize_t n;
    while ((n = ::read(fd, buffer, size_t(journal::kReadBuffer))) > 0) {
        const char *p = buffer;
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
    return lines;
}

void BM_BaselineReadFull(benchmark::State &state)
{
    Folder f("bareread");
    fillJournal(f, Fill(state.range(0)));
    const QByteArray path = QFile::encodeName(f.folder.journalPath());
    const auto buffer = std::make_unique<char[]>(size_t(journal::kReadBuffer));
    size_t lines = 0;
    for (auto _ : state) {
        lines = bareRead(path, buffer.get());
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = double(lines);
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.folder.journalPath()).size());
}

// One read in a new process: "<bench> --fresh-read journal|bare <app id>" prints the nanoseconds
// of that one call.
constexpr char kFreshRead[] = "--fresh-read";

int freshRead(const char *what, const char *appID)
{
    const QString app = QString::fromUtf8(appID);
    const JournalFolder folder = JournalFolder::setUp(app);
    const bool bare = std::strcmp(what, "bare") == 0;
    const long faults = minorFaults();
    const auto cpuStart = std::clock();
    const auto start = std::chrono::steady_clock::now();
    size_t count;
    JournalDeltas deltas; // freed after the measurement: the caller's merging frees it
    if (bare) {
        const auto buffer = std::make_unique<char[]>(size_t(journal::kReadBuffer));
        count = bareRead(QFile::encodeName(folder.journalPath()), buffer.get());
    } else {
        JournalReader reader(folder, app, kTenant);
        deltas = reader.readDeltas();
        count = deltas.events.size();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf("%lld %zu %ld %.6f\n", static_cast<long long>(std::chrono::nanoseconds(elapsed).count()), count,
                minorFaults() - faults, cpu);
    return 0;
}

void freshReads(benchmark::State &state, const char *what)
{
    Folder f(what);
    fillJournal(f, Fill(state.range(0)));
    const QByteArray command = "/proc/" + QByteArray::number(::getpid()) + "/exe " + kFreshRead + ' ' + what + ' ' +
                               f.appID.toUtf8();
    long long count = 0;
    long long faults = 0;
    double cpu = 0;
    for (auto _ : state) {
        FILE *child = ::popen(command.constData(), "r");
        long long nanoseconds = -1;
        long long childFaults = 0;
        double childCpu = 0;
        if (!child ||
            std::fscanf(child, "%lld %lld %lld %lf", &nanoseconds, &count, &childFaults, &childCpu) != 4 ||
            ::pclose(child) != 0) {
            state.SkipWithError("the reading process failed");
            break;
        }
        faults += childFaults;
        cpu += childCpu;
        state.SetIterationTime(double(nanoseconds) / 1e9);
    }
    state.counters["records"] = double(count);
    // Faults of the reading thread; processor time of all threads of the reading process.
    state.counters["faults"] = benchmark::Counter(double(faults), benchmark::Counter::kAvgIterations);
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.folder.journalPath()).size());
}

void BM_JournalReadFullFresh(benchmark::State &state)
{
    freshReads(state, "journal");
}
void BM_BaselineReadFullFresh(benchmark::State &state)
{
    freshReads(state, "bare");
}
} // namespace

// Arguments: 0 small event, 1 frame of 7000 bytes, 2 frame of 1 MiB.
BENCHMARK(BM_JournalAppend)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineAppendHeld)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineAppendReopened)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkspaceLogAppend)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);
// Arguments: 0 small events, 1 "session.frame" records of 7000-byte frames, 2 slices of 1 MiB frames.
// Arguments: 0 small record, 1 frame of 7000 bytes.
BENCHMARK(BM_JsonParse)->DenseRange(0, 1);
BENCHMARK(BM_BaselineJsonParse)->DenseRange(0, 1);
BENCHMARK(BM_LineDecodeOnePass);
BENCHMARK(BM_LineDecodeGeneral);
BENCHMARK(BM_JournalReadFull)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadFull)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JournalReadFullFresh)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadFullFresh)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], kFreshRead) == 0)
        return freshRead(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
