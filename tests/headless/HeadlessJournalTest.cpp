#include "headless/HeadlessFrames.h"

#include "LockHolder.h"
#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using testsupport::awaitFor;
using testsupport::waitUntil;
using testsupport::writeFile;

QByteArray record(const QString &id, const QString &app = "app")
{
    return WorkspaceEvent{id, "2026-12-09T08:26:13Z", app, "tenant", "kind", {{"k", "v"}}}.encode();
}

std::vector<QString> ids(const std::vector<WorkspaceEvent> &events)
{
    std::vector<QString> out;
    for (const auto &event : events)
        out.push_back(event.id);
    return out;
}

// The lines of a journal's tail and what becomes of each.
TEST(JournalTail, TurnsTheLastFiveLinesIntoEvents)
{
    struct Case
    {
        const char *name;
        QByteArray window;
        qint64 offset;
        std::vector<QString> want;
    };
    QByteArray eight;
    for (int i = 0; i < 8; ++i)
        eight += record(QString::number(i)) + '\n';
    const QByteArray longest = R"({"agent":")" + QByteArray(16384 - 12, 'a') + R"("})";
    const QByteArray tooLong = R"({"agent":")" + QByteArray(16385 - 12, 'a') + R"("})";
    ASSERT_EQ(longest.size(), 16384);
    const Case cases[] = {
        {"empty", "", 0, {}},
        {"the last five of eight", eight, 0, {"3", "4", "5", "6", "7"}},
        {"empty lines are not lines", record("a") + "\n\n\n" + record("b") + "\n\n", 0, {"a", "b"}},
        {"a window inside a line drops its tail",
         QByteArray(R"(d","kind":"x","payload":{}})") + '\n' + record("b") + '\n',
         10,
         {"b"}},
        {"a window cut inside an object drops even a decodable tail",
         "{\"agent\":\"x\"}\n" + record("b") + '\n',
         10,
         {"b"}},
        {"a window that starts on a line keeps it", "\n" + record("a") + '\n', 10, {"a"}},
        {"a window of one cut line holds nothing", record("a"), 10, {}},
        {"other application ids come back unchanged", record("x", "elsewhere") + '\n', 0, {"x"}},
        {"a plain object becomes an event numbered among the five",
         "{\"agent\":\"builder\",\"note\":\"hi\"}\n",
         0,
         {"journal-0"}},
        {"16,384 bytes are decoded", longest + '\n', 0, {"journal-0"}},
        {"16,385 bytes are not", tooLong + '\n', 0, {}},
        {"neither record nor object", "[1,2]\nnot json\n" + record("z") + '\n', 0, {"z"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ids(HeadlessFrames::journalEvents(c.window, c.offset, "app")), c.want) << c.name;
}

TEST(JournalTail, BuildsEventsFromPlainObjects)
{
    const auto events = HeadlessFrames::journalEvents(
        "{}\n{\"track\":\"release\",\"timestamp\":\"noon\",\"n\":3}\n{\"agent\":\"builder\",\"track\":\"t\"}\n", 0,
        "app");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].id, "journal-0");
    EXPECT_EQ(events[0].kind, "coordination");
    EXPECT_EQ(events[0].timestamp, "Local journal");
    EXPECT_EQ(events[0].appID, "app");
    EXPECT_EQ(events[0].tenantID, "");
    EXPECT_EQ(events[1].kind, "release");
    EXPECT_EQ(events[1].timestamp, "noon");
    EXPECT_EQ(events[1].payload, (EventPayload{{"track", "release"}, {"timestamp", "noon"}, {"n", "3.0"}}));
    EXPECT_EQ(events[2].id, "journal-2");
    EXPECT_EQ(events[2].kind, "builder");
}

class JournalRead : public ::testing::Test
{
protected:
    QTemporaryDir base;
    JournalFolder folder = JournalFolder::setUp(base.path(), "app");

    std::vector<WorkspaceEvent> read(std::chrono::milliseconds patience = 5s, CancelToken token = {})
    {
        return awaitFor(HeadlessFrames::readJournal(folder, "app", patience, token), 20s);
    }
    QString readError(std::chrono::milliseconds patience = 5s, CancelToken token = {})
    {
        try {
            read(patience, std::move(token));
        } catch (const HubError &error) {
            return error.description();
        } catch (const CancelledError &) {
            return "cancelled";
        }
        return {};
    }
    void lockFile() { writeFile(folder.lockPath(), ""); }
};

