// The vision analysis beside bare text recognition of the same screenshot, in the same run.
// The baseline decodes the PNG with the engine's own image library and recognises it with the
// same model, page mode, dictionary setting and OpenMP team policy as the analysis; everything
// else the analysis does (decoding through Qt, hashing, rectangles, feature print, copy rules)
// is the cost being measured.
//
// Each repetition runs the analysis and then the baseline back to back, so both see the same
// machine: on a shared machine the load drifts from one second to the next, and two benchmarks
// measured minutes apart compare the load, not the work. The medians over the repetitions and
// their ratio are printed at the end.
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

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr const char *kOurs = "analyzeData_ms";
constexpr const char *kBare = "bareRecognition_ms";

QByteArray screenshot(int scale)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    SampleScreen::render(scale).save(&buffer, "PNG");
    return bytes;
}

// Returns false when the engine cannot start.
bool bareRecognition(const QByteArray &png, bool fast)
{
    const QByteArray dataPath = TextRecognizer::tessdataPath().toLocal8Bit();
    std::vector<std::string> names;
    std::vector<std::string> values;
    if (fast) {
        names = {"load_system_dawg", "load_freq_dawg"};
        values = {"0", "0"};
    }
#ifdef _OPENMP
    omp_set_dynamic(1);
#endif
    Pix *pix = pixReadMem(reinterpret_cast<const l_uint8 *>(png.constData()), size_t(png.size()));
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
    const bool started =
        pix && api.Init(dataPath.constData(), "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) == 0;
    if (started) {
        api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
        api.SetImage(pix);
        api.SetSourceResolution(96);
        api.Recognize(nullptr);
        const std::unique_ptr<char[]> text(api.GetUTF8Text());
        benchmark::DoNotOptimize(text.get());
    }
    pixDestroy(&pix);
    return started;
}

double millisecondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void paired(benchmark::State &state, const QByteArray &png, bool fast)
{
    for (auto _ : state) {
        const double ours = millisecondsOf([&] {
            const auto analysis = NativeVisionCore::analyzeData(png, fast, std::nullopt);
            benchmark::DoNotOptimize(analysis.ocrCount);
        });
        bool started = true;
        const double bare = millisecondsOf([&] { started = bareRecognition(png, fast); });
        if (!started) {
            state.SkipWithError("the recognition engine could not start");
            break;
        }
        state.counters[kOurs] = ours;
        state.counters[kBare] = bare;
    }
}

// Prints, after the usual table, the median of each side per image and mode and their ratio.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            const auto ours = run.counters.find(kOurs);
            const auto bare = run.counters.find(kBare);
            if (ours != run.counters.end() && bare != run.counters.end())
                m_medians[run.run_name.function_name] = {ours->second.value, bare->second.value};
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nmedians (ms)                          analyzeData   bare recognition   ratio\n");
        for (const auto &[name, medians] : m_medians) {
            const auto [ours, bare] = medians;
            std::printf("%-37s %11.0f %18.0f %7.3f\n", name.c_str(), ours, bare, bare > 0 ? ours / bare : 0.0);
        }
    }

private:
    std::map<std::string, std::pair<double, double>> m_medians;
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
            const std::string name = std::string("paired/") + size + (fast ? "/fast" : "/accurate");
            const QByteArray bytes = *png;
            // Each pass takes seconds: one iteration per repetition, medians over seven.
            benchmark::RegisterBenchmark(name.c_str(), [bytes, fast](benchmark::State &s) { paired(s, bytes, fast); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1)
                ->Repetitions(7)
                ->ReportAggregatesOnly(true);
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
