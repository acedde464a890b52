#include "project/VerificationChildGroup.h"
#include "core/HubError.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using testsupport::waitUntil;

namespace
{
QStringList sh(const QString &script)
{
    return {QStringLiteral("sh"), QStringLiteral("-c"), script};
}

class VerificationGroup : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    VerificationChildGroup group;
};

TEST_F(VerificationGroup, ReportsStatusAndMergedOutput)
{
    const auto outcome = group.run(sh(QStringLiteral("echo out; echo err >&2; exit 2")), dir.path(), 20, 8192, true);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.output, QStringLiteral("out\nerr\n"));
    EXPECT_FALSE(outcome.truncated);
}

TEST_F(VerificationGroup, AMissingProgramIsStatus127)
{
    EXPECT_EQ(group.run({QStringLiteral("no-such-program-here")}, dir.path(), 20, 8192, true).status, 127);
}

// A time budget that runs out kills the group and says so, but does not cancel the group: the
// next run of the same turn still works. Only a real stop is sticky.
TEST_F(VerificationGroup, ATimeoutIsReportedAndNotSticky)
{
    const auto outcome = group.run(sh(QStringLiteral("sleep 100")), dir.path(), 0, 8192, true);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.status, 137);
    EXPECT_FALSE(group.cancelled);
    EXPECT_EQ(group.run(sh(QStringLiteral("exit 0")), dir.path(), 20, 8192, true).status, 0);
}

TEST_F(VerificationGroup, AHeadCutStopsTheChildWithoutCancellingTheGroup)
{
    const auto outcome =
        group.run(sh(QStringLiteral("head -c 40000 /dev/zero | tr '\\0' x; sleep 100")), dir.path(), 20, 32768, false);
    EXPECT_TRUE(outcome.truncated);
    EXPECT_EQ(outcome.output.size(), 32768);
    EXPECT_EQ(outcome.status, 137);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(group.run(sh(QStringLiteral("exit 0")), dir.path(), 20, 8192, true).status, 0);
}

TEST_F(VerificationGroup, ACancelStopsTheRunningChildAndStaysUntilTheNextTurn)
{
    VerificationChildGroup::Outcome outcome;
    std::thread runner(
        [&] { outcome = group.run(sh(QStringLiteral("sleep 100 & sleep 100")), dir.path(), 60, 8192, true); });
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(group.lock);
        return group.pid != 0;
    }));
    // A second child is refused while one runs.
    EXPECT_THROW(group.run(sh(QStringLiteral("exit 0")), dir.path(), 20, 8192, true), CancelledError);
    group.cancel();
    runner.join();
    EXPECT_EQ(outcome.status, 137);
    EXPECT_EQ(group.pid, 0);

    EXPECT_THROW(group.run(sh(QStringLiteral("exit 0")), dir.path(), 20, 8192, true), CancelledError);
    group.rearm();
    EXPECT_EQ(group.run(sh(QStringLiteral("exit 0")), dir.path(), 20, 8192, true).status, 0);
}

TEST_F(VerificationGroup, TheCallersCancellationCancelsTheGroup)
{
    CancelSource source;
    VerificationChildGroup::Outcome outcome;
    std::thread runner(
        [&] { outcome = group.run(sh(QStringLiteral("sleep 100")), dir.path(), 60, 8192, true, source.token()); });
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(group.lock);
        return group.pid != 0;
    }));
    source.cancel();
    runner.join();
    EXPECT_EQ(outcome.status, 137);
    EXPECT_TRUE(group.cancelled);
}

TEST_F(VerificationGroup, TheChildSeesTheFilteredEnvironment)
{
    qputenv("AWS_REGION", "eu-west-1");
    qputenv("BUILD_TOKEN", "t");
    qputenv("tavrilo_lower", "x");
    qputenv("PRIVATEKEY", "kept");
    const auto outcome = group.run({QStringLiteral("env")}, dir.path(), 20, 65536, true);
    qunsetenv("AWS_REGION");
    qunsetenv("BUILD_TOKEN");
    qunsetenv("tavrilo_lower");
    qunsetenv("PRIVATEKEY");
    EXPECT_FALSE(outcome.output.contains(QLatin1String("AWS_REGION=")));
    EXPECT_FALSE(outcome.output.contains(QLatin1String("BUILD_TOKEN=")));
    EXPECT_FALSE(outcome.output.contains(QLatin1String("tavrilo_lower=")));
    EXPECT_TRUE(outcome.output.contains(QLatin1String("PRIVATEKEY=kept")));
    EXPECT_TRUE(outcome.output.contains(QLatin1String("PATH=")));
}
} // namespace
