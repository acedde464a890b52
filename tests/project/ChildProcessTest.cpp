#include "platform/ChildProcess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
ChildProcess::Options shell(const QString &script)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), script};
    options.environment = ChildProcess::environment(ChildProcess::Scrub::inherited);
    options.deadline = 20s;
    return options;
}

struct StatusCase
{
    const char *name;
    const char *script;
    int status;
};

class ChildStatus : public ::testing::TestWithParam<StatusCase>
{
};

TEST_P(ChildStatus, IsTheExitCodeOr128PlusTheSignal)
{
    const ChildProcess::Result result = ChildProcess::run(shell(QString::fromUtf8(GetParam().script)));
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_FALSE(result.timedOut);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChildStatus,
                         ::testing::Values(StatusCase{"exit0", "exit 0", 0}, StatusCase{"exit3", "exit 3", 3},
                                           StatusCase{"sigterm", "kill -TERM $$", 143},
                                           StatusCase{"sigkill", "kill -KILL $$", 137}),
                         [](const auto &info) { return std::string(info.param.name); });

// Children that try to outlive their deadline: each run ends by it, with the group killed.
struct UnrulyCase
{
    const char *name;
    const char *script;
    int stopSignal;
    int status;
};

class UnrulyChild : public ::testing::TestWithParam<UnrulyCase>
{
};

TEST_P(UnrulyChild, EndsByItsDeadline)
{
    ChildProcess::Options options = shell(QString::fromUtf8(GetParam().script));
    options.deadline = 300ms;
    options.stopSignal = GetParam().stopSignal;
    options.killGrace = 200ms;
    const auto start = std::chrono::steady_clock::now();
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnrulyChild,
    ::testing::Values(UnrulyCase{"hangs", "sleep 100", SIGKILL, 137},
                      UnrulyCase{"ignoresSigterm", "trap '' TERM; while :; do sleep 1; done", SIGTERM, 137},
                      // The child's own status: it exited; its grandchild held the pipe.
                      UnrulyCase{"grandchildHoldsThePipe", "sleep 100 & exit 4", SIGTERM, 4},
                      // Out of the group's reach: the read stops soon after the group is killed.
                      UnrulyCase{"escapedGrandchildHoldsThePipe", "setsid sleep 5 & exit 0", SIGKILL, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ChildProcess, FloodIsCutAtTheHeadAndStopped)
{
    ChildProcess::Options options = shell(QStringLiteral("yes flood"));
    options.limit = 32768;
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_TRUE(result.truncated);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.output.size(), 32768);
    EXPECT_TRUE(result.output.startsWith("flood\nflood\n"));
    EXPECT_EQ(result.status, 137);
}

TEST(ChildProcess, TailKeepsTheLastBytesAndRunsToTheEnd)
{
    ChildProcess::Options options =
        shell(QStringLiteral("i=0; while [ $i -lt 2000 ]; do printf '%09d\\n' $i; i=$((i+1)); done"));
    options.limit = 8192;
    options.keep = ChildProcess::Keep::tail;
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.truncated);
    EXPECT_EQ(result.output.size(), 8192);
    EXPECT_TRUE(result.output.endsWith("000001999\n"));
}

TEST(ChildProcess, InterruptStopsTheGroup)
{
    auto interrupt = std::make_shared<ChildInterrupt>();
    ChildProcess::Options options = shell(QStringLiteral("sleep 100"));
    options.interrupts = {interrupt};
    options.started = [interrupt](pid_t) { interrupt->trigger(); };
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_TRUE(result.interrupted);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 137);
}

TEST(ChildProcess, StandardInputIsNullOrTheGivenBytes)
{
    EXPECT_EQ(ChildProcess::run(shell(QStringLiteral("cat"))).output, QByteArray());

    // More than a pipe holds in both directions: feeding and reading go on together.
    ChildProcess::Options options = shell(QStringLiteral("cat"));
    options.input = QByteArray(1 << 20, 'x');
    options.limit = 2 << 20;
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, *options.input);
}

TEST(ChildProcess, AChildThatLeavesItsInputUnreadIsJudgedByItsStatus)
{
    // More than a pipe holds, so the feeding is still going on when the child exits.
    ChildProcess::Options options = shell(QStringLiteral("echo done; exit 3"));
    options.input = QByteArray(1 << 20, 'x');
    const ChildProcess::Result result = ChildProcess::run(options);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, QByteArray("done\n"));
}

TEST(ChildProcess, ErrorOutputMergedOrDiscarded)
{
    ChildProcess::Options options = shell(QStringLiteral("echo out; echo err >&2"));
    EXPECT_EQ(ChildProcess::run(options).output, "out\nerr\n");
    options.errors = ChildProcess::ErrorOutput::discarded;
    EXPECT_EQ(ChildProcess::run(options).output, "out\n");
}

