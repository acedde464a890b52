#pragma once

#include "vision/NormalizedRect.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cmath>
#include <optional>

// The vision analysis command: reads one screenshot, recognises its text lines, rectangles and a
// feature print, judges the visible copy and reports everything as one line of JSON.
class NativeVisionCore
{
public:
    NativeVisionCore() = delete;

    // Largest input, file or buffer, in bytes (20 MiB).
    static constexpr qint64 kMaxInputBytes = 20971520;
    // Blocks kept in the report and handed to the copy rules.
    static constexpr int kMaxReportedBlocks = 64;
    // Characters (grapheme clusters) kept of one recognised line.
    static constexpr int kMaxBlockCharacters = 240;
    // Blocks whose top edges lie this close (in pixels) read as one row, left to right.
    static constexpr int kRowTolerance = 10;

    // Pixels, origin at the image's top-left corner, y downwards.
    struct Box
    {
        int x = 0;
        int y = 0;
        int width = 1;
        int height = 1;
        friend bool operator==(const Box &, const Box &) = default;
    };

    struct OcrBlock
    {
        QString text;
        double confidence = 0;
        Box box;
    };

    struct CopyQuality
    {
        std::optional<QString> dominantLanguage;
        double languageConfidence = 0;
        qint64 wordCount = 0;
        qint64 sentenceCount = 0;
        QStringList issues;
    };

    struct Analysis
    {
        bool ok = true;
        QString engine;
        QString sdkVersion;
        QString sha256;
        int width = 0;
        int height = 0;
        qint64 elapsedMs = 1;
        std::optional<QString> featurePrint;
        std::optional<double> perceptualDistance;
        qint64 ocrCount = 0;
        QList<OcrBlock> ocrBlocks;
        QList<Box> detectedRegions;
        CopyQuality copyQuality;
    };

    // Parses the whole argument list (executable first) as the process received it, analyses,
    // writes one JSON line to standard output and returns the exit status: 0 after a report, 1
    // after a failed analysis, 2 after a usage error. While it runs, nothing reaches standard
    // error. The arguments stay bytes: a path that is not text in the locale's encoding still
    // names its file.
    static int runCLI(int argc, const char *const *argv);

    // Reads the file through one descriptor and analyses its bytes. `path` is the file system's
    // own bytes, relative to the current directory unless absolute. Throws HubError.
    static Analysis analyzeFile(const QByteArray &path, bool fast,
                                const std::optional<QString> &previousFeaturePrintBase64);
    // Throws HubError.
    static Analysis analyzeData(const QByteArray &data, bool fast,
                                const std::optional<QString> &previousFeaturePrintBase64);

    static Box pixelBox(const NormalizedRect &rect, int width, int height);

    // Rows of blocks whose top edges lie within kRowTolerance of the row's first block, rows top to
    // bottom, blocks of a row left to right. A strict weak ordering, unlike a pairwise "close enough"
    // comparison, so the result never depends on the sort's internals.
    static void orderForReading(QList<OcrBlock> &blocks);

    static CopyQuality evaluateCopyQuality(const QString &text, const QList<OcrBlock> &blocks);

    // The report as one line of JSON without its line feed. Throws HubError when a number cannot be
    // written (not finite).
    static QByteArray reportJSON(const Analysis &analysis);
    // The failure object {"error","ok":false} as one line of JSON; empty when it cannot be serialised.
    static QByteArray failureJSON(const QString &error);

    // The usage sentence of the command.
    static QString usageSentence();
};

// `value` rounded to a multiple of 1 / scale, as the report writes its figures.
inline double roundTo(double value, double scale)
{
    return std::round(value * scale) / scale;
}
