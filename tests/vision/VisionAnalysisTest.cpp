#include "vision/NativeVisionCore.h"

#include "RenderedText.h"
#include "core/HubError.h"
#include "support/TestSupport.h"
#include "vision/TextRecognizer.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using renderedtext::Label;

QString joined(const NativeVisionCore::Analysis &a)
{
    QStringList texts;
    for (const auto &b : a.ocrBlocks)
        texts.append(b.text);
    return texts.join(QLatin1Char('|'));
}

class RecognitionModes : public testing::TestWithParam<bool>
{
};

TEST_P(RecognitionModes, ReadsRenderedTextWithBoxesWhereItWasDrawn)
{
    const QByteArray png = renderedtext::png({900, 260}, {{QStringLiteral("Invoice total due today"), {40, 40}, 32},
                                                          {QStringLiteral("Payment received"), {40, 150}, 32}});
    const auto a = NativeVisionCore::analyzeData(png, GetParam(), std::nullopt);
    ASSERT_EQ(a.ocrBlocks.size(), 2) << joined(a).toStdString();
    EXPECT_EQ(a.ocrCount, 2);
    EXPECT_EQ(a.ocrBlocks[0].text, QStringLiteral("Invoice total due today"));
    EXPECT_EQ(a.ocrBlocks[1].text, QStringLiteral("Payment received"));
    const auto &box = a.ocrBlocks[0].box;
    EXPECT_NEAR(box.x, 42, 6);
    EXPECT_NEAR(box.y, 48, 10);
    EXPECT_GT(box.width, 300);
    EXPECT_GT(a.ocrBlocks[0].confidence, 0.8);
    EXPECT_LE(a.ocrBlocks[0].confidence, 1.0);

    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.engine, QStringLiteral("tesseract-opencv-cld2"));
    EXPECT_TRUE(a.sdkVersion.startsWith(QStringLiteral("tesseract-5.")));
    EXPECT_EQ(a.sha256, QString::fromLatin1(QCryptographicHash::hash(png, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(a.width, 900);
    EXPECT_EQ(a.height, 260);
    EXPECT_GE(a.elapsedMs, 1);
    EXPECT_EQ(a.copyQuality.dominantLanguage, QStringLiteral("en"));
    EXPECT_EQ(a.copyQuality.wordCount, 6);
    EXPECT_TRUE(a.featurePrint);
    EXPECT_FALSE(a.perceptualDistance);
}

INSTANTIATE_TEST_SUITE_P(Vision, RecognitionModes, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "Fast" : "Accurate"; });

// Light text on colour, as screens draw calls to action and dark themes.
QByteArray lightTextOnColour()
{
    QImage image(760, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    font.setBold(true);
    painter.setFont(font);
    struct Filled
    {
        const char *text;
        QRgb fill;
        QRect rect;
        qreal radius;
    };
    const Filled buttons[] = {{"Save changes", 0x1f883d, {20, 20, 140, 32}, 6},
                              {"Delete account", 0xcf222e, {180, 20, 150, 32}, 6},
                              {"Publish", 0x0969da, {350, 20, 100, 32}, 6},
                              {"New issue", 0x8250df, {470, 20, 110, 32}, 6}};
    for (const Filled &button : buttons) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(button.fill));
        painter.drawRoundedRect(button.rect, button.radius, button.radius);
        painter.setPen(Qt::white);
        painter.drawText(button.rect, Qt::AlignCenter, QString::fromLatin1(button.text));
    }
    painter.fillRect(QRect(0, 80, 760, 120), QColor(0x0d1117));
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(QColor(0xe6edf3));
    painter.drawText(QPoint(20, 120), QStringLiteral("Billing and plans"));
    painter.setPen(QColor(0x8d96a0));
    painter.drawText(QPoint(20, 160), QStringLiteral("Scheduled reminders"));
    painter.end();
    return renderedtext::encode(image);
}

