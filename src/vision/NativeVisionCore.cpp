#include "vision/NativeVisionCore.h"

#include "core/GraphemeText.h"
#include "core/HubError.h"
#include "core/RegularFile.h"
#include "core/WriteAll.h"
#include "vision/FeaturePrint.h"
#include "vision/RectangleDetector.h"
#include "vision/ScreenshotDecoder.h"
#include "vision/TextRecognizer.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr double kMinimumTextHeight = 0.008;
constexpr RectangleDetector::Limits kRectangleLimits{16, 0.55, 0.05, 0.04};

QString fileSizeSentence()
{
    return QStringLiteral("Vision input must be a regular image file up to 20 MiB.");
}

QString systemReason(int error)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not live in `buffer`.
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

// The file's name for the sentence: its last component, decoded for reading only.
QString displayName(const QByteArray &path)
{
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

QString openFailureSentence(const QByteArray &path, int error)
{
    return QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened: %2.")
        .arg(displayName(path), systemReason(error));
}

// One descriptor from check to last byte: what is checked is what is read, and the file is copied
// rather than mapped, so a file cut short meanwhile gives fewer bytes instead of a fault.
QByteArray readInputFile(const QByteArray &path)
{
    if (path.isEmpty())
        throw HubError(openFailureSentence(path, ENOENT));
    RegularFile file = RegularFile::open(path, O_RDONLY);
    switch (file.status()) {
    case RegularFile::Status::Opened:
        break;
    case RegularFile::Status::OpenFailed:
    case RegularFile::Status::StatFailed:
        throw HubError(openFailureSentence(path, file.error()));
    case RegularFile::Status::NotRegular:
        throw HubError(fileSizeSentence());
    }
    if (file.info().st_size < 1 || file.info().st_size > NativeVisionCore::kMaxInputBytes)
        throw HubError(fileSizeSentence());

    // One byte beyond the limit tells a file that grew past it since the check.
    const std::optional<QByteArray> bytes = file.read(NativeVisionCore::kMaxInputBytes + 1);
    if (!bytes)
        throw HubError(QStringLiteral("The file \u201C%1\u201D couldn\u2019t be read: %2.")
                           .arg(displayName(path), systemReason(file.error())));
    if (bytes->isEmpty() || bytes->size() > NativeVisionCore::kMaxInputBytes)
        throw HubError(fileSizeSentence());
    return *bytes;
}

long roundToPixel(double value)
{
    // Far outside any image, still a defined integer.
    return std::lround(std::clamp(value, -1e9, 1e9));
}

// One line on standard output, or nothing when there is nothing to say.
void writeLine(const QByteArray &line)
{
    if (!line.isEmpty())
        writeAll(STDOUT_FILENO, line + '\n');
}

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

// Decoders and engines beneath us write warnings straight to standard error (libpng, libjpeg, the
// recognition engine); the command promises one JSON line on standard output and nothing else. For
// as long as the command runs, standard error leads to /dev/null and Qt's messages nowhere; both
// come back when it returns, for whatever the process does next.
class QuietStandardError
{
public:
    QuietStandardError() : m_previousHandler(qInstallMessageHandler(discardMessage))
    {
        std::fflush(stderr);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull >= 0) {
            ::dup2(devNull, STDERR_FILENO);
            ::close(devNull);
        }
    }
    ~QuietStandardError()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
        qInstallMessageHandler(m_previousHandler);
    }
    QuietStandardError(const QuietStandardError &) = delete;
    QuietStandardError &operator=(const QuietStandardError &) = delete;

private:
    QtMessageHandler m_previousHandler;
    int m_saved = -1;
};

} // namespace

int NativeVisionCore::runCLI(int argc, const char *const *argv)
{
    const QuietStandardError quiet;
    const auto first = [argc, argv](const char *option) {
        for (int i = 0; i < argc; ++i) {
            if (std::strcmp(argv[i], option) == 0)
                return i;
        }
        return -1;
    };
    const int command = first("--vision-analyze");
    if (command < 0 || command + 1 >= argc) {
        writeLine(failureJSON(usageSentence()));
        return 2;
    }
    const QByteArray path(argv[command + 1]);
    const bool fast = first("--accurate") < 0;
    std::optional<QString> previous;
    if (const int option = first("--previous-feature-print"); option >= 0 && option + 1 < argc)
        previous = QString::fromLocal8Bit(argv[option + 1]);

    try {
        writeLine(reportJSON(analyzeFile(path, fast, previous)));
        return 0;
    } catch (const std::exception &error) {
        writeLine(failureJSON(errorDescription(error)));
    } catch (...) {
        writeLine(failureJSON(QStringLiteral("The operation couldn't be completed.")));
    }
    return 1;
}

