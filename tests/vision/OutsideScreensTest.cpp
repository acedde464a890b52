// Screens the project did not draw (tests/vision/data), read against their known text: web-app
// pages at 1x and 2x, light and dark, with coloured buttons, and desktop programs under X (a Qt
// Widgets dialog, the GTK widget factory) at 1x, light and dark. The floors sit a little under
// what recognition reaches today (bench/VisionBench.cpp prints the figures), so that a change to
// what the recogniser sees that loses button labels or words shows here.
#include "OutsideScreens.h"
#include "vision/NativeVisionCore.h"

#include <gtest/gtest.h>

namespace
{
// The screens of one kind whose names contain `only`, as the report gives them: where a screen
// shows more lines than the report keeps, the words of the lines left out count as missed.
outsidescreens::Score readAll(bool desktop, bool fast, const QString &only)
{
    outsidescreens::Score total;
    for (const auto &screen : outsidescreens::load(QStringLiteral(HUB_OUTSIDE_SCREENS))) {
        if (outsidescreens::ofDesktopProgram(screen) != desktop || !screen.name.contains(only))
            continue;
        QStringList lines;
        for (const auto &block : NativeVisionCore::analyzeData(screen.png, fast, std::nullopt).ocrBlocks)
            lines.append(block.text);
        total += outsidescreens::score(screen, lines);
    }
    return total;
}

struct FloorCase
{
    const char *name;
    bool desktop;
    bool fast;
    const char *only; // part of the screen names read
    int minButtons;
    double recall;
    double precision;
    int buttonsReadPerTen; // of every ten button labels
};

class OutsideScreens : public testing::TestWithParam<FloorCase>
{
};

TEST_P(OutsideScreens, ReadsTheWordsAndTheButtons)
{
    const FloorCase &floors = GetParam();
    const auto score = readAll(floors.desktop, floors.fast, QString::fromLatin1(floors.only));
    ASSERT_GE(score.buttons, floors.minButtons);
    EXPECT_GE(score.recall(), floors.recall);
    EXPECT_GE(score.precision(), floors.precision);
    EXPECT_GE(score.buttonsRead * 10, score.buttons * floors.buttonsReadPerTen)
        << score.missedButtons.join(QStringLiteral("; ")).toStdString();
}

// Accurate recognition reads ordinary-density screens enlarged: thin letters of small text stay in
// their words ("reconciliation", not "reconci" and "ition"), and every web button is read. Of the
// desktop screens, the widget factory shows more lines than the report keeps (64 of its 88), which
// holds recall there near 0.7; the dialog packs its labels a few pixels inside their frames, where
// one or two of them still lose a letter or a space.
INSTANTIATE_TEST_SUITE_P(Floors, OutsideScreens,
                         testing::Values(FloorCase{"WebFast", false, true, "", 30, 0.93, 0.9, 9},
                                         FloorCase{"WebAccurateSmallTextWhole", false, false, "@1x", 15, 0.95, 0, 10},
                                         FloorCase{"DesktopFast", true, true, "", 16, 0.68, 0.8, 8},
                                         FloorCase{"DesktopAccurate", true, false, "", 16, 0.7, 0.8, 7}),
                         [](const testing::TestParamInfo<FloorCase> &info) { return std::string(info.param.name); });
} // namespace
