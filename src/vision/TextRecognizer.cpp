#include "vision/TextRecognizer.h"

#include "core/HubError.h"

#include <QFileInfo>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#ifdef HUB_TESSERACT_OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace
{
constexpr const char *kLanguage = "eng";
// The engine keeps coordinates in 16-bit fields and refuses larger pages.
constexpr int kMaxSide = 32767;
// The local background is the median of a square this wide around each pixel (in pixels of an
// ordinary-density screen): wide enough that the strokes of bold headings stay a minority in it,
// narrow enough that the fill of a small button or badge is still the majority inside it.
constexpr int kBackgroundWindow = 21;
// Contrast with the background is doubled, so that the anti-aliased grey of thin strokes in small
// text reads as ink, while faint borders and separators stay light.
constexpr double kContrastGain = 2.0;
constexpr int kAccurateEnlargement = 2;

// Engine messages go through its debug file, which would otherwise be standard error; the image
// library beneath it has a severity switch of its own. Both are process-wide, so set them once.
void silenceEngine()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setMsgSeverity(L_SEVERITY_NONE);
        tesseract::TessBaseAPI quiet;
        quiet.SetVariable("debug_file", "/dev/null");
    });
}

// Our image is only read; OpenCV wraps it without copying.
cv::Mat wrap(const QImage &grey)
{
    return cv::Mat(grey.height(), grey.width(), CV_8UC1, const_cast<uchar *>(grey.constBits()),
                   size_t(grey.bytesPerLine()));
}

bool ofOrdinaryDensity(const cv::Mat &image)
{
    return std::max(image.cols, image.rows) <= TextRecognizer::kOrdinaryDensityMaxSide;
}

// Text as dark ink on a white page, whatever its colours were: each pixel becomes its distance from
// the local background, so light text on a coloured button, a badge or a dark theme reads like dark
// text on paper, and every background, light or dark, becomes white. No global threshold: each
// part of the screen is measured against its own surroundings. On a high-density screen the
// background is estimated on a half-size copy, where its text has the size the window is made for.
cv::Mat normalisePolarity(const cv::Mat &grey)
{
    cv::Mat background;
    if (ofOrdinaryDensity(grey)) {
        cv::medianBlur(grey, background, kBackgroundWindow);
    } else {
        cv::Mat half;
        cv::resize(grey, half, cv::Size(std::max(1, grey.cols / 2), std::max(1, grey.rows / 2)), 0, 0, cv::INTER_AREA);
        cv::medianBlur(half, half, (kBackgroundWindow / 2) | 1);
        cv::resize(half, background, grey.size(), 0, 0, cv::INTER_LINEAR);
    }
    cv::Mat contrast;
    cv::absdiff(grey, background, contrast);
    contrast.convertTo(contrast, CV_8U, kContrastGain); // saturates at 255
    cv::Mat page;
    cv::subtract(cv::Scalar(255), contrast, page);
    return page;
}

// Separate pieces of ink in a binary page (ink non-zero): runs of ink in a row that touch no ink of
// the row above. Each connected shape counts once per local top, so this is at least the number of
// shapes and close to it for text and noise alike; it needs no memory beyond the page.
qint64 inkPieces(const cv::Mat &ink)
{
    qint64 pieces = 0;
    for (int y = 0; y < ink.rows; ++y) {
        const uchar *row = ink.ptr<uchar>(y);
        const uchar *above = y > 0 ? ink.ptr<uchar>(y - 1) : nullptr;
        int x = 0;
        while (x < ink.cols) {
            if (!row[x]) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < ink.cols && row[x])
                ++x;
            bool touches = false;
            if (above) {
                for (int k = std::max(0, start - 1); k <= std::min(ink.cols - 1, x) && !touches; ++k)
                    touches = above[k] != 0;
            }
            if (!touches)
                ++pieces;
        }
    }
    return pieces;
}

// The engine's monitor covers its reading of words only: the page layout before the first word and
// the grouping into paragraphs after the last cannot be stopped, and their time grows with the
// separate marks on the page, on noise far faster than linearly. A screen holds a few thousand
// (1440 x 900: 700 to 1,900 on the outside screens). Measured on one thread of a busy machine:
// coloured noise of 20,000 marks took 36 s in all, of 30,000 68 s, of 49,000 more than 200 s;
// 40 megapixels of dense 14-pixel text (430,000 marks) spent 18 s in layout alone. Pages beyond
// this many marks are refused before the engine starts.
constexpr qint64 kMaxInkPieces = 20000;

