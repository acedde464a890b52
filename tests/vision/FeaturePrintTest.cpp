#include "vision/FeaturePrint.h"

#include "RenderedText.h"

#include <gtest/gtest.h>

namespace
{
FeaturePrint printOf(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    return FeaturePrint::compute(rgb, rgb.convertToFormat(QImage::Format_Grayscale8));
}

QImage screen(const QString &secondLine)
{
    return renderedtext::draw({640, 200},
                              {{QStringLiteral("Invoice settings"), {20, 20}, 28}, {secondLine, {20, 90}, 28}});
}

TEST(FeaturePrint, DistanceIsZeroForTheSameImageAndGrowsWithTheChange)
{
    const FeaturePrint original = printOf(screen(QStringLiteral("Save your changes")));
    const FeaturePrint again = printOf(screen(QStringLiteral("Save your changes")));
    const FeaturePrint oneWord = printOf(screen(QStringLiteral("Save your profile")));
    QImage inverted = screen(QStringLiteral("Save your changes"));
    inverted.invertPixels();
    const FeaturePrint negative = printOf(inverted);

    EXPECT_EQ(original.distance(again), 0.0);
    const double small = original.distance(oneWord);
    const double large = original.distance(negative);
    EXPECT_GT(small, 0.0001); // visible after rounding to four decimals
    EXPECT_GT(large, small);
    EXPECT_LE(large, 1.0);
    EXPECT_EQ(original.distance(oneWord), oneWord.distance(original));
}

TEST(FeaturePrint, SurvivesItsBase64Form)
{
    const FeaturePrint print = printOf(screen(QStringLiteral("Save your changes")));
    const auto back = FeaturePrint::fromBase64(print.toBase64());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, print);
    EXPECT_EQ(back->distance(print), 0.0);
}

TEST(FeaturePrint, ImagesSmallerThanTheGridStillPrint)
{
    QImage tiny(3, 2, QImage::Format_RGB32);
    tiny.fill(Qt::red);
    const FeaturePrint print = printOf(tiny);
    EXPECT_EQ(print.distance(print), 0.0);
}

struct HostileCase
{
    const char *name;
    QString base64;
};

class HostileFeaturePrint : public testing::TestWithParam<HostileCase>
{
};

TEST_P(HostileFeaturePrint, IsRefused)
{
    EXPECT_FALSE(FeaturePrint::fromBase64(GetParam().base64));
}

QByteArray validBytes()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::gray);
    return printOf(image).serialize();
}

QString base64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray withByte(qsizetype index, char value)
{
    QByteArray bytes = validBytes();
    bytes[index] = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Parser, HostileFeaturePrint,
    testing::Values(HostileCase{"Empty", QString()}, HostileCase{"NotBase64", QStringLiteral("@@@@not base64!!")},
                    HostileCase{"NonAscii", QStringLiteral("VFZGUA\u00e9=")},
                    HostileCase{"LineBreaks", base64(validBytes()).insert(8, QLatin1Char('\n'))},
                    HostileCase{"Truncated", base64(validBytes().left(validBytes().size() - 1))},
                    HostileCase{"OneByteLonger", base64(validBytes() + 'x')},
                    HostileCase{"HeaderOnly", base64(validBytes().left(8))},
                    HostileCase{"WrongMagic", base64(withByte(0, 'X'))},
                    HostileCase{"FutureVersion", base64(withByte(4, 2))},
                    HostileCase{"OtherGrid", base64(withByte(5, 64))},
                    HostileCase{"HugeText", QString(1 << 20, QLatin1Char('A'))},
                    HostileCase{"SomeoneElsesArchive", base64(QByteArray("bplist00\xd4\x01\x02\x03", 12))}),
    [](const testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });
} // namespace
