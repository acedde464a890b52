#include "vision/TextRecognizer.h"

#include "core/HubError.h"

#include <QFileInfo>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#ifdef HUB_TESSERACT_OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

namespace
{
constexpr const char *kLanguage = "eng";
// The engine keeps coordinates in 16-bit fields and refuses larger pages.
constexpr int kMaxSide = 32767;

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

std::vector<TextRecognizer::Line> TextRecognizer::recognize(const QImage &grey, bool fast, double minimumTextHeight)
{
    if (grey.width() > kMaxSide || grey.height() > kMaxSide)
        throw HubError(QStringLiteral("Text recognition reads images up to 32767 pixels wide and high."));
    silenceEngine();
    const QByteArray dataPath = QFile::encodeName(tessdataPath());

#ifdef HUB_TESSERACT_OPENMP
    // The engine asks for fixed team sizes inside every line; on a busy machine the waiting team
    // members spin, and one recognition of a screenshot took minutes instead of a second or two.
    // A dynamic team (a setting of the calling thread) shrinks to the processors that are free.
    omp_set_dynamic(1);
#endif

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
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    // Screens carry no resolution; a typical one keeps the engine from guessing (and saying so).
    api.SetSourceResolution(96);
    if (api.Recognize(nullptr) != 0)
        throw HubError(QStringLiteral("Text recognition failed on this image."));

    std::vector<Line> lines;
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return lines;
    const double minimumHeight = minimumTextHeight * grey.height();
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
        line.bounds =
            NormalizedRect::fromPixels(QRectF(left, top, right - left, bottom - top), grey.width(), grey.height());
        lines.push_back(std::move(line));
    } while (it->Next(level));
    return lines;
}