// Ink as the engine will see it: the page cut at one threshold chosen between ink and paper.
cv::Mat inkOf(const cv::Mat &page)
{
    cv::Mat ink;
    cv::threshold(page, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    return ink;
}

// A piece of ink is taken for an outline when it is at least this tall and wide (in pixels of an
// ordinary-density screen), more than a line of body text, and covers less than this share of its
// bounding box: a letter covers a fifth or more of its box even when large and thin ("L", "T",
// "/"), the frame of a field or a button or the grid of a table a tenth or less.
constexpr int kOutlineMinSide = 14;
constexpr double kOutlineMaxFill = 0.15;

// Frames around fields and buttons and the grids of tables are not text, but the engine takes a
// frame drawn close around a label for one large mark holding the letters, and then reads the label
// as part of a picture (not at all) or the frame's edges as brackets beside it. Desktop toolkits
// draw such frames in full contrast a few pixels from their labels: they are painted out as paper.
void eraseOutlines(cv::Mat &page, const cv::Mat &ink)
{
    const int minSide = ofOrdinaryDensity(page) ? kOutlineMinSide : 2 * kOutlineMinSide;
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    // 16-bit labels: the page holds at most kMaxInkPieces pieces of ink (checked before), where each
    // connected piece counts at least once.
    static_assert(kMaxInkPieces < 65535);
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_16U);
    std::vector<uchar> outline(size_t(count), 0);
    bool any = false;
    for (int i = 1; i < count; ++i) {
        const int width = stats.at<int>(i, cv::CC_STAT_WIDTH);
        const int height = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        outline[size_t(i)] = width >= minSide && height >= minSide &&
                             stats.at<int>(i, cv::CC_STAT_AREA) < kOutlineMaxFill * double(width) * double(height);
        any = any || outline[size_t(i)];
    }
    if (!any)
        return;
    for (int y = 0; y < page.rows; ++y) {
        const ushort *label = labels.ptr<ushort>(y);
        uchar *row = page.ptr<uchar>(y);
        for (int x = 0; x < page.cols; ++x) {
            if (outline[size_t(label[x])])
                row[x] = 255;
        }
    }
}

QString refusalSentence(std::chrono::milliseconds deadline)
{
    return QStringLiteral("Text recognition refused the image: it holds more text or detail than can be read within "
                          "%1 seconds.")
        .arg(QString::number(double(deadline.count()) / 1000.0));
}

#ifdef HUB_TESSERACT_OPENMP
// Keeps every parallel region started on this thread to the thread itself while it lives. The
// engine asks for fixed team sizes many times per text line; against other work on the machine the
// waiting team members spin and the analysis of one screen took minutes, where one thread takes
// about the same time as the team at rest (bench/VisionBench.cpp measures both).
class OneRecognitionThread
{
public:
    OneRecognitionThread() : m_previous(omp_get_max_active_levels()) { omp_set_max_active_levels(0); }
    ~OneRecognitionThread() { omp_set_max_active_levels(m_previous); }
    OneRecognitionThread(const OneRecognitionThread &) = delete;
    OneRecognitionThread &operator=(const OneRecognitionThread &) = delete;

private:
    int m_previous;
};
#else
struct OneRecognitionThread
{
};
#endif

// The engine asks its monitor whether to go on before each word: past the deadline, the answer is no.
struct Deadline
{
    std::chrono::steady_clock::time_point at;
    bool passed = false;

    static bool beforeWord(void *deadline, int /*dictionaryWords*/)
    {
        auto *self = static_cast<Deadline *>(deadline);
        self->passed = std::chrono::steady_clock::now() >= self->at;
        return self->passed;
    }
};

struct TextDeleter
{
    void operator()(char *text) const { delete[] text; }
};
} // namespace

QString TextRecognizer::engineVersion()
{
    return QString::fromLatin1(tesseract::TessBaseAPI::Version());
}

