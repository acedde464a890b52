#include "session/RunControlOutcome.h"

#include <gtest/gtest.h>

namespace
{
using Command = NativeControls::Command;

struct Case
{
    const char *name;
    Command command;
    NativeControls::Answer answer;
    QString sentence;
    std::optional<QString> holder;
    std::optional<bool> paused;
};

const QString kSession = QStringLiteral("S-1");

NativeControls::Answer queued(std::optional<qint64> position, std::optional<QString> round)
{
    NativeControls::Answer answer;
    answer.ok = true;
    answer.queued = position;
    answer.round = std::move(round);
    return answer;
}

class RunControlOutcome : public ::testing::TestWithParam<Case>
{
};

TEST_P(RunControlOutcome, SaysWhatWasAcceptedAndWhatChanges)
{
    const Case &c = GetParam();
    const runcontroloutcome::Outcome outcome = runcontroloutcome::accepted(c.command, c.answer);
    EXPECT_EQ(outcome.sentence, c.sentence);
    EXPECT_EQ(outcome.browserHolder, c.holder);
    EXPECT_EQ(outcome.operatorPaused, c.paused);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, RunControlOutcome,
    ::testing::Values(Case{"interjection_with_position_and_round",
                           Command::interject(kSession, QStringLiteral("docs too")),
                           queued(2, QStringLiteral("3")),
                           QStringLiteral("Interjection queued: 2 \u00b7 after round 3"),
                           {},
                           {}},
                      Case{"interjection_the_platform_did_not_place",
                           Command::interject(kSession, QStringLiteral("docs too")),
                           queued({}, {}),
                           QStringLiteral("Interjection queued: 0 \u00b7 after round unreported"),
                           {},
                           {}},
                      Case{"browser_taken",
                           Command::browser(kSession, QStringLiteral("customer")),
                           queued({}, {}),
                           QStringLiteral("Browser control taken."),
                           QStringLiteral("customer"),
                           {}},
                      Case{"browser_released",
                           Command::browser(kSession, QStringLiteral("agent")),
                           queued({}, {}),
                           QStringLiteral("Browser control released."),
                           QStringLiteral("agent"),
                           {}},
                      Case{"paused",
                           Command::runState(kSession, QStringLiteral("paused")),
                           queued({}, {}),
                           QStringLiteral("Pause recorded. The runtime will stop at its next hook boundary."),
                           {},
                           true},
                      Case{"resumed",
                           Command::runState(kSession, QStringLiteral("running")),
                           queued({}, {}),
                           QStringLiteral("Resume recorded."),
                           {},
                           false},
                      Case{"skip",
                           Command::skip(kSession, QStringLiteral("tool-1"), QStringLiteral("project_read")),
                           queued({}, {}),
                           QStringLiteral("Skip-step recorded for the next matching hook."),
                           {},
                           {}},
                      Case{"approval",
                           Command::approval(kSession, QStringLiteral("gate-1"), QStringLiteral("approved"),
                                             QStringLiteral("t1"), std::nullopt),
                           queued({}, {}),
                           QStringLiteral("Approval recorded for this session."),
                           {},
                           {}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });
} // namespace
