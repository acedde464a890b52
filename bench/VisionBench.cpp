// The vision analysis beside bare text recognition of the same screenshot, in the same run.
// The baseline decodes the PNG with the engine's own image library and recognises it with the
// same model, page mode and dictionary setting as the analysis; everything else the analysis does
// (decoding through Qt, hashing, rectangles, feature print, copy rules, the report) is the cost
// being measured. Both run with the same OpenMP team policy. At the end it prints, per image and mode, the medians and
// their ratio.
#include "SampleScreen.h"
#include "vision/NativeVisionCore.h"
#include "vision/TextRecognizer.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
QByteArray screenshot(int scale)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    SampleScreen::render(scale).save(&buffer, "PNG");
    return bytes;
}

void analyze(benchmark::State &state, const QByteArray &png, bool fast)
{
    for (auto _ : state) {
        const auto analysis = NativeVisionCore::analyzeData(png, fast, std::nullopt);
        benchmark::DoNotOptimize(analysis.ocrCount);
    }
}

void bareRecognition(benchmark::State &state, const QByteArray &png, bool fast)
{
    const QByteArray dataPath = TextRecognizer::tessdataPath().toLocal8Bit();
    std::vector<std::string> names;
    std::vector<std::string> values;
    if (fast) {
        names = {"load_system_dawg", "load_freq_dawg"};
        values = {"0", "0"};
    }
#ifdef _OPENMP
    // The same team policy as the analysis, so that only the work differs.
    omp_set_dynamic(1);
#endif
    for (auto _ : state) {
        Pix *pix = pixReadMem(reinterpret_cast<const l_uint8 *>(png.constData()), size_t(png.size()));
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
        if (!pix ||
            api.Init(dataPath.constData(), "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0) {
            state.SkipWithError("the recognition engine could not start");
            pixDestroy(&pix);
            break;
        }
        api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
        api.SetImage(pix);
        api.SetSourceResolution(96);
        api.Recognize(nullptr);
        const std::unique_ptr<char[]> text(api.GetUTF8Text());
        benchmark::DoNotOptimize(text.get());
        pixDestroy(&pix);
    }
}

// Collects the medians and prints analysis / baseline per image and mode after the usual table.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            const std::string &name = run.run_name.function_name;
            const auto slash = name.find('/');
            m_medians[name.substr(slash + 1)][name.substr(0, slash)] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nmedians (ms)                 analyzeData   bare recognition   ratio\n");
        for (const auto &[variant, byKind] : m_medians) {
            const auto ours = byKind.find("analyzeData");
            const auto bare = byKind.find("bareRecognition");
            if (ours == byKind.end() || bare == byKind.end() || bare->second <= 0)
                continue;
            std::printf("%-28s %11.0f %18.0f %7.3f\n", variant.c_str(), ours->second, bare->second,
                        ours->second / bare->second);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_medians;
};
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the sample screen
    benchmark::Initialize(&argc, argv);

    const QByteArray small = screenshot(1);
    const QByteArray large = screenshot(2);
    for (const auto &[size, png] : {std::pair{"1440x900", &small}, std::pair{"2880x1800", &large}}) {
        for (const bool fast : {true, false}) {
            const std::string variant = std::string(size) + (fast ? "/fast" : "/accurate");
            const QByteArray bytes = *png;
            // Each run takes a second or more: one iteration, five repetitions, medians compared.
            for (const auto &[kind, body] :
                 {std::pair{"analyzeData/", &analyze}, std::pair{"bareRecognition/", &bareRecognition}}) {
                benchmark::RegisterBenchmark((kind + variant).c_str(),
                                             [bytes, fast, body = body](benchmark::State &s) { body(s, bytes, fast); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->Iterations(1)
                    ->Repetitions(5)
                    ->ReportAggregatesOnly(true);
            }
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
