// How well and how fast the vision analysis reads screens the project did not draw, beside bare
// text recognition of the same images with the engine's own command-line settings (the page mode
// for sparse text, everything else at its defaults: dictionaries on, the engine's own thread
// teams, the image read by the engine's own image library).
//
// First a quality table, from one pass over the outside screens (tests/vision/data): word recall
// and precision against the known text, button labels read and lines returned, per screen and in
// total, for the bare engine, the fast analysis and the accurate analysis.
//
// Then the timing, on the 1440 x 900 web pages at 1x: each repetition runs the bare engine, the
// analysis and the bare engine limited to one thread over the same screens back to back, so all
// see the same machine (on a shared machine the load drifts from one second to the next, and runs
// measured minutes apart compare the load, not the work). The medians over the repetitions and
// their ratios to the bare engine are printed at the end; --timing-only leaves the quality table
// out. To see the recognition threads on a small or busy machine, run it as
//   taskset -c 0,1 bin/vision_bench
// beside a load on the same two processors, e.g. taskset -c 0,1 sh -c 'while :; do :; done' twice.
#include "OutsideScreens.h"
#include "vision/NativeVisionCore.h"
#include "vision/TextRecognizer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr const char *kOurs = "analysis_ms";
constexpr const char *kBare = "bare_ms";
constexpr const char *kBareOneThread = "bareOneThread_ms";


