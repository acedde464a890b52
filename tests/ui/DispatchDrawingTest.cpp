#include "ui/DispatchDrawing.h"
#include "ui/Palette.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace
{
QImage drawn(const QList<int> &lanes)
{
    QImage image(300, 25, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DispatchDrawing::draw(painter, lanes, 300, 25);
    return image;
}

bool near(QColor seen, const QColor &want)
{
    return std::abs(seen.red() - want.red()) < 40 && std::abs(seen.green() - want.green()) < 40 &&
           std::abs(seen.blue() - want.blue()) < 40 && seen.alpha() > 128;
}

// The lane of seat i sits in the middle of the i-th of six slots, at 46 % of the height.
TEST(DispatchDrawing, MarksTheWorkingLanesAndBothEnds)
{
    const QImage image = drawn({2, 5});
    EXPECT_TRUE(near(image.pixelColor(125, 11), Palette::green())); // seat 2
    EXPECT_TRUE(near(image.pixelColor(275, 11), Palette::green())); // seat 5
    EXPECT_EQ(image.pixelColor(175, 11).alpha(), 0);                // seat 3 is idle
    EXPECT_TRUE(near(image.pixelColor(25, 2), Palette::green()));   // dispatch point
    EXPECT_TRUE(near(image.pixelColor(296, 22), Palette::muted())); // reconciliation point
}

TEST(DispatchDrawing, WithoutLanesOnlyTheEndsAreDrawn)
{
    const QImage image = drawn({});
    EXPECT_EQ(image.pixelColor(125, 11).alpha(), 0);
    EXPECT_TRUE(near(image.pixelColor(25, 2), Palette::green()));
}
} // namespace
