#include "ui/LanesFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

// The CPU picture of the lanes against values worked out by hand from the lanes formula. Its
// agreement with the shader is checked where the shader runs (tests of the lanes view on OpenGL and
// of the headless renderer).

namespace
{
// 66 rows put the centre of every lane on a pixel centre: lane i (0 lowest) on row 60 - 11 i.
constexpr int kHeight = 66;
// 3200 columns put two pixels of every grid column past its 0.985 mark: x mod 100 of 98 and 99.
constexpr int kWidth = 3200;

int laneRow(int lane)
{
    return 60 - 11 * lane;
}

struct Pixel
{
    const char *name;
    LanesFrame frame;
    int x, y;
    int red, green, blue;
};

void PrintTo(const Pixel &p, std::ostream *os)
{
    *os << p.name;
}

const Pixel kPixels[] = {
    // Base colour only: the nearest lane is 0.076 of the height away.
    {"Background", {0, 0, 0}, 1600, 0, 17, 31, 27},
    {"GridLine", {0, 0, 0}, 98, 0, 23, 37, 33},
    {"LastGridColumnAtTheRightEdge", {0, 0, 0}, 3199, 0, 23, 37, 33},
    {"PixelBeforeTheGridMark", {0, 0, 0}, 97, 0, 17, 31, 27},
    // Idle lane: glow 0.24 on its centre line.
    {"IdleLaneCentre", {0, 0, 0}, 1600, laneRow(0), 32, 65, 51},
    {"IdleTopLaneCentre", {2.0f, 0, 500}, 1600, laneRow(5), 32, 65, 51},
    // Active lane at the left edge, where the envelope holds the wave on its centre: glow 0.9.
    {"ActiveLaneAtTheEdge", {0, 0x01, 60}, 0, laneRow(0), 74, 161, 119},
    {"ActiveLaneAtTheRightEdge", {0.5f, 0x20, 0}, kWidth - 3, laneRow(5), 74, 161, 119},
    // Bits above lane 5 light nothing.
    {"HighBitsLightNothing", {0, 0x40 | 0x80 | 0x4000, 60}, 0, laneRow(0), 32, 65, 51},
};

class LanesFramePixels : public ::testing::TestWithParam<Pixel>
{
};

TEST_P(LanesFramePixels, MatchesTheFormula)
{
    const Pixel &p = GetParam();
    const QImage image = p.frame.render(QSize(kWidth, kHeight));
    ASSERT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
    const uchar *pixel = image.constScanLine(p.y) + p.x * 4;
    EXPECT_NEAR(pixel[0], p.red, 1);
    EXPECT_NEAR(pixel[1], p.green, 1);
    EXPECT_NEAR(pixel[2], p.blue, 1);
    EXPECT_EQ(pixel[3], 255);
}

INSTANTIATE_TEST_SUITE_P(Pixels, LanesFramePixels, ::testing::ValuesIn(kPixels),
                         [](const auto &info) { return std::string(info.param.name); });

// The brightest row of `column` within lane 0's band (the lowest sixth).
int brightestLaneZeroRow(const QImage &image, int column)
{
    int best = -1;
    int bestGreen = -1;
    for (int y = image.height() * 5 / 6; y < image.height(); ++y) {
        const int green = image.constScanLine(y)[column * 4 + 1];
        if (green > bestGreen)
            bestGreen = green, best = y;
    }
    return best;
}

struct Swing
{
    const char *name;
    float velocity;
    double speed;     // radians per second of phase
    double amplitude; // of the height
};

class LanesFrameSwing : public ::testing::TestWithParam<Swing>
{
};

TEST_P(LanesFrameSwing, ActiveWaveCrestsAtItsAmplitude)
{
    // Choose the time at which lane 0's wave crests in the middle column; with 660 rows the crest
    // row is then amplitude x 660 rows above the lane's centre line.
    const Swing &s = GetParam();
    const int height = 660;
    const int column = kWidth / 2;
    const double u = (column + 0.5) / kWidth;
    const double time = (u * 38 - std::numbers::pi / 2 - 4 * std::numbers::pi) / s.speed;
    const QImage image = LanesFrame{float(time), 0x01, s.velocity}.render(QSize(kWidth, height));
    const double crest = 1.0 / 12 + s.amplitude * std::sin(u * std::numbers::pi);
    const int expectedRow = int(std::lround(height * (1 - crest) - 0.5));
    EXPECT_NEAR(brightestLaneZeroRow(image, column), expectedRow, 1);
}

const Swing kSwings[] = {
    {"AtRest", 0, 1, 0.008},
    {"Sixty", 60, 2.5, 0.0255},
    {"AmplitudeSaturatesAt120", 120, 4, 0.043},
    {"SpeedSaturatesAt160", 160, 5, 0.043},
    {"FarAboveBoth", 1000, 5, 0.043},
};

INSTANTIATE_TEST_SUITE_P(Velocities, LanesFrameSwing, ::testing::ValuesIn(kSwings),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LanesFrame, EmptySizeGivesNoImage)
{
    EXPECT_TRUE(LanesFrame{}.render(QSize(0, 48)).isNull());
    EXPECT_TRUE(LanesFrame{}.render(QSize(48, -1)).isNull());
}
} // namespace
