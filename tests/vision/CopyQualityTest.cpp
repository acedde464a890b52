#include "vision/NativeVisionCore.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace
{
using Block = NativeVisionCore::OcrBlock;
using Box = NativeVisionCore::Box;

Block block(const QString &text, Box box = {0, 0, 100, 20})
{
    return Block{text, 0.9, box};
}

// The copy rules see the blocks' texts joined by line feeds, as the analysis hands them over.
NativeVisionCore::CopyQuality evaluate(const QList<Block> &blocks)
{
    QStringList texts;
    for (const Block &b : blocks)
        texts.append(b.text);
    return NativeVisionCore::evaluateCopyQuality(texts.join(QLatin1Char('\n')), blocks);
}

struct IssueCase
{
    const char *name;
    QList<QString> blockTexts;
    QStringList issues;
};

class CopyIssues : public testing::TestWithParam<IssueCase>
{
};

TEST_P(CopyIssues, ReportsExactlyTheseIssuesInTableOrder)
{
    QList<Block> blocks;
    int y = 0;
    for (const QString &text : GetParam().blockTexts) {
        blocks.append(block(text, {0, y, 300, 20}));
        y += 40; // apart: no overlap issue
    }
    EXPECT_EQ(evaluate(blocks).issues, GetParam().issues);
}

const QString kUndefined = QStringLiteral("Rendered literal 'undefined' in visible UI");
const QString kNaN = QStringLiteral("Rendered literal 'NaN' in visible UI");
const QString kObject = QStringLiteral("Rendered '[object Object]' stringification defect");
const QString kTemplate = QStringLiteral("Uninterpolated template expression '{{...}}' visible");
const QString kLorem = QStringLiteral("Placeholder 'lorem ipsum' copy visible");
const QString kReplacement = QStringLiteral("Replacement character (encoding corruption) visible");
QString duplicates(const char *words)
{
    return QStringLiteral("Adjacent duplicate words detected: ") + QString::fromUtf8(words);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CopyIssues,
    testing::Values(
        IssueCase{"CleanCopy", {QStringLiteral("Save your changes before leaving.")}, {}},
        IssueCase{"Undefined", {QStringLiteral("Owner: undefined")}, {kUndefined}},
        IssueCase{"UndefinedInsideWordIsFine", {QStringLiteral("undefinedValue is set")}, {}},
        IssueCase{"NaN", {QStringLiteral("Total: NaN")}, {kNaN}},
        IssueCase{"LowerCaseNanIsFine", {QStringLiteral("Grandma's nan bakes")}, {}},
        IssueCase{"ObjectObject", {QStringLiteral("Name: [object Object]")}, {kObject, duplicates("Object")}},
        IssueCase{"Template", {QStringLiteral("Hello {{name}}, welcome")}, {kTemplate}},
        IssueCase{"EmptyTemplateIsFine", {QStringLiteral("Hello {{}} there")}, {}},
        IssueCase{"LoremAnyCase", {QStringLiteral("LOREM Ipsum dolor")}, {kLorem}},
        IssueCase{"Mojibake", {QStringLiteral("Caf\uFFFD au lait")}, {kReplacement}},
        IssueCase{
            "SeveralMatchesOneIssue", {QStringLiteral("undefined"), QStringLiteral("undefined again")}, {kUndefined}},
        IssueCase{"TableOrderThenDuplicates",
                  {QStringLiteral("lorem ipsum"), QStringLiteral("\uFFFD NaN {{x}} undefined"),
                   QStringLiteral("Total total")},
                  {kUndefined, kNaN, kTemplate, kLorem, kReplacement, duplicates("total")}},
        IssueCase{"DuplicateKeepsSecondSpelling", {QStringLiteral("Total total")}, {duplicates("total")}},
        IssueCase{"DuplicateIgnoresEndPunctuation", {QStringLiteral("Save, save.")}, {duplicates("save")}},
        IssueCase{"ShortWordsAreNotDuplicates", {QStringLiteral("the the end")}, {}},
        IssueCase{"WordsWithDigitsAreNotDuplicates", {QStringLiteral("2024 2024 rev2 rev2")}, {}},
        // Three characters (a conjunct and two emoji) in six UTF-16 units: too short to count, however
        // a segmentation that cuts inside the surrogate pairs would count them.
        IssueCase{"KeyLengthIsInUserPerceivedCharacters",
                  {QString::fromUcs4(U"\u0915\u094D\U0001F468\U0001F468 \u0915\u094D\U0001F468\U0001F468")},
                  {}},
        IssueCase{"RepeatAcrossBlocksIsFine", {QStringLiteral("Open report"), QStringLiteral("report again")}, {}},
        IssueCase{"AtMostFourDuplicates",
                  {QStringLiteral("alpha alpha bravo bravo"), QStringLiteral("delta delta gamma gamma"),
                   QStringLiteral("kilo kilo")},
                  {duplicates("alpha, bravo, delta, gamma")}}),
    [](const testing::TestParamInfo<IssueCase> &info) { return std::string(info.param.name); });

struct OverlapCase
{
    const char *name;
    QList<Box> boxes;
    const char *issue; // empty: none
};

class OverlappingText : public testing::TestWithParam<OverlapCase>
{
};

TEST_P(OverlappingText, CountsBoxesLyingOnEachOther)
{
    QList<Block> blocks;
    for (const Box &box : GetParam().boxes)
        blocks.append(block(QStringLiteral("Label"), box));
    const QStringList issues = evaluate(blocks).issues;
    if (*GetParam().issue == '\0')
        EXPECT_TRUE(issues.isEmpty()) << issues.join(QLatin1Char('|')).toStdString();
    else
        EXPECT_EQ(issues, QStringList{QString::fromUtf8(GetParam().issue)});
}

QList<Box> apartThen(int apart, QList<Box> tail)
{
    QList<Box> boxes;
    for (int i = 0; i < apart; ++i)
        boxes.append({0, i * 100, 50, 20});
    boxes.append(tail);
    return boxes;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, OverlappingText,
    testing::Values(
        OverlapCase{"TwoIdentical",
                    {{10, 10, 13, 9}, {10, 10, 13, 9}},
                    "Detected 1 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"ThreeIdentical",
                    {{10, 10, 40, 20}, {10, 10, 40, 20}, {10, 10, 40, 20}},
                    "Detected 2 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"CountStopsAtTwo",
                    {{10, 10, 40, 20}, {10, 10, 40, 20}, {10, 10, 40, 20}, {10, 10, 40, 20}},
                    "Detected 2 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"TwelveWideIsNotEnough", {{0, 0, 12, 9}, {0, 0, 12, 9}}, ""},
        OverlapCase{"NineHighIsEnough",
                    {{0, 0, 13, 9}, {0, 0, 13, 9}},
                    "Detected 1 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"EightHighIsNotEnough", {{0, 0, 40, 8}, {0, 0, 40, 8}}, ""},
        OverlapCase{"SmallShareOfTheSmallerBox", {{0, 0, 100, 20}, {60, 0, 100, 20}}, ""},
        OverlapCase{"InsideABiggerBox",
                    {{0, 0, 400, 40}, {100, 10, 60, 20}},
                    "Detected 1 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"FortiethBlockTakesPart", apartThen(38, {{5000, 0, 40, 20}, {5000, 0, 40, 20}}),
                    "Detected 1 overlapping text region(s) suggesting UI text collision or overflow"},
        OverlapCase{"BeyondTheFortiethNeverTakesPart", apartThen(39, {{5000, 0, 40, 20}, {5000, 0, 40, 20}}), ""},
        OverlapCase{"FarApartHugeCoordinates", {{2000000000, 2000000000, 200000000, 200000000}, {0, 0, 40, 20}}, ""}),
    [](const testing::TestParamInfo<OverlapCase> &info) { return std::string(info.param.name); });

TEST(CopyQuality, EmptyTextGivesTheEmptyResult)
{
    const auto quality = NativeVisionCore::evaluateCopyQuality(QString(), {});
    EXPECT_FALSE(quality.dominantLanguage);
    EXPECT_EQ(quality.languageConfidence, 0);
    EXPECT_EQ(quality.wordCount, 0);
    EXPECT_EQ(quality.sentenceCount, 0);
    EXPECT_TRUE(quality.issues.isEmpty());
}

TEST(CopyQuality, CountsWordsAndSentencesAndNamesTheLanguage)
{
    const QList<Block> blocks{block(QStringLiteral("The build finished without errors. Every check passed today.")),
                              block(QStringLiteral("Open the report to see what changed in the invoice module."))};
    const auto quality = evaluate(blocks);
    EXPECT_EQ(quality.dominantLanguage, QStringLiteral("en"));
    EXPECT_GT(quality.languageConfidence, 0.5);
    EXPECT_LE(quality.languageConfidence, 1.0);
    // Three decimals at most.
    EXPECT_DOUBLE_EQ(quality.languageConfidence, std::round(quality.languageConfidence * 1000) / 1000);
    EXPECT_EQ(quality.wordCount, 20);
    EXPECT_EQ(quality.sentenceCount, 3);
}

TEST(CopyQuality, PunctuationAloneIsNoWord)
{
    const auto quality = evaluate({block(QStringLiteral("— … !!! ,"))});
    EXPECT_EQ(quality.wordCount, 0);
}
} // namespace
