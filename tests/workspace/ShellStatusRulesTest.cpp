#include "workspace/ShellStatusRules.h"

#include <gtest/gtest.h>

namespace
{
using Status = AgentCoreShellProtocol::Status;
using Kind = shellstatus::Decision::Kind;

Status status(const char *outcome, std::optional<QString> shellId, std::optional<QString> exitMessage = std::nullopt,
              std::optional<bool> reconnected = std::nullopt)
{
    Status s;
    s.status = QString::fromLatin1(outcome);
    if (shellId || reconnected)
        s.metadata = Status::Metadata{shellId, reconnected, std::nullopt};
    if (exitMessage)
        s.details = Status::Details{QList<Status::Cause>{{QStringLiteral("ExitCode"), exitMessage}}};
    return s;
}

const QString kHeld = QStringLiteral("shell-1");

struct Case
{
    const char *name;
    Status status;
    std::optional<QString> held;
    bool ready;
    Kind kind;
    QString text;
};

class StatusDecision : public ::testing::TestWithParam<Case>
{
};

TEST_P(StatusDecision, Follows)
{
    const Case &c = GetParam();
    const shellstatus::Decision decision = shellstatus::decide(c.status, c.held, c.ready);
    EXPECT_EQ(decision.kind, c.kind);
    if (c.kind != Kind::protocolFailure) {
        EXPECT_EQ(decision.text, c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusDecision,
    ::testing::Values(
        Case{"FirstConnect", status("Success", kHeld), kHeld, false, Kind::connect, QStringLiteral("Connected")},
        Case{"ReplayRestored", status("Success", kHeld, std::nullopt, true), kHeld, false, Kind::connect,
             QStringLiteral("Connected · replay restored")},
        Case{"ConnectAgainWhileReady", status("Success", kHeld), kHeld, true, Kind::connect,
             QStringLiteral("Connected")},
        Case{"ForeignShell", status("Success", QStringLiteral("other")), kHeld, true, Kind::protocolFailure, {}},
        Case{"ShellNamedWhileNoneHeld", status("Success", kHeld), std::nullopt, false, Kind::protocolFailure, {}},
        Case{"FirstSuccessWithoutShellId", status("Success", std::nullopt), kHeld, false, Kind::protocolFailure, {}},
        Case{"SuccessWithoutShellIdWhenReadyEnds", status("Success", std::nullopt), kHeld, true, Kind::ending,
             QStringLiteral("Shell exited")},
        Case{"ExitCodeZeroTrimmed", status("Success", kHeld, QStringLiteral(" 0 ")), kHeld, true, Kind::ending,
             QStringLiteral("Shell exited")},
        Case{"ExitCodeTwo", status("Success", kHeld, QStringLiteral("2")), kHeld, true, Kind::ending,
             QStringLiteral("Shell exited with failure (exit 2)")},
        Case{"UnreadableExitCode", status("Success", kHeld, QStringLiteral("x")), kHeld, true, Kind::ending,
             QStringLiteral("Shell exited with failure")},
        Case{"FailureWithExitCode", status("Failure", kHeld, QStringLiteral("137")), kHeld, true, Kind::ending,
             QStringLiteral("Shell exited with failure (exit 137)")},
        Case{"FailureBeforeReady", status("Failure", std::nullopt), kHeld, false, Kind::ending,
             QStringLiteral("Shell exited with failure")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ShellFailure, EndsTheShellOnlyForProtocolFailuresAndTheirCloseCodes)
{
    const QString closed = QStringLiteral("Shell closed or protocol rejected; retry available");
    const QString attached = QStringLiteral("Another client attached; reconnect manually");
    EXPECT_EQ(shellstatus::endingFailureText(false, 1000), closed);
    EXPECT_EQ(shellstatus::endingFailureText(false, 1003), closed);
    EXPECT_EQ(shellstatus::endingFailureText(true, 1009), closed);
    EXPECT_EQ(shellstatus::endingFailureText(false, 4000), attached);
    EXPECT_EQ(shellstatus::endingFailureText(true, 4000), attached);
    for (int retryable : {0, 1001, 1002, 1006, 1011, 4001})
        EXPECT_EQ(shellstatus::endingFailureText(false, retryable), std::nullopt) << retryable;
}
} // namespace
