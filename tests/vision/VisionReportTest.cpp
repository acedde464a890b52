#include "vision/NativeVisionCore.h"

#include "core/HubError.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
NativeVisionCore::Analysis sampleAnalysis()
{
    NativeVisionCore::Analysis a;
    a.engine = QStringLiteral("tesseract-opencv-cld2");
    a.sdkVersion = QStringLiteral("tesseract-5.3.0-opencv-4.6.0");
    a.sha256 = QStringLiteral("ab");
    a.width = 1440;
    a.height = 900;
    a.elapsedMs = 12;
    a.ocrCount = 1;
    a.ocrBlocks = {{QStringLiteral("Path a/b \"q\"\n"), 0.5, {1, 2, 3, 4}}};
    a.detectedRegions = {{5, 6, 7, 8}};
    a.copyQuality.dominantLanguage = QStringLiteral("en");
    a.copyQuality.languageConfidence = 1.0;
    a.copyQuality.wordCount = 3;
    a.copyQuality.sentenceCount = 1;
    a.copyQuality.issues = {QStringLiteral("Placeholder 'lorem ipsum' copy visible")};
    return a;
}

TEST(VisionReport, IsOneLineWithSortedKeysEscapedSlashesAndShortNumbers)
{
    auto a = sampleAnalysis();
    a.featurePrint = QStringLiteral("ab/c+==");
    a.perceptualDistance = 0.0001;
    EXPECT_EQ(
        NativeVisionCore::reportJSON(a).toStdString(),
        R"({"copyQuality":{"dominantLanguage":"en","issues":["Placeholder 'lorem ipsum' copy visible"],)"
        R"("languageConfidence":1,"sentenceCount":1,"wordCount":3},"detectedRegions":[{"height":8,"width":7,"x":5,"y":6}],)"
        R"("elapsedMs":12,"engine":"tesseract-opencv-cld2","featurePrint":"ab\/c+==","height":900,)"
        R"("ocrBlocks":[{"box":{"height":4,"width":3,"x":1,"y":2},"confidence":0.5,"text":"Path a\/b \"q\"\n"}],)"
        R"("ocrCount":1,"ok":true,"perceptualDistance":0.0001,"sdkVersion":"tesseract-5.3.0-opencv-4.6.0",)"
        R"("sha256":"ab","width":1440})");
}

TEST(VisionReport, LeavesOutAbsentOptionalsAndWritesEmptyArrays)
{
    auto a = sampleAnalysis();
    a.ocrCount = 0;
    a.ocrBlocks.clear();
    a.detectedRegions.clear();
    a.copyQuality = {};
    EXPECT_EQ(NativeVisionCore::reportJSON(a).toStdString(),
              R"({"copyQuality":{"issues":[],"languageConfidence":0,"sentenceCount":0,"wordCount":0},)"
              R"("detectedRegions":[],"elapsedMs":12,"engine":"tesseract-opencv-cld2","height":900,"ocrBlocks":[],)"
              R"("ocrCount":0,"ok":true,"sdkVersion":"tesseract-5.3.0-opencv-4.6.0","sha256":"ab","width":1440})");
}

struct NumberCase
{
    const char *name;
    double value;
    const char *written;
};

class ReportNumbers : public testing::TestWithParam<NumberCase>
{
};

TEST_P(ReportNumbers, UseTheShortestFormThatReadsBack)
{
    auto a = sampleAnalysis();
    a.perceptualDistance = GetParam().value;
    const std::string line = NativeVisionCore::reportJSON(a).toStdString();
    EXPECT_NE(line.find(std::string("\"perceptualDistance\":") + GetParam().written + ","), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Report, ReportNumbers,
                         testing::Values(NumberCase{"Zero", 0.0, "0"}, NumberCase{"Whole", 2.0, "2"},
                                         NumberCase{"Tenth", 0.1, "0.1"}, NumberCase{"FourDecimals", 0.1235, "0.1235"},
                                         NumberCase{"Small", 0.0001, "0.0001"}),
                         [](const testing::TestParamInfo<NumberCase> &info) { return std::string(info.param.name); });

TEST(VisionReport, RefusesNumbersJsonCannotHold)
{
    auto a = sampleAnalysis();
    a.perceptualDistance = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(NativeVisionCore::reportJSON(a), HubError);
}

TEST(VisionReport, FailureObjectIsErrorThenOk)
{
    EXPECT_EQ(NativeVisionCore::failureJSON(QStringLiteral("No file at /tmp/x.")).toStdString(),
              R"({"error":"No file at \/tmp\/x.","ok":false})");
}
} // namespace
