// Runs the real executable: exit statuses, the one line on standard output and the silence on
// standard error are properties of the process, not of a function.
#include "RenderedText.h"
#include "support/TestSupport.h"

#include "core/Json.h"
#include "vision/NativeVisionCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
    Json json() const
    {
        auto parsed = json::tryParse(out.trimmed());
        return parsed ? *parsed : Json();
    }
};

QString hubProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-hub");
}

Outcome runProgram(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProgram(program);
    process.setArguments(arguments);
    process.start();
    Outcome outcome;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

Outcome run(const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return runProgram(hubProgram(), arguments, environment);
}

// Every output is one line, ending in a line feed, and standard error stays empty.
void expectOneCleanLine(const Outcome &o)
{
    EXPECT_TRUE(o.out.endsWith('\n')) << o.out.toStdString();
    EXPECT_EQ(o.out.count('\n'), 1) << o.out.toStdString();
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
}

const QByteArray kUsageLine =
    R"({"error":"Usage: tavrilo-hub --vision-analyze <image-path> [--fast] [--previous-feature-print <base64>]","ok":false})"
    "\n";

class VisionCommand : public testing::Test
{
protected:
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString shot() const
    {
        const QString file = path("shot.png");
        if (!QFile::exists(file))
            testsupport::writeFile(file,
                                   renderedtext::png({480, 100}, {{QStringLiteral("Release notes"), {20, 25}, 32}}));
        return file;
    }
    QTemporaryDir m_dir;
};

TEST_F(VisionCommand, WithoutAnImagePathPrintsUsageAndExitsTwo)
{
    for (const QStringList &arguments : {QStringList{QStringLiteral("--vision-analyze")},
                                         QStringList{QStringLiteral("--fast"), QStringLiteral("--vision-analyze")}}) {
        const Outcome o = run(arguments);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out, kUsageLine);
        EXPECT_TRUE(o.err.isEmpty());
    }
}

struct FailureCase
{
    const char *name;
    const char *file; // made by the fixture
    const char *sentence;
};

class VisionCommandFailures : public VisionCommand, public testing::WithParamInterface<FailureCase>
{
};