TEST_P(RecognitionModes, ReadsLightTextOnButtonsAndDarkPanels)
{
    const QString text = joined(NativeVisionCore::analyzeData(lightTextOnColour(), GetParam(), std::nullopt));
    for (const char *label : {"Save changes", "Delete account", "Publish", "New issue", "Billing and plans",
                              "Scheduled reminders"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(label))) << label << " in " << text.toStdString();
}

// Labels a few pixels inside the frames of fields and buttons, and cells inside a table's grid, as
// desktop toolkits draw dialogs: the frames must not swallow the labels or read as brackets.
QByteArray labelsInTightFrames()
{
    QImage image(620, 200, QImage::Format_RGB32);
    image.fill(QColor(0xef, 0xef, 0xef));
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    painter.setFont(font);
    const auto framed = [&](const QRect &rect, const QString &text, QColor fill) {
        painter.setPen(QColor(0x8a, 0x8a, 0x8a));
        painter.setBrush(fill);
        painter.drawRect(rect);
        painter.setPen(Qt::black);
        painter.drawText(rect.adjusted(4, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    framed({20, 20, 300, 22}, QStringLiteral("Nadia Okonkwo"), Qt::white);
    framed({330, 20, 105, 22}, QStringLiteral("Test connection"), QColor(0xf6, 0xf6, 0xf6));
    framed({380, 160, 60, 22}, QStringLiteral("Save"), QColor(0xf6, 0xf6, 0xf6));
    framed({450, 160, 60, 22}, QStringLiteral("Cancel"), QColor(0xf6, 0xf6, 0xf6));
    const char *cells[2][2] = {{"From contains invoices", "Billing"}, {"Subject starts with build", "Builds"}};
    for (int row = 0; row < 2; ++row) {
        framed({20, 70 + 30 * row, 180, 30}, QString::fromLatin1(cells[row][0]), Qt::white);
        framed({200, 70 + 30 * row, 90, 30}, QString::fromLatin1(cells[row][1]), Qt::white);
    }
    painter.end();
    return renderedtext::encode(image);
}

TEST_P(RecognitionModes, ReadsLabelsInsideTightFrames)
{
    const auto a = NativeVisionCore::analyzeData(labelsInTightFrames(), GetParam(), std::nullopt);
    QStringList lines;
    for (const auto &block : a.ocrBlocks)
        lines.append(block.text.trimmed());
    const QString text = lines.join(QLatin1Char('\n'));
    for (const char *label : {"Nadia Okonkwo", "Test connection", "Save", "Cancel", "From contains invoices", "Billing",
                              "Subject starts with build", "Builds"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(label))) << label << " in " << text.toStdString();
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains(QRegularExpression(QStringLiteral("[\\[\\]{}|()]")))) << line.toStdString();
}

// The engine's monitor is asked before each word; at a deadline already passed, the first word stops
// the recognition and the caller gets the sentence, not a partial reading.
TEST(TextRecognition, StopsAtItsDeadlineWithItsSentence)
{
    const QImage grey = renderedtext::draw({600, 100}, {{QStringLiteral("Quarterly report"), {20, 30}, 34}})
                            .convertToFormat(QImage::Format_Grayscale8);
    try {
        TextRecognizer::recognize(grey, true, 0.008, std::chrono::milliseconds(0));
        FAIL() << "read";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), TextRecognizer::deadlineSentence(std::chrono::milliseconds(0)));
    }
    EXPECT_EQ(TextRecognizer::deadlineSentence(TextRecognizer::kDeadline),
              QStringLiteral("Text recognition was stopped after 45 seconds: the image holds more text or detail than "
                             "can be read in that time."));
}

// 40,000 separate dots: the engine's layout of such a page cannot be stopped and runs for minutes, so
// it is refused before the engine starts.
TEST(TextRecognition, RefusesAPageOfMoreMarksThanItCanReadInTime)
{
    QImage dots(400, 400, QImage::Format_Grayscale8);
    dots.fill(255);
    for (int y = 0; y < dots.height(); y += 2) {
        for (int x = 0; x < dots.width(); x += 2)
            dots.scanLine(y)[x] = 0;
    }
    try {
        NativeVisionCore::analyzeData(renderedtext::encode(dots), true, std::nullopt);
        FAIL() << "read";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Text recognition refused the image: it holds more text or "
                                                      "detail than can be read within 45 seconds."));
    }
}