// The engine as its command line runs it with --psm 11. Throws nothing; empty text when the
// engine cannot start. `oneThread` keeps every parallel region of the calling thread to itself.
QStringList bareRecognition(const QByteArray &png, bool oneThread)
{
#ifdef _OPENMP
    omp_set_max_active_levels(oneThread ? 0 : 1);
#else
    (void)oneThread;
#endif
    const QByteArray dataPath = TextRecognizer::tessdataPath().toLocal8Bit();
    Pix *pix = pixReadMem(reinterpret_cast<const l_uint8 *>(png.constData()), size_t(png.size()));
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
    QStringList lines;
    if (pix && api.Init(dataPath.constData(), "eng") == 0) {
        api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
        api.SetImage(pix);
        const std::unique_ptr<char[]> text(api.GetUTF8Text());
        if (text)
            lines = QString::fromUtf8(text.get()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    pixDestroy(&pix);
#ifdef _OPENMP
    omp_set_max_active_levels(1);
#endif
    return lines;
}

// What one reading gave: the lines reported, and how many were found before the report's cap.
struct Read
{
    QStringList lines;
    qint64 found = 0;
};

Read analysed(const QByteArray &png, bool fast)
{
    const auto analysis = NativeVisionCore::analyzeData(png, fast, std::nullopt);
    Read read{{}, analysis.ocrCount};
    for (const auto &block : analysis.ocrBlocks)
        read.lines.append(block.text);
    return read;
}

QStringList analysedLines(const QByteArray &png, bool fast)
{
    return analysed(png, fast).lines;
}

double millisecondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void printQuality(const std::vector<outsidescreens::Screen> &screens)
{
    struct Mode
    {
        const char *name;
        std::function<Read(const QByteArray &)> read;
    };
    const std::vector<Mode> modes{
        {"bare",
         [](const QByteArray &png) {
             Read read{bareRecognition(png, false), 0};
             read.found = read.lines.size();
             return read;
         }},
        {"fast", [](const QByteArray &png) { return analysed(png, true); }},
        {"accurate", [](const QByteArray &png) { return analysed(png, false); }},
    };
    // "lines" is what the reading returned; "64/88" where the report kept 64 of the 88 lines found
    // (the first in reading order), whose other words count as missed.
    std::printf("%-20s %-9s %7s %9s %9s %7s %9s\n", "screen", "mode", "recall", "precision", "buttons", "lines", "ms");
    std::map<std::string, std::pair<outsidescreens::Score, double>> totals;
    for (const auto &screen : screens) {
        for (const Mode &mode : modes) {
            Read read;
            const double ms = millisecondsOf([&] { read = mode.read(screen.png); });
            const auto s = outsidescreens::score(screen, read.lines);
            const QString lines = read.found > read.lines.size()
                                      ? QStringLiteral("%1/%2").arg(read.lines.size()).arg(read.found)
                                      : QString::number(read.lines.size());
            std::printf("%-20s %-9s %7.3f %9.3f %6d/%-2d %7s %9.0f\n", qPrintable(screen.name), mode.name, s.recall(),
                        s.precision(), s.buttonsRead, s.buttons, qPrintable(lines), ms);
            totals[mode.name].first += s;
            totals[mode.name].second += ms;
        }
    }
    for (const Mode &mode : modes) {
        const auto &[s, ms] = totals[mode.name];
        std::printf("%-20s %-9s %7.3f %9.3f %6d/%-2d %7s %9.0f\n", "all", mode.name, s.recall(), s.precision(),
                    s.buttonsRead, s.buttons, "", ms);
        for (const QString &missed : s.missedButtons)
            std::printf("    %s missed %s\n", mode.name, qPrintable(missed));
    }
    std::printf("\n");
}

void paired(benchmark::State &state, const std::vector<outsidescreens::Screen> &screens, bool fast)
{
    for (auto _ : state) {
        double bare = 0;
        double ours = 0;
        double bareOneThread = 0;
        for (const auto &screen : screens) {
            bare += millisecondsOf([&] { benchmark::DoNotOptimize(bareRecognition(screen.png, false)); });
            ours += millisecondsOf([&] { benchmark::DoNotOptimize(analysedLines(screen.png, fast)); });
            bareOneThread += millisecondsOf([&] { benchmark::DoNotOptimize(bareRecognition(screen.png, true)); });
        }
        state.counters[kBare] = bare;
        state.counters[kOurs] = ours;
        state.counters[kBareOneThread] = bareOneThread;
    }
}

// Prints, after the usual table, the median of each side and the ratios to the bare engine.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            auto &row = m_medians[run.run_name.function_name];
            for (const char *key : {kBare, kOurs, kBareOneThread}) {
                if (const auto it = run.counters.find(key); it != run.counters.end())
                    row[key] = it->second.value;
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nmedians (ms)            bare   analysis  ratio   bare, 1 thread  ratio\n");
        for (auto &[name, row] : m_medians) {
            const double bare = row[kBare];
            const auto ratio = [bare](double v) { return bare > 0 ? v / bare : 0.0; };
            std::printf("%-20s %7.0f %10.0f %6.3f %16.0f %6.3f\n", name.c_str(), bare, row[kOurs], ratio(row[kOurs]),
                        row[kBareOneThread], ratio(row[kBareOneThread]));
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_medians;
};
} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    const std::vector<outsidescreens::Screen> screens = outsidescreens::load(QStringLiteral(HUB_OUTSIDE_SCREENS));
    if (screens.empty()) {
        std::fprintf(stderr, "No outside screens in %s.\n", HUB_OUTSIDE_SCREENS);
        return 1;
    }
    if (!app.arguments().contains(QStringLiteral("--timing-only")))
        printQuality(screens);

    std::vector<outsidescreens::Screen> ordinary;
    std::copy_if(screens.begin(), screens.end(), std::back_inserter(ordinary),
                 [](const outsidescreens::Screen &screen) {
                     return screen.name.endsWith(QStringLiteral("@1x")) && !outsidescreens::ofDesktopProgram(screen);
                 });
    for (const bool fast : {true, false}) {
        const std::string name = fast ? "paired/fast" : "paired/accurate";
        // Each pass over the screens takes seconds: one iteration per repetition.
        benchmark::RegisterBenchmark(name.c_str(),
                                     [&ordinary, fast](benchmark::State &s) { paired(s, ordinary, fast); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