NativeVisionCore::Analysis NativeVisionCore::analyzeFile(const QByteArray &path, bool fast,
                                                         const std::optional<QString> &previousFeaturePrintBase64)
{
    return analyzeData(readInputFile(path), fast, previousFeaturePrintBase64);
}

NativeVisionCore::Analysis NativeVisionCore::analyzeData(const QByteArray &data, bool fast,
                                                         const std::optional<QString> &previousFeaturePrintBase64)
{
    if (data.isEmpty() || data.size() > kMaxInputBytes)
        throw HubError(QStringLiteral("Vision image buffer is empty or exceeds 20 MiB."));
    const auto start = std::chrono::steady_clock::now();

    Analysis analysis;
    analysis.engine = QStringLiteral("tesseract-opencv-cld2");
    analysis.sdkVersion = QStringLiteral("tesseract-%1-opencv-%2")
                              .arg(TextRecognizer::engineVersion(), RectangleDetector::engineVersion());
    analysis.sha256 = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());

    const QImage image = ScreenshotDecoder::decode(data);
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    analysis.width = image.width();
    analysis.height = image.height();

    const std::vector<TextRecognizer::Line> lines = TextRecognizer::recognize(grey, fast, kMinimumTextHeight);
    const FeaturePrint print = FeaturePrint::compute(image, grey);
    const std::vector<RectangleDetector::Observation> rectangles = RectangleDetector::detect(grey, kRectangleLimits);

    QList<OcrBlock> blocks;
    for (const TextRecognizer::Line &line : lines) {
        const QString trimmed = line.text.trimmed();
        if (trimmed.isEmpty())
            continue;
        blocks.append({graphemes::first(trimmed, kMaxBlockCharacters), roundTo(line.confidence, 1000),
                       pixelBox(line.bounds, analysis.width, analysis.height)});
    }
    orderForReading(blocks);
    analysis.ocrCount = blocks.size();
    if (blocks.size() > kMaxReportedBlocks)
        blocks.resize(kMaxReportedBlocks);
    analysis.ocrBlocks = blocks;

    for (const RectangleDetector::Observation &rectangle : rectangles) {
        if (analysis.detectedRegions.size() >= kRectangleLimits.maximumObservations)
            break;
        analysis.detectedRegions.append(pixelBox(rectangle.bounds, analysis.width, analysis.height));
    }

    analysis.featurePrint = print.toBase64();
    if (previousFeaturePrintBase64 && !previousFeaturePrintBase64->isEmpty()) {
        // A print that does not parse is not an error of this run: the distance is only left out.
        if (const auto previous = FeaturePrint::fromBase64(*previousFeaturePrintBase64))
            analysis.perceptualDistance = roundTo(print.distance(*previous), 10000);
    }

    QStringList texts;
    for (const OcrBlock &block : analysis.ocrBlocks)
        texts.append(block.text);
    analysis.copyQuality = evaluateCopyQuality(texts.join(QLatin1Char('\n')), analysis.ocrBlocks);

    const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    analysis.elapsedMs = std::max<qint64>(1, std::llround(elapsed));
    return analysis;
}

NativeVisionCore::Box NativeVisionCore::pixelBox(const NormalizedRect &rect, int width, int height)
{
    const double w = width;
    const double h = height;
    return Box{int(std::max(0L, roundToPixel(rect.x * w))),
               int(std::max(0L, roundToPixel((1.0 - rect.y - rect.height) * h))),
               int(std::max(1L, roundToPixel(rect.width * w))), int(std::max(1L, roundToPixel(rect.height * h)))};
}

void NativeVisionCore::orderForReading(QList<OcrBlock> &blocks)
{
    // Top to bottom first (ties left to right); the stable sort keeps equal boxes in input order.
    std::stable_sort(blocks.begin(), blocks.end(), [](const OcrBlock &a, const OcrBlock &b) {
        return a.box.y != b.box.y ? a.box.y < b.box.y : a.box.x < b.box.x;
    });
    // Then cut into rows, each opened by its topmost block, and order each row left to right.
    auto rowStart = blocks.begin();
    while (rowStart != blocks.end()) {
        const int rowTop = rowStart->box.y;
        auto rowEnd = std::find_if(rowStart, blocks.end(),
                                   [rowTop](const OcrBlock &b) { return qint64(b.box.y) - rowTop > kRowTolerance; });
        std::stable_sort(rowStart, rowEnd, [](const OcrBlock &a, const OcrBlock &b) { return a.box.x < b.box.x; });
        rowStart = rowEnd;
    }
}
