#include "headless/HubEntry.h"

#include "LockHolder.h"
#include "core/JournalFolder.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

namespace
{
using testsupport::waitUntil;

TEST(HubEntry, PicksTheModeByWholeArguments)
{
    struct Case
    {
        std::vector<const char *> arguments;
        HubEntry::Mode want;
    };
    const Case cases[] = {
        {{"hub"}, HubEntry::Mode::Window},
        {{"hub", "--vision-analyze", "--dump-frames"}, HubEntry::Mode::Vision},
        {{"hub", "--dump-frames", "x", "--vision-analyze"}, HubEntry::Mode::Vision},
        {{"hub", "--dump-frames"}, HubEntry::Mode::Export},
        {{"hub", "--live-profile", "p"}, HubEntry::Mode::Export},
        {{"hub", "--capture-session-fd", "3"}, HubEntry::Mode::Export},
        {{"hub", "--dump-frames=out"}, HubEntry::Mode::Window},
        {{"hub", "--dump-framesx", "--output", "o"}, HubEntry::Mode::Window},
        {{"--dump-frames"}, HubEntry::Mode::Window},
        {{"hub", "--live-session", "s", "--capture-tools", "shell"}, HubEntry::Mode::Window},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(HubEntry::mode(int(c.arguments.size()), c.arguments.data()), c.want)
            << (c.arguments.size() > 1 ? c.arguments[1] : "(none)");
    }
}

// The program itself, as a user runs it.
class ExportProcess : public ::testing::Test
{
protected:
    QTemporaryDir project;
    QString appID = "hubexport-" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QProcess hub;

    void SetUp() override
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TAVRILO_APP_ID", appID);
        environment.insert("TAVRILO_WORKSPACE_ROOT", project.path());
        environment.insert("TAVRILO_COGNITO_CLIENT_ID", "client");
        environment.insert("TAVRILO_REDIRECT_URI", "tavrilo-code://auth/callback");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        hub.setProcessEnvironment(environment);
        hub.setWorkingDirectory(project.path());
    }
    void TearDown() override { QDir("/tmp/tavrilo/" + appID).removeRecursively(); }

    void start(const QStringList &arguments)
    {
        hub.start(QCoreApplication::applicationDirPath() + "/tavrilo-hub", arguments);
        ASSERT_TRUE(hub.waitForStarted(10000));
    }
    // The exit status and the lines of standard error that are the hub's own (the toolkit may
    // warn about the environment first).
    std::pair<int, QByteArray> finish()
    {
        EXPECT_TRUE(hub.waitForFinished(60000));
        EXPECT_EQ(hub.exitStatus(), QProcess::NormalExit);
        QByteArray own;
        for (const QByteArray &line : hub.readAllStandardError().split('\n')) {
            if (line.startsWith("Frame dump"))
                own += line + '\n';
        }
        return {hub.exitCode(), own};
    }
};

TEST_F(ExportProcess, ARefusedOptionIsOneLineAndStatusOne)
{
    struct Case
    {
        QStringList arguments;
        QByteArray line;
    };
    const Case cases[] = {
        {{"--capture-session-fd", "2"},
         "Frame dump failed: --capture-session-fd requires --dump-frames, --live-profile and a private descriptor "
         "numbered at least 3.\n"},
        {{"--dump-frames", "--output"}, "Frame dump failed: Missing value for --output\n"},
        {{"--dump-frames", "--output", "--live-profile", "p"}, "Frame dump failed: Missing value for --output\n"},
    };
    for (const Case &c : cases) {
        start(c.arguments);
        const auto [status, line] = finish();
        EXPECT_EQ(status, 1) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line, c.line);
    }
    EXPECT_FALSE(QFileInfo::exists(project.filePath("--live-profile")));
}

// The export runs its checks and its stage on the offscreen platform whatever the environment or
// the toolkit's own options ask for, and leaves no stage behind when it cannot render.
TEST_F(ExportProcess, StopsCleanlyWhereFramesWouldBeRendered)
{
    start({"--dump-frames", "out", "-platform", "xcb"});
    const auto [status, line] = finish();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(line.startsWith("Frame dump failed: Frames cannot be exported yet")) << line.toStdString();
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_TRUE(QFileInfo(project.filePath("out")).isDir());
    EXPECT_EQ(QDir(project.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// SIGTERM while the export waits for a writer of another process: the export ends at once as
// cancelled, with its one line and status 1, rather than dying or waiting out its patience.
TEST_F(ExportProcess, ASignalCancelsTheExport)
{
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        const JournalFolder folder = JournalFolder::setUp(appID);
        QProcess holder;
        ASSERT_NO_FATAL_FAILURE(startLockHolder(holder, folder.directory()));

        start({"--dump-frames", project.filePath("out")});
        // The export holds the lock file open while it waits for the lock.
        const QString descriptors = QStringLiteral("/proc/%1/fd").arg(hub.processId());
        ASSERT_TRUE(waitUntil(
            [&] {
                const QDir fds(descriptors);
                for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                    if (QFile::symLinkTarget(fds.filePath(fd)) == folder.lockPath())
                        return true;
                }
                return false;
            },
            20s));
        ::kill(pid_t(hub.processId()), signalNumber);
        const auto [status, line] = finish();
        EXPECT_EQ(status, 1);
        EXPECT_EQ(line, "Frame dump failed: The operation was cancelled.\n");
        holder.closeWriteChannel();
        holder.waitForFinished(5000);
    }
}
} // namespace
