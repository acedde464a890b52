// Screens the project did not draw (web-app pages at 1x and 2x, light and dark, with coloured
// buttons; tests/vision/data), read against their known text. The floors sit a little under what
// recognition reaches today (bench/VisionBench.cpp prints the figures), so that a change to what
// the recogniser sees that loses button labels or words shows here.
#include "OutsideScreens.h"
#include "vision/NativeVisionCore.h"

#include <gtest/gtest.h>

namespace
{
outsidescreens::Score readAll(bool fast, const QString &only)
{
    outsidescreens::Score total;
    for (const auto &screen : outsidescreens::load(QStringLiteral(HUB_OUTSIDE_SCREENS))) {
        if (!screen.name.contains(only))
            continue;
        QStringList lines;
        for (const auto &block : NativeVisionCore::analyzeData(screen.png, fast, std::nullopt).ocrBlocks)
            lines.append(block.text);
        total += outsidescreens::score(screen, lines);
    }
    return total;
}

TEST(OutsideScreens, FastRecognitionReadsTheWordsAndTheButtons)
{
    const auto score = readAll(true, QString());
    ASSERT_GE(score.buttons, 30);
    EXPECT_GE(score.recall(), 0.93);
    EXPECT_GE(score.precision(), 0.9);
    EXPECT_GE(score.buttonsRead * 10, score.buttons * 9) << score.missedButtons.join(QStringLiteral("; ")).toStdString();
}

// Accurate recognition reads ordinary-density screens enlarged: thin letters of small text stay in
// their words ("reconciliation", not "reconci" and "ition").
TEST(OutsideScreens, AccurateRecognitionReadsSmallTextWhole)
{
    const auto score = readAll(false, QStringLiteral("@1x"));
    ASSERT_GE(score.buttons, 15);
    EXPECT_GE(score.recall(), 0.95);
    EXPECT_EQ(score.buttonsRead, score.buttons) << score.missedButtons.join(QStringLiteral("; ")).toStdString();
}
} // namespace
