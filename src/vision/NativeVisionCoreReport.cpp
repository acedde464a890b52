#include "vision/NativeVisionCore.h"

#include "core/HubError.h"
#include "core/Json.h"

#include <cmath>

namespace
{
// Whole values are written as integers and everything else in the shortest form that reads back
// as the same double, so 0 is "0" and a confidence of 0.5 is "0.5".
Json number(double value)
{
    if (!std::isfinite(value))
        throw HubError(QStringLiteral("The vision report could not be written: a number is not finite."));
    constexpr double kExactIntegers = 9007199254740992.0; // 2^53
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers)
        return Json(static_cast<std::int64_t>(value));
    return Json(value);
}

Json text(const QString &value)
{
    return Json(value.toStdString());
}

Json box(const NativeVisionCore::Box &b)
{
    return Json{{"x", b.x}, {"y", b.y}, {"width", b.width}, {"height", b.height}};
}

// Keys come out sorted (the object is an ordered map) and without insignificant whitespace; the
// forward slash is escaped as well, which matters for Base64 text. A slash can only stand inside a
// string in JSON text, so escaping every one of them in the output is exact. Throws
// Json::type_error on text that is not valid UTF-8.
QByteArray encode(const Json &value)
{
    const std::string dumped = value.dump(-1, ' ', false, Json::error_handler_t::strict);
    QByteArray out;
    out.reserve(qsizetype(dumped.size()) + 64);
    for (const char c : dumped) {
        if (c == '/')
            out.append("\\/", 2);
        else
            out.append(c);
    }
    return out;
}
} // namespace

QByteArray NativeVisionCore::reportJSON(const Analysis &analysis)
{
    Json blocks = Json::array();
    for (const OcrBlock &block : analysis.ocrBlocks)
        blocks.push_back(
            Json{{"text", text(block.text)}, {"confidence", number(block.confidence)}, {"box", box(block.box)}});
    Json regions = Json::array();
    for (const Box &region : analysis.detectedRegions)
        regions.push_back(box(region));

    const CopyQuality &quality = analysis.copyQuality;
    Json issues = Json::array();
    for (const QString &issue : quality.issues)
        issues.push_back(text(issue));
    Json copy{{"languageConfidence", number(quality.languageConfidence)},
              {"wordCount", quality.wordCount},
              {"sentenceCount", quality.sentenceCount},
              {"issues", std::move(issues)}};
    if (quality.dominantLanguage)
        copy["dominantLanguage"] = text(*quality.dominantLanguage);

    Json report{{"ok", analysis.ok},
                {"engine", text(analysis.engine)},
                {"sdkVersion", text(analysis.sdkVersion)},
                {"sha256", text(analysis.sha256)},
                {"width", analysis.width},
                {"height", analysis.height},
                {"elapsedMs", analysis.elapsedMs},
                {"ocrCount", analysis.ocrCount},
                {"ocrBlocks", std::move(blocks)},
                {"detectedRegions", std::move(regions)},
                {"copyQuality", std::move(copy)}};
    if (analysis.featurePrint)
        report["featurePrint"] = text(*analysis.featurePrint);
    if (analysis.perceptualDistance)
        report["perceptualDistance"] = number(*analysis.perceptualDistance);
    try {
        return encode(report);
    } catch (const Json::exception &) {
        throw HubError(
            QStringLiteral("The vision report could not be written: it holds text that is not valid UTF-8."));
    }
}

QByteArray NativeVisionCore::failureJSON(const QString &error)
{
    try {
        return encode(Json{{"ok", false}, {"error", text(error)}});
    } catch (const Json::exception &) {
        return {};
    }
}

QString NativeVisionCore::usageSentence()
{
    return QStringLiteral(
        "Usage: tavrilo-hub --vision-analyze <image-path> [--fast] [--previous-feature-print <base64>]");
}
