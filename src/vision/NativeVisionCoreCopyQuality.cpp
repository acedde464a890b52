#include "vision/NativeVisionCore.h"

#include "core/GraphemeText.h"
#include "vision/LanguageRecognizer.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace
{
constexpr int kMaxDuplicateWords = 4;
constexpr int kMinDuplicateKeyCharacters = 4;
constexpr int kMaxOverlapBlocks = 40;
constexpr int kMaxOverlaps = 2;

struct PatternRule
{
    const char *pattern;
    const char *issue;
};

// Order matters: issues are reported in this order.
constexpr std::array<PatternRule, 6> kPatternRules{{
    {R"(\bundefined\b)", "Rendered literal 'undefined' in visible UI"},
    {R"(\bNaN\b)", "Rendered literal 'NaN' in visible UI"},
    {R"(\[object Object\])", "Rendered '[object Object]' stringification defect"},
    {R"(\{\{[^}]+\}\})", "Uninterpolated template expression '{{...}}' visible"},
    {R"((?i)lorem ipsum)", "Placeholder 'lorem ipsum' copy visible"},
    {"\\x{FFFD}", "Replacement character (encoding corruption) visible"},
}};

const std::array<QRegularExpression, kPatternRules.size()> &compiledRules()
{
    // Unicode properties make \b and case folding follow Unicode, not ASCII only.
    static const auto rules = [] {
        std::array<QRegularExpression, kPatternRules.size()> compiled;
        for (size_t i = 0; i < kPatternRules.size(); ++i)
            compiled[i] = QRegularExpression(QString::fromLatin1(kPatternRules[i].pattern),
                                             QRegularExpression::UseUnicodePropertiesOption);
        return compiled;
    }();
    return rules;
}

// Counts the segments between consecutive boundaries of `type` for which `counts` holds.
qint64 countSegments(QTextBoundaryFinder::BoundaryType type, const QString &text,
                     const std::function<bool(QStringView)> &counts)
{
    QTextBoundaryFinder finder(type, text);
    qint64 count = 0;
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
        if (next > start && counts(QStringView(text).mid(start, next - start)))
            ++count;
        start = next;
    }
    return count;
}

bool hasWordCharacter(QStringView segment)
{
    return std::any_of(segment.begin(), segment.end(), [](QChar c) { return c.isLetterOrNumber() || c.isMark(); });
}

bool hasVisibleCharacter(QStringView segment)
{
    return std::any_of(segment.begin(), segment.end(), [](QChar c) { return !c.isSpace(); });
}

bool hasDecimalDigit(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::any_of(codePoints.begin(), codePoints.end(), [](uint c) { return QChar::isDigit(char32_t(c)); });
}

QString trimPunctuation(const QString &word)
{
    const QList<uint> codePoints = word.toUcs4();
    qsizetype first = 0;
    qsizetype last = codePoints.size();
    while (first < last && QChar::isPunct(char32_t(codePoints[first])))
        ++first;
    while (last > first && QChar::isPunct(char32_t(codePoints[last - 1])))
        --last;
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()) + first, last - first);
}

// Repeated words inside one block ("Save save"), in the spelling of their second occurrence.
QStringList adjacentDuplicates(const QList<NativeVisionCore::OcrBlock> &blocks)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QStringList recorded;
    for (const NativeVisionCore::OcrBlock &block : blocks) {
        const QStringList pieces = block.text.split(whitespace, Qt::SkipEmptyParts);
        if (pieces.size() < 2)
            continue;
        QString previous;
        for (const QString &piece : pieces) {
            const QString word = trimPunctuation(piece);
            QString key = word.toLower();
            if (recorded.size() < kMaxDuplicateWords && key == previous &&
                graphemes::count(key) >= kMinDuplicateKeyCharacters && !hasDecimalDigit(key))
                recorded.append(word);
            previous = std::move(key);
        }
    }
    return recorded;
}

// Pairs of text boxes that cover most of the smaller one: text drawn over text. Stops at two.
int overlappingPairs(const QList<NativeVisionCore::OcrBlock> &blocks)
{
    const qsizetype limit = std::min<qsizetype>(blocks.size(), kMaxOverlapBlocks);
    int count = 0;
    for (qsizetype i = 0; i + 1 < limit && count < kMaxOverlaps; ++i) {
        const NativeVisionCore::Box &a = blocks[i].box;
        for (qsizetype k = i + 1; k < limit; ++k) {
            const NativeVisionCore::Box &b = blocks[k].box;
            // 64-bit: boxes come from images up to tens of thousands of pixels wide.
            const qint64 overlapWidth =
                std::min<qint64>(qint64(a.x) + a.width, qint64(b.x) + b.width) - std::max(a.x, b.x);
            const qint64 overlapHeight =
                std::min<qint64>(qint64(a.y) + a.height, qint64(b.y) + b.height) - std::max(a.y, b.y);
            if (overlapHeight <= 8 || overlapWidth <= 12)
                continue;
            const double smaller = std::max(1.0, std::min(double(a.width) * a.height, double(b.width) * b.height));
            if (double(overlapWidth) * double(overlapHeight) / smaller > 0.65) {
                ++count;
                break;
            }
        }
    }
    return count;
}
} // namespace

NativeVisionCore::CopyQuality NativeVisionCore::evaluateCopyQuality(const QString &text, const QList<OcrBlock> &blocks)
{
    CopyQuality quality;
    if (text.isEmpty())
        return quality;

    const LanguageRecognizer::Guess language = LanguageRecognizer::dominant(text);
    quality.dominantLanguage = language.identifier;
    quality.languageConfidence = language.identifier ? roundTo(language.probability, 1000) : 0;

    quality.wordCount = countSegments(QTextBoundaryFinder::Word, text, hasWordCharacter);
    const QStringList duplicates = adjacentDuplicates(blocks);
    quality.sentenceCount = countSegments(QTextBoundaryFinder::Sentence, text, hasVisibleCharacter);

    const auto &rules = compiledRules();
    for (size_t i = 0; i < rules.size(); ++i) {
        if (rules[i].match(text).hasMatch())
            quality.issues.append(QString::fromLatin1(kPatternRules[i].issue));
    }
    if (!duplicates.isEmpty())
        quality.issues.append(QStringLiteral("Adjacent duplicate words detected: ") +
                              duplicates.join(QStringLiteral(", ")));
    if (const int overlaps = overlappingPairs(blocks); overlaps > 0)
        quality.issues.append(
            QStringLiteral("Detected %1 overlapping text region(s) suggesting UI text collision or overflow")
                .arg(overlaps));
    return quality;
}