TEST_F(JournalRead, ReadsTheTailOfALargeJournal)
{
    lockFile();
    QByteArray journal;
    int n = 0;
    while (journal.size() < 200'000)
        journal += record(QString::number(n++)) + '\n';
    writeFile(folder.journalPath(), journal);
    std::vector<QString> want;
    for (int i = n - 5; i < n; ++i)
        want.push_back(QString::number(i));
    EXPECT_EQ(ids(read()), want);
}

TEST_F(JournalRead, NothingWithoutTheLockFileOrTheJournal)
{
    writeFile(folder.journalPath(), record("a") + '\n');
    EXPECT_TRUE(read().empty());
    lockFile();
    QFile::remove(folder.journalPath());
    EXPECT_TRUE(read().empty());
}

// What stands in place of the journal's files is never followed and never waited on.
TEST_F(JournalRead, RefusesWhatIsNoRegularFileOfOursWithoutHanging)
{
    const QString elsewhere = base.filePath("elsewhere.jsonl");
    writeFile(elsewhere, record("secret") + '\n');

    lockFile();
    ASSERT_TRUE(QFile::link(elsewhere, folder.journalPath()));
    EXPECT_TRUE(read().empty()) << "a link to a journal is no journal";
    QFile::remove(folder.journalPath());

    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.journalPath()).constData(), 0600), 0);
    EXPECT_EQ(readError(), "Unsafe event log owner or type.");
    QFile::remove(folder.journalPath());

    QFile::remove(folder.lockPath());
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.lockPath()).constData(), 0600), 0);
    EXPECT_EQ(readError(), "Unsafe event lock.");
    QFile::remove(folder.lockPath());

    ASSERT_TRUE(QFile::link(elsewhere, folder.lockPath()));
    writeFile(folder.journalPath(), record("a") + '\n');
    EXPECT_TRUE(read().empty()) << "a link to a lock is no lock";
}

TEST_F(JournalRead, RefusesFilesOfAnotherUser)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "a file of another user can only be made as root";
    lockFile();
    writeFile(folder.journalPath(), record("a") + '\n');
    ASSERT_EQ(::chown(QFile::encodeName(folder.journalPath()).constData(), 65534, 65534), 0);
    EXPECT_EQ(readError(), "Unsafe event log owner or type.");
    ASSERT_EQ(::chown(QFile::encodeName(folder.lockPath()).constData(), 65534, 65534), 0);
    EXPECT_EQ(readError(), "Unsafe event lock.");
    // And a journal folder of another user is refused before anything in it is opened.
    ASSERT_EQ(::chown(QFile::encodeName(folder.directory()).constData(), 65534, 65534), 0);
    EXPECT_THROW(JournalFolder::setUp(base.path(), "app"), HubError);
}

// A writer of another process that holds the journal's lock and does not let go.
class HeldJournal : public JournalRead
{
protected:
    QProcess holder;

    void SetUp() override
    {
        writeFile(folder.journalPath(), record("a") + '\n');
        ASSERT_NO_FATAL_FAILURE(startLockHolder(holder, folder.directory()));
    }
    void TearDown() override
    {
        holder.closeWriteChannel();
        holder.waitForFinished(5000);
    }
};

TEST_F(HeldJournal, GivesUpAtItsDeadline)
{
    EXPECT_EQ(readError(300ms), "Cannot lock shared journal for frame export.");
    // Once the writer lets go, the same read succeeds.
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_EQ(ids(read()), std::vector<QString>{"a"});
}

TEST_F(HeldJournal, ACancellationEndsTheWaitAtOnce)
{
    CancelSource source;
    QString got;
    bool done = false;
    auto drive = [&]() -> QCoro::Task<void> {
        try {
            co_await HeadlessFrames::readJournal(folder, "app", 10min, source.token());
            got = "read";
        } catch (const CancelledError &) {
            got = "cancelled";
        } catch (const HubError &error) {
            got = error.description();
        }
        done = true;
    };
    auto task = drive();
    // The reader ran up to its first pause: the lock was refused and it waits to try again.
    EXPECT_FALSE(done);
    source.cancel();
    // Far sooner than the ten minutes it would otherwise wait.
    ASSERT_TRUE(waitUntil([&] { return done; }, 5s));
    EXPECT_EQ(got, "cancelled");
}
} // namespace
