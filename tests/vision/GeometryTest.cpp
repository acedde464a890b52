#include "vision/NativeVisionCore.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
using Box = NativeVisionCore::Box;

struct PixelBoxCase
{
    const char *name;
    NormalizedRect rect;
    int width;
    int height;
    Box want;
};

class PixelBox : public testing::TestWithParam<PixelBoxCase>
{
};

TEST_P(PixelBox, TurnsBottomLeftFractionsIntoTopLeftPixels)
{
    EXPECT_EQ(NativeVisionCore::pixelBox(GetParam().rect, GetParam().width, GetParam().height), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, PixelBox,
    testing::Values(PixelBoxCase{"Middle", {0.25, 0.5, 0.5, 0.25}, 200, 100, {50, 25, 100, 25}},
                    PixelBoxCase{"TouchesTheTopEdge", {0.1, 0.8, 0.2, 0.2}, 100, 100, {10, 0, 20, 20}},
                    PixelBoxCase{"PastTheTopEdgeClampsToZero", {-0.1, 0.9, 0.2, 0.2}, 100, 100, {0, 0, 20, 20}},
                    PixelBoxCase{"SmallerThanHalfAPixel", {0.5, 0.5, 0.001, 0.001}, 100, 100, {50, 50, 1, 1}},
                    PixelBoxCase{"HalvesRoundAwayFromZero", {0.025, 0.0, 0.5, 0.5}, 100, 100, {3, 50, 50, 50}}),
    [](const testing::TestParamInfo<PixelBoxCase> &info) { return std::string(info.param.name); });

QList<NativeVisionCore::OcrBlock> blocks(std::initializer_list<std::pair<const char *, Box>> items)
{
    QList<NativeVisionCore::OcrBlock> out;
    for (const auto &[text, box] : items)
        out.append({QString::fromLatin1(text), 1.0, box});
    return out;
}

QStringList texts(const QList<NativeVisionCore::OcrBlock> &list)
{
    QStringList out;
    for (const auto &b : list)
        out.append(b.text);
    return out;
}

TEST(ReadingOrder, TenPixelsApartIsOneRowElevenIsTwo)
{
    auto sameRow = blocks({{"right", {100, 0, 10, 10}}, {"left", {0, 10, 10, 10}}});
    NativeVisionCore::orderForReading(sameRow);
    EXPECT_EQ(texts(sameRow), (QStringList{QStringLiteral("left"), QStringLiteral("right")}));

    auto twoRows = blocks({{"lower", {0, 11, 10, 10}}, {"upper", {100, 0, 10, 10}}});
    NativeVisionCore::orderForReading(twoRows);
    EXPECT_EQ(texts(twoRows), (QStringList{QStringLiteral("upper"), QStringLiteral("lower")}));
}

// A chain of blocks each within 10 pixels of the next, but not of the one after: a pairwise
// "close enough" test is no ordering here, and a sort with it may answer differently for each
// input order. Rows must come out the same whatever order the engine returned.
TEST(ReadingOrder, ChainedRowsComeOutTheSameForEveryInputOrder)
{
    const auto chain = blocks({{"a", {300, 0, 10, 10}},
                               {"b", {200, 8, 10, 10}},
                               {"c", {100, 16, 10, 10}},
                               {"d", {0, 24, 10, 10}},
                               {"e", {50, 40, 10, 10}}});
    std::vector<int> order{0, 1, 2, 3, 4};
    std::optional<QStringList> first;
    do {
        QList<NativeVisionCore::OcrBlock> input;
        for (const int i : order)
            input.append(chain[i]);
        NativeVisionCore::orderForReading(input);
        if (!first)
            first = texts(input);
        ASSERT_EQ(texts(input), *first);
    } while (std::next_permutation(order.begin(), order.end()));
    // Row one opens at y 0 and takes b (8); c (16) opens row two and takes d (24); e is alone.
    EXPECT_EQ(*first, (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("c"),
                                   QStringLiteral("e")}));
}
} // namespace