TEST_P(VisionCommandFailures, ExitOneWithTheFailureObject)
{
    testsupport::writeFile(path("empty.png"), {});
    testsupport::writeFile(path("text.png"), "not an image");
    testsupport::writeFile(path("truncated.png"),
                           shot().isEmpty() ? QByteArray() : testsupport::readFile(shot()).left(200));
    testsupport::writeFile(path("garbage.jpg"), QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(3000, '\x7F'));
    QDir(m_dir.path()).mkdir(QStringLiteral("folder"));

    const Outcome o = run({QStringLiteral("--vision-analyze"), path(GetParam().file)});
    EXPECT_EQ(o.status, 1);
    expectOneCleanLine(o);
    const Json j = o.json();
    EXPECT_EQ(j, (Json{{"ok", false}, {"error", GetParam().sentence}})) << o.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Vision, VisionCommandFailures,
    testing::Values(FailureCase{"Missing", "missing.png",
                                "The file \u201Cmissing.png\u201D couldn\u2019t be opened: No such file or directory."},
                    FailureCase{"Empty", "empty.png", "Vision input must be a regular image file up to 20 MiB."},
                    FailureCase{"Directory", "folder", "Vision input must be a regular image file up to 20 MiB."},
                    FailureCase{"NotAnImage", "text.png", "QImageReader could not decode preview frame."},
                    FailureCase{"TruncatedPng", "truncated.png", "QImageReader could not decode preview frame."},
                    FailureCase{"GarbageJpeg", "garbage.jpg", "QImageReader could not decode preview frame."}),
    [](const testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

TEST_F(VisionCommand, ReportsAndExitsZeroWhateverOtherModesAreAsked)
{
    const Outcome o =
        run({QStringLiteral("--dump-frames"), QStringLiteral("--vision-analyze"), shot(), QStringLiteral("--fast"),
             QStringLiteral("--unknown"), QStringLiteral("--previous-feature-print")});
    EXPECT_EQ(o.status, 0);
    expectOneCleanLine(o);
    const Json j = o.json();
    EXPECT_EQ(j.value("ok", false), true);
    EXPECT_FALSE(j.contains("perceptualDistance"));
    ASSERT_TRUE(j.contains("ocrBlocks"));
    ASSERT_EQ(j["ocrBlocks"].size(), 1u) << o.out.toStdString();
    EXPECT_EQ(j["ocrBlocks"][0].value("text", ""), "Release notes");
    // No slash goes out unescaped, in Base64 or anywhere else.
    EXPECT_FALSE(o.out.contains(QByteArrayLiteral("/")) && !o.out.contains(QByteArrayLiteral("\\/")));
    EXPECT_EQ(o.out.count('/'), o.out.count(QByteArrayLiteral("\\/")));
}

// The command runs before any application object exists; the JPEG reader is a plugin all the same.
TEST_F(VisionCommand, ReadsJpegWithoutAnApplicationObject)
{
    const QString jpeg = path("shot.jpg");
    testsupport::writeFile(
        jpeg,
        renderedtext::encode(renderedtext::draw({480, 100}, {{QStringLiteral("Release notes"), {20, 25}, 32}}), "JPG"));
    const Outcome o = run({QStringLiteral("--vision-analyze"), jpeg});
    EXPECT_EQ(o.status, 0);
    expectOneCleanLine(o);
    EXPECT_EQ(o.json()["ocrBlocks"][0].value("text", ""), "Release notes") << o.out.toStdString();
}

TEST_F(VisionCommand, FeedsAnEarlierPrintBackForADistance)
{
    const Outcome first = run({QStringLiteral("--vision-analyze"), shot(), QStringLiteral("--accurate")});
    ASSERT_EQ(first.status, 0);
    const std::string print = first.json().value("featurePrint", "");
    ASSERT_FALSE(print.empty());

    const Outcome again = run({QStringLiteral("--vision-analyze"), shot(), QStringLiteral("--previous-feature-print"),
                               QString::fromStdString(print)});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.json().value("perceptualDistance", -1.0), 0.0) << again.out.toStdString();

    const Outcome hostile = run({QStringLiteral("--vision-analyze"), shot(), QStringLiteral("--previous-feature-print"),
                                 QStringLiteral("!!not-base64!!")});
    EXPECT_EQ(hostile.status, 0);
    expectOneCleanLine(hostile);
    EXPECT_FALSE(hostile.json().contains("perceptualDistance"));
}

TEST_F(VisionCommand, UnusableRecognitionDataIsNamedInTheFailure)
{
    testsupport::writeFile(path("tessdata/eng.traineddata"), "not a model");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSDATA_PREFIX"), path("tessdata"));
    const Outcome o = run({QStringLiteral("--vision-analyze"), shot()}, environment);
    EXPECT_EQ(o.status, 1);
    expectOneCleanLine(o);
    EXPECT_EQ(o.json(), (Json{{"ok", false},
                              {"error", "Text recognition could not load its English data from " +
                                            path("tessdata").toStdString() + "."}}));
}

// File names are bytes. QProcess hands over arguments as UTF-8, so a shell makes the name's bytes.
TEST_F(VisionCommand, APathThatIsNotUtf8NamesItsFileUnchanged)
{
    const QByteArray existing = QFile::encodeName(m_dir.path()) + "/shot-\xff\xfe.png";
    const QByteArray png = testsupport::readFile(shot());
    const int fd = ::open(existing.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, png.constData(), size_t(png.size())), ssize_t(png.size()));
    ::close(fd);

    const auto analyse = [this](const char *name) {
        return runProgram(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --vision-analyze \"$(printf \"$2\" \"$1\")\""),
                           hubProgram(), m_dir.path(), QString::fromLatin1(name)});
    };
    const Outcome found = analyse("%s/shot-\\377\\376.png");
    EXPECT_EQ(found.status, 0) << found.out.toStdString();
    expectOneCleanLine(found);
    EXPECT_EQ(found.json()["ocrBlocks"][0].value("text", ""), "Release notes") << found.out.toStdString();

    // A missing one is named in the sentence as well as its bytes allow, in valid JSON.
    const Outcome missing = analyse("%s/gone-\\377.png");
    EXPECT_EQ(missing.status, 1);
    expectOneCleanLine(missing);
    EXPECT_EQ(missing.json(),
              (Json{{"ok", false},
                    {"error", "The file \u201Cgone-\uFFFD.png\u201D couldn\u2019t be opened: No such file or directory."}}))
        << missing.out.toStdString();
}

QStringList g_messages;
void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages.append(message);
}

// The command hands its status back to the program entry, which may go on to other work: standard
// error and Qt's messages are the caller's again once it returns.
TEST(VisionCommandInProcess, ReturnsItsStatusAndGivesStandardErrorBack)
{
    QTemporaryFile captured;
    ASSERT_TRUE(captured.open());
    std::fflush(stdout);
    const int savedOut = ::dup(STDOUT_FILENO);
    ::dup2(captured.handle(), STDOUT_FILENO);
    struct stat before
    {
    };
    ::fstat(STDERR_FILENO, &before);
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);

    const char *arguments[] = {"tavrilo-hub", "--fast", "--vision-analyze"};
    const int status = NativeVisionCore::runCLI(3, arguments);
    qWarning("after the command");

    qInstallMessageHandler(previous);
    ::dup2(savedOut, STDOUT_FILENO);
    ::close(savedOut);
    struct stat after
    {
    };
    ::fstat(STDERR_FILENO, &after);

    EXPECT_EQ(status, 2);
    captured.seek(0);
    EXPECT_EQ(captured.readAll(), kUsageLine);
    EXPECT_EQ(after.st_dev, before.st_dev);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(g_messages, QStringList{QStringLiteral("after the command")});
}

TEST_F(VisionCommand, WithoutTheVisionOptionTheOtherModesRun)
{
    // "--vision-analyzer" is not "--vision-analyze": only whole arguments select the command.
    const Outcome o = run({QStringLiteral("--vision-analyzer"), shot()});
    EXPECT_FALSE(o.out.startsWith("{"));
}
} // namespace
