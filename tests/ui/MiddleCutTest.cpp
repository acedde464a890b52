#include "ui/MiddleCut.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace
{
int lineCount(const QString &text, const QFont &font, double width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        ++count;
    }
    layout.endLayout();
    return count;
}

const QString kPath = QStringLiteral("/home/ada/Code/clients/northwind/very-long-project-folder-name-for-the-"
                                     "quarterly-release/packages/frontend/app");

TEST(MiddleCut, ShortTextStaysWhole)
{
    const QFont font;
    EXPECT_EQ(middlecut::cut(QStringLiteral("/home/ada/app"), font, 400, 2), QStringLiteral("/home/ada/app"));
}

TEST(MiddleCut, LongTextKeepsItsStartAndEndWithinTheLines)
{
    QFont font;
    font.setPixelSize(12);
    const double width = 200;
    ASSERT_GT(lineCount(kPath, font, width), 2);
    const QString cut = middlecut::cut(kPath, font, width, 2);
    ASSERT_TRUE(cut.contains(QChar(0x2026))) << cut.toStdString();
    EXPECT_LE(lineCount(cut, font, width), 2);
    const qsizetype dot = cut.indexOf(QChar(0x2026));
    EXPECT_TRUE(kPath.startsWith(cut.left(dot)));
    EXPECT_TRUE(kPath.endsWith(cut.mid(dot + 1)));
    EXPECT_GT(dot, 10);
    EXPECT_GT(cut.size() - dot, 10);
    // The longest that fits: one more character would take a third line.
    EXPECT_GT(cut.size(), 30);
}

TEST(MiddleCut, OneLineAndDegenerateWidths)
{
    QFont font;
    font.setPixelSize(12);
    const QString one = middlecut::cut(kPath, font, 150, 1);
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(one), 150.5);
    EXPECT_TRUE(one.startsWith(QLatin1Char('/')));
    EXPECT_TRUE(one.endsWith(QStringLiteral("app")));
    // Before the view has a width, or with a nonsense one, nothing is cut.
    EXPECT_EQ(middlecut::cut(kPath, font, 0, 2), kPath);
    EXPECT_EQ(middlecut::cut(kPath, font, std::numeric_limits<double>::quiet_NaN(), 2), kPath);
    EXPECT_EQ(middlecut::cut(kPath, font, 200, 0), kPath);
}

TEST(MiddleCut, NeverSplitsASurrogatePair)
{
    QFont font;
    font.setPixelSize(12);
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\x81").repeated(60);
    const QString cut = middlecut::cut(emoji, font, 120, 2);
    for (qsizetype i = 0; i < cut.size(); ++i) {
        if (cut.at(i).isHighSurrogate()) {
            ASSERT_LT(i + 1, cut.size());
            EXPECT_TRUE(cut.at(i + 1).isLowSurrogate());
            ++i;
        } else {
            EXPECT_FALSE(cut.at(i).isLowSurrogate()) << i;
        }
    }
}
} // namespace