TEST(VisionAnalysis, RecognisedDefectsBecomeIssues)
{
    const QByteArray png = renderedtext::png({1000, 420}, {{QStringLiteral("Owner: undefined"), {30, 30}, 30},
                                                           {QStringLiteral("Balance: NaN"), {30, 100}, 30},
                                                           {QStringLiteral("Hello {{name}}"), {30, 170}, 30},
                                                           {QStringLiteral("Lorem ipsum dolor"), {30, 240}, 30},
                                                           {QStringLiteral("Order total total"), {30, 310}, 30}});
    const auto a = NativeVisionCore::analyzeData(png, true, std::nullopt);
    EXPECT_EQ(a.copyQuality.issues, (QStringList{QStringLiteral("Rendered literal 'undefined' in visible UI"),
                                                 QStringLiteral("Rendered literal 'NaN' in visible UI"),
                                                 QStringLiteral("Uninterpolated template expression '{{...}}' visible"),
                                                 QStringLiteral("Placeholder 'lorem ipsum' copy visible"),
                                                 QStringLiteral("Adjacent duplicate words detected: total")}))
        << joined(a).toStdString();
}

TEST(VisionAnalysis, ABlankImageHasNoTextAndAnEmptyCopyResult)
{
    QImage blank(320, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    const auto a = NativeVisionCore::analyzeData(renderedtext::encode(blank), true, std::nullopt);
    EXPECT_EQ(a.ocrCount, 0);
    EXPECT_TRUE(a.ocrBlocks.isEmpty());
    EXPECT_FALSE(a.copyQuality.dominantLanguage);
    EXPECT_EQ(a.copyQuality.languageConfidence, 0);
    EXPECT_EQ(a.copyQuality.wordCount, 0);
    EXPECT_TRUE(a.copyQuality.issues.isEmpty());
    EXPECT_TRUE(a.detectedRegions.isEmpty());
}

TEST(VisionAnalysis, KeepsSixtyFourBlocksButCountsThemAll)
{
    std::vector<Label> labels;
    for (int i = 0; i < 70; ++i)
        labels.push_back({QStringLiteral("Item %1").arg(QChar(u'A' + i % 26)) + QString::number(i / 26),
                          {20 + (i % 5) * 260, 20 + (i / 5) * 44},
                          22});
    const auto a = NativeVisionCore::analyzeData(renderedtext::png({1320, 650}, labels), true, std::nullopt);
    EXPECT_GT(a.ocrCount, 64) << joined(a).toStdString();
    EXPECT_EQ(a.ocrBlocks.size(), 64);
}

TEST(VisionAnalysis, CutsALongLineToTwoHundredFortyCharacters)
{
    QString line;
    while (line.size() < 300)
        line += QStringLiteral("payment ");
    line = line.left(299) + QLatin1Char('x');
    const auto a =
        NativeVisionCore::analyzeData(renderedtext::png({3200, 60}, {{line, {10, 15}, 18}}), true, std::nullopt);
    ASSERT_EQ(a.ocrBlocks.size(), 1) << joined(a).toStdString();
    EXPECT_EQ(a.ocrBlocks[0].text.size(), 240);
    EXPECT_TRUE(line.startsWith(a.ocrBlocks[0].text.left(200))) << a.ocrBlocks[0].text.toStdString();
}

TEST(VisionAnalysis, ReadsDarkTextOnATransparentBackground)
{
    QImage image(520, 100, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(32);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(20, 25, 480, 50), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Account settings"));
    }
    const auto a = NativeVisionCore::analyzeData(renderedtext::encode(image), true, std::nullopt);
    EXPECT_EQ(joined(a), QStringLiteral("Account settings"));
}

TEST(VisionAnalysis, AOnePixelImageIsAnalysed)
{
    QImage dot(1, 1, QImage::Format_ARGB32);
    dot.fill(Qt::transparent);
    const auto a = NativeVisionCore::analyzeData(renderedtext::encode(dot), false, std::nullopt);
    EXPECT_EQ(a.width, 1);
    EXPECT_EQ(a.height, 1);
    EXPECT_EQ(a.ocrCount, 0);
}

TEST(VisionAnalysis, DetectsDrawnPanelsAsRegions)
{
    // Two framed panels; a frame line is two pixels wide, so edges may land a few pixels out.
    QImage image(800, 500, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawRect(50, 60, 300, 200);
        painter.drawRect(420, 100, 320, 300);
    }
    const auto a = NativeVisionCore::analyzeData(renderedtext::encode(image), true, std::nullopt);
    ASSERT_EQ(a.detectedRegions.size(), 2);
    QList<NativeVisionCore::Box> boxes = a.detectedRegions;
    std::sort(boxes.begin(), boxes.end(), [](const auto &l, const auto &r) { return l.x < r.x; });
    EXPECT_NEAR(boxes[0].x, 50, 4);
    EXPECT_NEAR(boxes[0].y, 60, 4);
    EXPECT_NEAR(boxes[0].width, 300, 8);
    EXPECT_NEAR(boxes[1].height, 300, 8);
}

TEST(VisionAnalysis, PreviousFeaturePrintGivesADistance)
{
    const QByteArray first = renderedtext::png({500, 120}, {{QStringLiteral("Save changes"), {20, 30}, 30}});
    const QByteArray second = renderedtext::png({500, 120}, {{QStringLiteral("Discard changes"), {20, 30}, 30}});
    const auto a = NativeVisionCore::analyzeData(first, true, std::nullopt);
    ASSERT_TRUE(a.featurePrint);
    const auto same = NativeVisionCore::analyzeData(first, true, a.featurePrint);
    const auto changed = NativeVisionCore::analyzeData(second, true, a.featurePrint);
    ASSERT_TRUE(same.perceptualDistance);
    ASSERT_TRUE(changed.perceptualDistance);
    EXPECT_EQ(*same.perceptualDistance, 0.0);
    EXPECT_GT(*changed.perceptualDistance, 0.0);
    // Four decimals.
    EXPECT_DOUBLE_EQ(*changed.perceptualDistance, std::round(*changed.perceptualDistance * 10000) / 10000);

    for (const QString &unusable : {QString(), QStringLiteral("%%%"), QStringLiteral("AAAA")})
        EXPECT_FALSE(NativeVisionCore::analyzeData(first, true, unusable).perceptualDistance) << unusable.toStdString();
}

// A PNG written by hand, for headers no painter would make: a decompression bomb
// announces a size far beyond what its few bytes of data could honestly hold.
QByteArray pngWithHeader(quint32 width, quint32 height, const QByteArray &idat)
{
    const auto crc = [](const QByteArray &bytes) {
        quint32 c = 0xFFFFFFFFu;
        for (const char byte : bytes) {
            c ^= quint8(byte);
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    const auto be32 = [](quint32 v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    const auto chunk = [&](const char *type, const QByteArray &data) {
        const QByteArray typed = QByteArray(type) + data;
        return be32(quint32(data.size())) + typed + be32(crc(typed));
    };
    QByteArray ihdr = be32(width) + be32(height);
    ihdr += QByteArray("\x08\x00\x00\x00\x00", 5); // 8-bit greyscale, no interlace
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", idat) + chunk("IEND", {});
}

QByteArray zlibZeros(int count)
{
    return qCompress(QByteArray(count, '\0'), 9).mid(4); // Qt prefixes the length
}

struct BadInputCase
{
    const char *name;
    QByteArray bytes;
    const char *sentence;
};

class BadImageData : public testing::TestWithParam<BadInputCase>
{
};

TEST_P(BadImageData, FailsWithItsSentence)
{
    try {
        NativeVisionCore::analyzeData(GetParam().bytes, true, std::nullopt);
        FAIL() << "analysed";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QString::fromUtf8(GetParam().sentence));
    }
}

QByteArray validPng()
{
    return renderedtext::png({300, 80}, {{QStringLiteral("Hello"), {10, 10}, 30}});
}

const char *kDecodeFailure = "QImageReader could not decode preview frame.";

INSTANTIATE_TEST_SUITE_P(
    Vision, BadImageData,
    testing::Values(
        BadInputCase{"Empty", QByteArray(), "Vision image buffer is empty or exceeds 20 MiB."},
        BadInputCase{"OverTwentyMiB", QByteArray(20971521, 'x'), "Vision image buffer is empty or exceeds 20 MiB."},
        BadInputCase{"NotAnImage", QByteArray("plain text, not a picture"), kDecodeFailure},
        BadInputCase{"TruncatedPng", validPng().left(validPng().size() / 2), kDecodeFailure},
        BadInputCase{"PngHeaderOnly", validPng().left(33), kDecodeFailure},
        BadInputCase{"GarbageJpeg", QByteArray("\xFF\xD8\xFF\xE0") + QByteArray(4000, '\x5A'), kDecodeFailure},
        BadInputCase{"BombSquare", pngWithHeader(100000, 100000, zlibZeros(100000)), kDecodeFailure},
        BadInputCase{"BombOneRowTooLong", pngWithHeader(40000001, 1, zlibZeros(1000)), kDecodeFailure},
        BadInputCase{"ZeroSized", pngWithHeader(0, 0, zlibZeros(10)), kDecodeFailure},
        BadInputCase{"WiderThanRecognitionReads", pngWithHeader(40000, 20, zlibZeros(20 * 40001)),
                     "Text recognition reads images up to 32767 pixels wide and high."}),
    [](const testing::TestParamInfo<BadInputCase> &info) { return std::string(info.param.name); });

TEST(VisionAnalysis, ReadsJpegToo)
{
    const QImage image = renderedtext::draw({600, 120}, {{QStringLiteral("Quarterly report"), {20, 30}, 34}});
    const auto a = NativeVisionCore::analyzeData(renderedtext::encode(image, "JPG"), true, std::nullopt);
    EXPECT_EQ(joined(a), QStringLiteral("Quarterly report"));
}

class BadFiles : public testing::Test
{
protected:
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString failure(const QString &file) const
    {
        try {
            NativeVisionCore::analyzeFile(QFile::encodeName(file), true, std::nullopt);
        } catch (const HubError &error) {
            return error.description();
        }
        return QStringLiteral("analysed");
    }
    QTemporaryDir m_dir;
};

const QString kFileSentence = QStringLiteral("Vision input must be a regular image file up to 20 MiB.");

TEST_F(BadFiles, EachFailsWithItsSentence)
{
    testsupport::writeFile(path("empty.png"), {});
    testsupport::writeFile(path("over.png"), QByteArray(20971521, 'x'));
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.png")).constData(), 0600), 0);

    EXPECT_EQ(failure(path("missing.png")),
              QStringLiteral("The file \u201Cmissing.png\u201D couldn\u2019t be opened: No such file or directory."));
    EXPECT_EQ(failure(path("empty.png")), kFileSentence);
    EXPECT_EQ(failure(path("over.png")), kFileSentence);
    EXPECT_EQ(failure(path("folder.png")), kFileSentence);
    // Opening does not wait for a writer; the type check refuses it.
    EXPECT_EQ(failure(path("pipe.png")), kFileSentence);
}

TEST_F(BadFiles, ExactlyTwentyMiBPassesTheSizeCheck)
{
    testsupport::writeFile(path("limit.png"), QByteArray(20971520, 'x'));
    EXPECT_EQ(failure(path("limit.png")), QString::fromLatin1(kDecodeFailure));
}

TEST_F(BadFiles, ReadsARealFileByRelativePath)
{
    testsupport::writeFile(path("shot.png"),
                           renderedtext::png({500, 100}, {{QStringLiteral("Welcome back"), {20, 25}, 32}}));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    QString text;
    try {
        text = joined(NativeVisionCore::analyzeFile("shot.png", true, std::nullopt));
    } catch (const HubError &error) {
        text = error.description();
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(text, QStringLiteral("Welcome back"));
}
} // namespace
