// The live tool proofs' pure parts: which navigations prove the browser, and the shell command
// whose echo can never pass for its output.
#include "headless/HeadlessFrames.h"
#include "workspace/ShellTranscript.h"

#include <gtest/gtest.h>

namespace
{
using State = HeadlessFrames::BrowserNavigationState;

WorkspaceEvent navigation(const char *turn, const char *ok, QMap<QString, QString> extra = {{"id", "call-1"}},
                          const char *tool = "tavrilo_owned_browser_goto", const char *kind = "tool_end")
{
    extra.insert(QStringLiteral("turnId"), QString::fromLatin1(turn));
    extra.insert(QStringLiteral("tool"), QString::fromLatin1(tool));
    extra.insert(QStringLiteral("resultOk"), QString::fromLatin1(ok));
    return WorkspaceEvent{QStringLiteral("e"), {}, {}, {}, QString::fromLatin1(kind), extra};
}

TEST(HeadlessProofs, BrowserNavigationState)
{
    const struct
    {
        const char *what;
        QList<WorkspaceEvent> events;
        std::optional<QString> turn;
        State want;
    } cases[] = {
        {"no turn yet", {navigation("t1", "true")}, std::nullopt, State::Pending},
        {"nothing yet", {}, QStringLiteral("t1"), State::Pending},
        {"succeeded", {navigation("t1", "true")}, QStringLiteral("t1"), State::Succeeded},
        {"another turn", {navigation("t2", "true")}, QStringLiteral("t1"), State::Pending},
        {"another tool", {navigation("t1", "true", {{"id", "c"}}, "tavrilo_build_shell_run")}, QStringLiteral("t1"),
         State::Pending},
        {"a start, not an end", {navigation("t1", "true", {{"id", "c"}}, "tavrilo_owned_browser_goto", "tool_start")},
         QStringLiteral("t1"), State::Pending},
        {"no call id", {navigation("t1", "true", {})}, QStringLiteral("t1"), State::Pending},
        {"toolUseId names the call", {navigation("t1", "true", {{"toolUseId", "c"}})}, QStringLiteral("t1"),
         State::Succeeded},
        {"an empty id wins over toolUseId", {navigation("t1", "true", {{"id", ""}, {"toolUseId", "c"}})},
         QStringLiteral("t1"), State::Pending},
        {"only failures", {navigation("t1", "false"), navigation("t1", "maybe")}, QStringLiteral("t1"), State::Failed},
        {"an older success wins over a newer failure", {navigation("t1", "true"), navigation("t1", "false")},
         QStringLiteral("t1"), State::Succeeded},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HeadlessFrames::browserNavigationState(c.events, c.turn), c.want) << c.what;
}

TEST(HeadlessProofs, OnlyTheCommandsOutputHoldsTheMarker)
{
    const QString marker = HeadlessFrames::newProofMarker();
    ASSERT_EQ(marker.size(), 20 + 32);
    EXPECT_NE(marker, HeadlessFrames::newProofMarker());
    const QString digits = marker.mid(20);
    EXPECT_EQ(digits, digits.toUpper());
    const QByteArray command = HeadlessFrames::proofCommand(marker).toUtf8();
    EXPECT_EQ(command, "printf '%s%s\\n' TAVRILO_SHELL_PROOF_ " + digits.toLatin1() + '\n');

    const auto shows = [&](const QByteArray &stdoutBytes) {
        ShellTranscript transcript;
        transcript.append(stdoutBytes, 1);
        return transcript.utf8().toByteArray().contains(marker.toLatin1());
    };
    const QByteArray echoed = command.chopped(1) + "\r\n";
    const qsizetype space = echoed.indexOf("PROOF_ ") + 6;
    // The terminal's echo, whole, wrapped after the space at the terminal's width, or redrawn with a
    // carriage return: the space stays, so the marker is never whole.
    EXPECT_FALSE(shows(echoed));
    EXPECT_FALSE(shows(echoed.left(space + 1) + "\r\n" + echoed.mid(space + 1)));
    EXPECT_FALSE(shows(echoed.left(space) + "\r" + echoed.left(space) + echoed.mid(space)));
    EXPECT_FALSE(shows(echoed.left(space) + "\x1b[K" + echoed.mid(space)));
    // The command's output, after the echo.
    EXPECT_TRUE(shows(echoed + marker.toLatin1() + "\r\n$ "));
}
} // namespace
