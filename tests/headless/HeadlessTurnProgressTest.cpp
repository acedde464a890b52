#include "headless/HeadlessTurnProgress.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace
{
struct Frame
{
    QString kind;
    std::optional<QString> turn;
    QMap<QString, QString> payload;
};

struct Case
{
    const char *name;
    std::vector<Frame> frames;
    std::optional<QString> turn;
    std::optional<QString> code;
};

TEST(HeadlessTurnProgress, LocksOntoTheFirstTurnAndEndsOnce)
{
    const QString a = QStringLiteral("turn-a");
    const QString b = QStringLiteral("turn-b");
    const auto error = [](QMap<QString, QString> payload) { return Frame{"error", "turn-a", std::move(payload)}; };
    const Case cases[] = {
        {"nothing yet", {}, {}, {}},
        {"a non-terminal frame locks the turn", {{"tool_start", a, {}}}, a, {}},
        {"done of the locked turn", {{"tool_start", a, {}}, {"done", a, {}}}, a, "TURN_COMPLETED"},
        {"turn_end", {{"turn_end", a, {}}}, a, "TURN_COMPLETED"},
        {"turn_completed", {{"turn_completed", a, {}}}, a, "TURN_COMPLETED"},
        {"another turn never changes it", {{"tool_start", a, {}}, {"done", b, {}}, {"error", b, {}}}, a, {}},
        {"without turn id", {{"done", std::nullopt, {}}}, {}, {}},
        {"empty turn id, even done", {{"done", QString(), {}}, {"tool_start", b, {}}}, b, {}},
        {"kinds are case-sensitive", {{"Done", a, {}}}, a, {}},
        {"non-final error keeps it running", {error({{"final", "false"}})}, a, {}},
        {"final only when not exactly false", {error({{"final", "False"}, {"code", "X"}})}, a, "X"},
        {"error without final ends it", {error({})}, a, "TURN_FAILED"},
        {"platform code", {error({{"code", "BROWSER_UNAVAILABLE"}})}, a, "BROWSER_UNAVAILABLE"},
        {"hyphen", {error({{"code", "BROWSER-DOWN"}})}, a, "TURN_FAILED"},
        {"lower case", {error({{"code", "Browser"}})}, a, "TURN_FAILED"},
        {"leading digit", {error({{"code", "9LIVES"}})}, a, "TURN_FAILED"},
        {"64 characters", {error({{"code", "A" + QString(63, 'B')}})}, a, "A" + QString(63, 'B')},
        {"65 characters", {error({{"code", "A" + QString(64, 'B')}})}, a, "TURN_FAILED"},
        {"trailing line feed", {error({{"code", "TURN_X\n"}})}, a, "TURN_FAILED"},
        {"empty code", {error({{"code", ""}})}, a, "TURN_FAILED"},
        {"a later end does not replace the code", {error({{"code", "QUOTA"}}), {"turn_completed", a, {}}}, a, "QUOTA"},
    };
    for (const Case &c : cases) {
        HeadlessTurnProgress progress;
        for (const Frame &frame : c.frames)
            progress.consume(frame.kind, frame.turn, frame.payload);
        EXPECT_EQ(progress.turnID, c.turn) << c.name;
        EXPECT_EQ(progress.terminalCode, c.code) << c.name;
    }
}
} // namespace
