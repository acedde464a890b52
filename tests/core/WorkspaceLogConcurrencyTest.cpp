// The journal across processes: two writer processes append at the same time while this
// process reads; every record arrives exactly once, whole and in each writer's order, across a
// rotation.
#include "WorkspaceLogTestSupport.h"

#include <QCoreApplication>

#include <map>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

using namespace journaltest;

namespace
{
using ConcurrencyTest = JournalFixture;

// Per writer: 10 events of 1 MiB, about 13.5 MiB on disk; 27 MiB together, so exactly one rotation.
// Only one previous generation is kept: a reader that falls a whole generation behind (two
// rotations between its reads, which a busy machine can cause when the writers keep winning the
// lock) loses the records in between by design, so the volume stays below a second rotation.
constexpr int kRecords = 1000;

pid_t spawnWriter(const QString &appID, const char *writer)
{
    const QByteArray program =
        QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/journal_writer_process"));
    const QByteArray app = appID.toUtf8();
    const QByteArray tenant = kTenant.toUtf8();
    const QByteArray count = QByteArray::number(kRecords);
    char *args[] = {const_cast<char *>(program.constData()), const_cast<char *>(app.constData()),
                    const_cast<char *>(tenant.constData()),  const_cast<char *>(writer),
                    const_cast<char *>(count.constData()),   nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, program.constData(), nullptr, nullptr, args, environ), 0);
    return pid;
}

QByteArray expectedFill(const QString &writer, int seq, qsizetype size)
{
    const QByteArray unit = writer.toUtf8() + '.' + QByteArray::number(seq) + ';';
    QByteArray out;
    while (out.size() < size)
        out += unit;
    out.truncate(size);
    return out;
}

TEST_F(ConcurrencyTest, TwoWritersAndAReaderAcrossARotation)
{
    JournalReader r = reader();
    r.readDeltas();
    const pid_t a = spawnWriter(appID, "A");
    const pid_t b = spawnWriter(appID, "B");
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);

    std::map<QString, std::vector<int>> seen;
    QStringList problems;
    int rotations = 0;
    std::optional<quint64> inode;
    int running = 2;
    int statusA = -1, statusB = -1;
    const auto take = [&] {
        const JournalDeltas d = r.readDeltas();
        problems += d.problems;
        if (inode && r.inode() != inode)
            ++rotations;
        inode = r.inode();
        for (const WorkspaceEvent &e : d.events) {
            const QString writer = e.payload.value(QStringLiteral("writer"));
            const int seq = e.payload.value(QStringLiteral("seq")).toInt();
            const int n = seq % 100;
            const qsizetype size = n == 50 ? 1048576 : n == 75 ? 40000 : seq % 10 == 5 ? 300 : 40;
            EXPECT_EQ(e.kind, n == 50                    ? QStringLiteral("big")
                              : n == 75 || seq % 10 == 5 ? QStringLiteral("frame")
                                                         : QStringLiteral("small"));
            // Whole: the fill is exactly what the writer wrote for this record.
            EXPECT_EQ(e.payload.value(QStringLiteral("fill")).toUtf8(), expectedFill(writer, seq, size))
                << writer.toStdString() << " " << seq;
            seen[writer].push_back(seq);
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (running > 0 && std::chrono::steady_clock::now() < deadline) {
        take();
        for (auto [pid, status] : {std::pair{a, &statusA}, std::pair{b, &statusB}}) {
            if (*status == -1 && ::waitpid(pid, status, WNOHANG) == pid)
                --running;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(running, 0) << "writers did not finish in time";
    take();
    EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
    EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u' ').toStdString();
    EXPECT_GE(rotations, 1);
    RecordProperty("rotations", rotations);
    EXPECT_TRUE(QFile::exists(previous()));

    std::vector<int> all(kRecords);
    for (int i = 0; i < kRecords; ++i)
        all[size_t(i)] = i;
    EXPECT_EQ(seen[QStringLiteral("A")], all);
    EXPECT_EQ(seen[QStringLiteral("B")], all);
    EXPECT_EQ(seen.size(), 2u);
}
} // namespace