QString TextRecognizer::tessdataPath()
{
    const auto holdsModel = [](const QString &folder) {
        return !folder.isEmpty() &&
               QFileInfo(folder + QLatin1Char('/') + QLatin1String(kLanguage) + QLatin1String(".traineddata")).isFile();
    };
    // The variable names the data folder itself, or (as older releases read it) its parent.
    const QString configured = qEnvironmentVariable("TESSDATA_PREFIX");
    for (const QString &folder : {configured, configured + QStringLiteral("/tessdata")}) {
        if (!configured.isEmpty() && holdsModel(folder))
            return folder;
    }
    for (const char *folder : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                               "/usr/share/tessdata", "/usr/local/share/tessdata"}) {
        if (holdsModel(QString::fromLatin1(folder)))
            return QString::fromLatin1(folder);
    }
    throw HubError(QStringLiteral("Text recognition needs the English Tesseract data (eng.traineddata): install "
                                  "tesseract-ocr-eng or set TESSDATA_PREFIX to the folder that holds it."));
}

QString TextRecognizer::deadlineSentence(std::chrono::milliseconds deadline)
{
    return QStringLiteral("Text recognition was stopped after %1 seconds: the image holds more text or detail than "
                          "can be read in that time.")
        .arg(QString::number(double(deadline.count()) / 1000.0));
}

std::vector<TextRecognizer::Line> TextRecognizer::recognize(const QImage &grey, bool fast, double minimumTextHeight,
                                                            std::chrono::milliseconds deadline)
{
    Deadline stop{std::chrono::steady_clock::now() + deadline};

    if (grey.width() > kMaxSide || grey.height() > kMaxSide)
        throw HubError(QStringLiteral("Text recognition reads images up to 32767 pixels wide and high."));
    silenceEngine();
    const QByteArray dataPath = QFile::encodeName(tessdataPath());

    const OneRecognitionThread oneThread;

    tesseract::TessBaseAPI api;
    // The dictionaries drive the engine's language correction; they can only be chosen at start.
    std::vector<std::string> names;
    std::vector<std::string> values;
    if (fast) {
        names = {"load_system_dawg", "load_freq_dawg"};
        values = {"0", "0"};
    }
    if (api.Init(dataPath.constData(), kLanguage, tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0)
        throw HubError(QStringLiteral("Text recognition could not load its English data from %1.")
                           .arg(QString::fromLocal8Bit(dataPath)));
    api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
    cv::Mat page = normalisePolarity(wrap(grey));
    const cv::Mat ink = inkOf(page);
    if (inkPieces(ink) > kMaxInkPieces)
        throw HubError(refusalSentence(deadline));
    eraseOutlines(page, ink);
    // Small text at one pixel per point loses thin letters in the engine's segmentation; read at
    // twice the size, it keeps them.
    const double scale = !fast && ofOrdinaryDensity(page) ? kAccurateEnlargement : 1;
    if (scale != 1)
        cv::resize(page, page, cv::Size(), scale, scale, cv::INTER_CUBIC);
    api.SetImage(page.data, page.cols, page.rows, 1, int(page.step));
    // Screens carry no resolution; a typical one keeps the engine from guessing (and saying so).
    api.SetSourceResolution(int(96 * scale));

    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &Deadline::beforeWord;
    monitor.cancel_this = &stop;
    const int recognized = api.Recognize(&monitor);
    if (stop.passed)
        throw HubError(deadlineSentence(deadline));
    if (recognized != 0)
        throw HubError(QStringLiteral("Text recognition failed on this image."));

    std::vector<Line> lines;
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return lines;
    const double minimumHeight = minimumTextHeight * page.rows;
    constexpr auto level = tesseract::RIL_TEXTLINE;
    do {
        if (it->Empty(level))
            continue;
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!it->BoundingBox(level, &left, &top, &right, &bottom) || bottom - top < minimumHeight)
            continue;
        const std::unique_ptr<char, TextDeleter> text(it->GetUTF8Text(level));
        if (!text)
            continue;
        Line line;
        line.text = QString::fromUtf8(text.get());
        line.confidence = std::clamp(double(it->Confidence(level)) / 100.0, 0.0, 1.0);
        line.bounds = NormalizedRect::fromPixels(QRectF(left, top, right - left, bottom - top), page.cols, page.rows);
        lines.push_back(std::move(line));
    } while (it->Next(level));
    return lines;
}
