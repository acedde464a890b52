#include "headless/HubEntry.h"

#include "LockHolder.h"
#include "core/JournalFolder.h"
#include "support/StandIn.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>
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

// The export runs its checks on the offscreen platform whatever the environment or the toolkit's
// own options ask for, and a refusal before the render leaves nothing in the output folder.
TEST_F(ExportProcess, ARefusedDocumentStopsBeforeTheRender)
{
    start({"--dump-frames", "out", "--capture-document", "../outside.txt", "-platform", "xcb"});
    const auto [status, line] = finish();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(line, "Frame dump failed: Capture documents must belong to the selected project.\n");
    EXPECT_FALSE(QFileInfo::exists(project.filePath("out")));
}

// A credential descriptor that is a regular file is refused by the live profile: the run cleans up
// and publishes nothing, not even the output folder's first frame.
TEST_F(ExportProcess, ARefusedCredentialPublishesNothing)
{
    QFile credentials(project.filePath("credentials.json"));
    ASSERT_TRUE(credentials.open(QIODevice::WriteOnly));
    credentials.write("{}");
    credentials.close();
    const int file = ::open(QFile::encodeName(credentials.fileName()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    hub.setChildProcessModifier([file] { ::dup2(file, 47); });
    start({"--dump-frames", "--output", project.filePath("out"), "--live-profile", project.path(),
           "--capture-session-fd", "47"});
    ::close(file);
    const auto [status, line] = finish();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(line, "Frame dump failed: Capture credentials must arrive over an owned private pipe, never a file or "
                    "terminal.\n");
    EXPECT_FALSE(QFileInfo::exists(project.filePath("out")));
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

// A whole capture against the stand-in platform: credentials handed over on a private pipe, a live
// turn observed while its specialists use the browser and the build shell, both proven, eight
// frames published with their manifest, and no window at any time.
TEST_F(ExportProcess, CapturesALiveTurnEndToEnd)
{
    QFile scenarioFile(QStringLiteral(HUB_CAPTURE_SCENARIO));
    ASSERT_TRUE(scenarioFile.open(QIODevice::ReadOnly));
    StandIn standin(json::parse(scenarioFile.readAll()));
    const StandIn::ControlReply minted = standin.control("POST", "/_standin/captureCredential?client_id=client");
    ASSERT_EQ(minted.status, 200) << minted.body.toStdString();

    QProcessEnvironment environment = hub.processEnvironment();
    environment.insert("https_proxy", standin.proxyUrl().toString());
    environment.insert("SSL_CERT_FILE", standin.caPath());
    environment.insert("TAVRILO_COGNITO_USER_POOL_ID", "us-east-1_StandIn");
    environment.insert("PATH", QCoreApplication::applicationDirPath() + ':' + environment.value("PATH"));
    hub.setProcessEnvironment(environment);

    // The credentials arrive on descriptor 47 of the hub, a pipe only the test writes to.
    constexpr int kDescriptor = 47;
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    hub.setChildProcessModifier([readEnd = ends[0]] { ::dup2(readEnd, kDescriptor); });
    const QString session = "capture-session-" + QUuid::createUuid().toString(QUuid::Id128);
    const QString output = project.filePath("frames");
    start({"--dump-frames", "--output", output, "--live-profile", project.path(), "--live-session", session,
           "--capture-session-fd", QString::number(kDescriptor), "--capture-tools", "browser,shell",
           "--capture-specialists", "2", "--capture-seconds", "30"});
    ::close(ends[0]);
    // Kept from every child of the hub before the hub reads it.
    const QString fdinfo = QStringLiteral("/proc/%1/fdinfo/%2").arg(hub.processId()).arg(kDescriptor);
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile info(fdinfo);
            if (!info.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : info.readAll().split('\n')) {
                if (line.startsWith("flags:"))
                    return (line.mid(6).trimmed().toLongLong(nullptr, 8) & O_CLOEXEC) != 0;
            }
            return false;
        },
        5s));
    ASSERT_EQ(::write(ends[1], minted.body.constData(), size_t(minted.body.size())), ssize_t(minted.body.size()));
    ::close(ends[1]);

    EXPECT_TRUE(hub.waitForFinished(120000));
    const QByteArray out = hub.readAllStandardOutput();
    const QByteArray err = hub.readAllStandardError();
    ASSERT_EQ(hub.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("LIVE_CAPTURE_SUBSCRIPTION_READY\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("Rendered 8 shared-production Qt Quick frames at 2880\xc3\x97"
                             "1800, OpenGL: "))
        << out.toStdString();
    EXPECT_FALSE(err.contains("CAPTURE_WINDOW_GUARD")) << err.toStdString();

    QFile manifestFile(output + "/manifest.json");
    ASSERT_TRUE(manifestFile.open(QIODevice::ReadOnly));
    const Json manifest = json::parse(manifestFile.readAll());
    EXPECT_EQ(manifest.size(), 26U);
    for (const char *key : {"liveProfile", "observingExistingSession", "cloudConnected", "shellRoundTripVerified",
                            "browserSessionPixelsCaptured", "cleanupAwaited", "layoutMutationVerified"})
        EXPECT_EQ(manifest[key], true) << key;
    for (const char *key : {"windowCreated", "becameFrontmost", "pixelFidelityVerified"})
        EXPECT_EQ(manifest[key], false) << key;
    EXPECT_EQ(manifest["visibleWindowCount"], 0);
    EXPECT_GE(manifest["liveFramesReceived"].get<int>(), 12);
    ASSERT_EQ(manifest["frames"].size(), 8U);
    for (const Json &frame : manifest["frames"]) {
        const QString file = json::toQString(frame["file"]);
        EXPECT_EQ(QFileInfo(file).path(), output);
        QFile png(file);
        ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << file.toStdString();
        EXPECT_EQ(frame["sha256"],
                  QCryptographicHash::hash(png.readAll(), QCryptographicHash::Sha256).toHex().toStdString());
        EXPECT_EQ(frame["pixelWidth"], 2880);
    }
    // The live frames were taken while the turn ran; the gates frame once it had ended.
    EXPECT_EQ(manifest["frames"][2]["activeSpecialists"].get<int>() >= 2, true);
    EXPECT_EQ(manifest["frames"][4]["terminalCode"], "TURN_COMPLETED");
    EXPECT_EQ(manifest["frames"][4]["turnId"], "turn-capture-1");
    // Nothing but the published generation is left in the output folder.
    EXPECT_EQ(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 9);

    // Read back by the hub's own vision command: the working screen of a connected session, and no
    // copy defect. The command reports the first 64 text blocks, row by row from the top, so the
    // texts looked for are near the top of the frame.
    QProcess vision;
    vision.start(QCoreApplication::applicationDirPath() + "/tavrilo-hub",
                 {"--vision-analyze", output + "/02-workspace-overview.png"});
    ASSERT_TRUE(vision.waitForFinished(120000));
    const Json report = json::parse(vision.readAllStandardOutput().trimmed());
    QStringList texts;
    for (const Json &block : report.value("ocrBlocks", Json::array()))
        texts << json::toQString(block.value("text", std::string()));
    for (const char *text : {"Signed in", "Workforce", "Events"})
        EXPECT_TRUE(texts.join(' ').contains(QString::fromUtf8(text))) << texts.join(" | ").toStdString();
    EXPECT_EQ(report["copyQuality"]["issues"], Json::array());

    // The platform saw the shell proof and the browser capture, and the session's tools closed.
    const std::vector<Json> log = standin.logEntries().entries;
    const auto logged = [&](const char *kind, const char *event) {
        return std::any_of(log.begin(), log.end(), [&](const Json &entry) {
            return entry.value("kind", "") == kind && entry.value("event", "") == event;
        });
    };
    EXPECT_TRUE(logged("liveBrowser", "capture"));
    EXPECT_TRUE(logged("buildShell", "release"));
}
} // namespace