TEST(ChildProcess, InheritsNoDescriptorAndNoIgnoredSignal)
{
    const int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    ChildProcess::ignoreBrokenPipes();
    const QString script =
        QStringLiteral("test -e /proc/$$/fd/%1 && echo leaked; yes | head -c 4 >/dev/null; echo done").arg(leaked);
    const ChildProcess::Result result = ChildProcess::run(shell(script));
    ::close(leaked);
    // With SIGPIPE still ignored, `yes` would report a broken pipe on standard error.
    EXPECT_EQ(result.output, "done\n");
}

TEST(ChildProcess, RunsInTheWorkingDirectory)
{
    QTemporaryDir dir;
    ChildProcess::Options options = shell(QStringLiteral("pwd -P"));
    options.workingDirectory = dir.path();
    EXPECT_EQ(QString::fromUtf8(ChildProcess::run(options).output).trimmed(),
              QFileInfo(dir.path()).canonicalFilePath());
}

TEST(ChildProcess, AStartFailureNamesTheSystemError)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/nonexistent/program");
    try {
        ChildProcess::run(options);
        FAIL() << "started";
    } catch (const ChildProcessError &error) {
        EXPECT_EQ(error.stage(), ChildProcessError::Stage::spawn);
        EXPECT_EQ(error.error(), ENOENT);
    }
}

struct ScrubCase
{
    const char *name;
    ChildProcess::Scrub rule;
    bool kept;
};

class EnvironmentScrub : public ::testing::TestWithParam<ScrubCase>
{
};

TEST_P(EnvironmentScrub, ExaminesTheNameOnly)
{
    EXPECT_EQ(ChildProcess::keeps(GetParam().name, GetParam().rule), GetParam().kept) << GetParam().name;
}

using S = ChildProcess::Scrub;
INSTANTIATE_TEST_SUITE_P(
    Verification, EnvironmentScrub,
    ::testing::Values(ScrubCase{"PATH", S::verification, true}, ScrubCase{"HOME", S::verification, true},
                      ScrubCase{"AWS_REGION", S::verification, false}, ScrubCase{"BUILD_TOKEN", S::verification, false},
                      ScrubCase{"MY_API_KEY", S::verification, false},
                      ScrubCase{"DB_PASSWORD_FILE", S::verification, false},
                      ScrubCase{"HTTP_AUTHORIZATION", S::verification, false},
                      ScrubCase{"tavrilo_anything", S::verification, false},
                      ScrubCase{"github_token", S::verification, false}, ScrubCase{"APIKEY", S::verification, true},
                      ScrubCase{"PRIVATEKEY", S::verification, true}));
INSTANTIATE_TEST_SUITE_P(
    Companion, EnvironmentScrub,
    ::testing::Values(ScrubCase{"AWS_PROFILE", S::companion, false}, ScrubCase{"GITHUB_TOKEN", S::companion, false},
                      ScrubCase{"NPM_APIKEY", S::companion, false}, ScrubCase{"DB_PASSWORD", S::companion, false},
                      ScrubCase{"SSH_PRIVATE_KEY", S::companion, false}, ScrubCase{"aws_profile", S::companion, true},
                      ScrubCase{"GIT_CONFIG_GLOBAL", S::companion, true},
                      ScrubCase{"GIT_CONFIG_GLOBAL", S::repository, false},
                      ScrubCase{"TAVRILO_CODE_CLI", S::repository, true}, ScrubCase{"PATH", S::repository, true},
                      ScrubCase{"HOME", S::companion, true}));

struct CharactersCase
{
    const char *name;
    QByteArray bytes;
    qsizetype limit;
    ChildProcess::Keep keep;
    QString text;
};

class WholeCharacters : public ::testing::TestWithParam<CharactersCase>
{
};

TEST_P(WholeCharacters, RepairsAndCutsAtCharacterBoundaries)
{
    EXPECT_EQ(ChildProcess::wholeCharacters(GetParam().bytes, GetParam().limit, GetParam().keep), GetParam().text);
}

using K = ChildProcess::Keep;
INSTANTIATE_TEST_SUITE_P(
    Cases, WholeCharacters,
    ::testing::Values(CharactersCase{"invalidByte",
                                     "a\xff"
                                     "b",
                                     10, K::head, QStringLiteral("a\uFFFDb")},
                      // The replacement takes three bytes where the invalid one took one.
                      CharactersCase{"replacementCutAgain", "ab\xff", 3, K::head, QStringLiteral("ab")},
                      CharactersCase{"replacementCutAgainAtTail",
                                     "\xff"
                                     "ab",
                                     3, K::tail, QStringLiteral("ab")},
                      CharactersCase{"tailDropsLeadingPart", "\xc3\xa9z", 2, K::tail, QStringLiteral("z")},
                      CharactersCase{"headDropsTrailingPart", "z\xe2\x82\xac", 3, K::head, QStringLiteral("z")},
                      CharactersCase{"wholeKept", "z\xe2\x82\xac", 4, K::head, QStringLiteral("z\u20AC")}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
