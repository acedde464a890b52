// The actor: WorkspaceLog's coroutine operations run on its own executor and are awaited from the
// main thread's event loop; their failures reach the awaiting coroutine.
#include "WorkspaceLogTestSupport.h"

#include "core/WorkspaceLog.h"

#include <QThread>

using namespace journaltest;
using testsupport::awaitFor;

namespace
{
class WorkspaceLogTest : public JournalFixture
{
protected:
    HubConfiguration configuration() const
    {
        HubConfiguration c({{QStringLiteral("TAVRILO_APP_ID"), appID}});
        c.tenantID = kTenant;
        return c;
    }
};

TEST_F(WorkspaceLogTest, AppendsAndReadsThroughTheActor)
{
    WorkspaceLog log(configuration());
    EXPECT_EQ(log.directory(), directory);
    awaitFor(log.append(QStringLiteral("workspace.connected"), {{QStringLiteral("k"), QStringLiteral("v")}}));
    const WorkspaceEvent big = eventOfSize(100000);
    awaitFor(log.appendEvent(big));
    awaitFor(log.appendFrame(frameOfSize(20000, 7)));
    awaitFor(
        log.appendFrame(Json::parse(R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","seq":1,"kind":"json"})")));
    const JournalDeltas d = awaitFor(log.readDeltas());
    ASSERT_EQ(d.events.size(), 4u);
    EXPECT_EQ(d.events[0].kind, QStringLiteral("workspace.connected"));
    EXPECT_EQ(d.events[1].encode(), big.encode());
    EXPECT_EQ(d.events[2].kind, QStringLiteral("text"));
    EXPECT_EQ(d.events[3].kind, QStringLiteral("json"));
    EXPECT_TRUE(awaitFor(log.readDeltas()).events.empty());
}

TEST_F(WorkspaceLogTest, FailuresReachTheAwaitingCoroutine)
{
    WorkspaceLog log(configuration());
    EXPECT_EQ(sentenceOf([&] { awaitFor(log.appendFrame(QByteArray(16777217, 'x'))); }),
              QStringLiteral("Frame exceeds journal reassembly capacity."));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), journal()));
    EXPECT_EQ(sentenceOf([&] { awaitFor(log.append(QStringLiteral("x"), {})); }),
              QStringLiteral("Cannot open workspace event log."));
    EXPECT_EQ(sentenceOf([&] { awaitFor(log.readDeltas()); }), QStringLiteral("Cannot open workspace event log."));
}

TEST_F(WorkspaceLogTest, UnsafeFolderFailsTheInitialiser)
{
    QDir().mkpath(tmpBase() + QStringLiteral("/tavrilo"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/"), directory));
    EXPECT_EQ(sentenceOf([&] { WorkspaceLog log(configuration()); }),
              QStringLiteral("Unsafe shared workspace directory: ") + directory);
    QFile::remove(directory);
}

// Two instances of one application id in one process share the journal like two processes do.
TEST_F(WorkspaceLogTest, InstancesOfOneAppShareTheJournal)
{
    WorkspaceLog writer(configuration());
    WorkspaceLog reader(configuration());
    awaitFor(reader.readDeltas());
    awaitFor(writer.append(QStringLiteral("shared"), {}));
    const JournalDeltas d = awaitFor(reader.readDeltas());
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].kind, QStringLiteral("shared"));
}

// Calls queued on the actor run in order; the main thread never blocks on them.
TEST_F(WorkspaceLogTest, QueuedCallsRunInOrder)
{
    WorkspaceLog log(configuration());
    std::vector<QCoro::Task<void>> tasks;
    for (int i = 0; i < 50; ++i)
        tasks.push_back(log.append(QStringLiteral("n"), {{QStringLiteral("i"), QString::number(i)}}));
    for (auto &t : tasks)
        awaitFor(std::move(t));
    const JournalDeltas d = awaitFor(log.readDeltas());
    ASSERT_EQ(d.events.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(d.events[size_t(i)].payload.value(QStringLiteral("i")), QString::number(i));
}
} // namespace
