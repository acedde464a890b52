// Start-up of the workspace window: from the start of a fresh process to the window's first
// frameSwapped, median of 5 processes each. Three programs, each a child of this one started with
// a mode argument, so that each step's cost shows:
//   bare   - a Qt Quick window holding one rectangle (the baseline of any Qt Quick program);
//   engine - the same after the browser engine's process set-up (GuiApplicationSetup::prepare);
//   hub    - the hub's own window: engine set-up, the QML module, the model, the guards.
// The child reports the time since its process started (the kernel's start time) when its first
// frame is swapped, then exits.
//
// On a small machine under a virtual display: taskset -c 0,1 xvfb-run -a bin/window_start_bench
#include "BenchModel.h"
#include "app/HubApplication.h"
#include "platform/GuiApplicationSetup.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
std::string g_self;

// Seconds since this process was started, from /proc (the kernel's start time in clock ticks
// since boot, against the monotonic boot clock).
double secondsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // Field 22 (starttime), counted after the command name's closing parenthesis.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        fields >> field;
    const double started = std::stod(field) / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

void reportFirstFrame(QQuickWindow *window)
{
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            std::printf("first-frame %.6f\n", secondsSinceProcessStart());
            std::fflush(stdout);
            std::_Exit(0);
        },
        Qt::DirectConnection);
}

int child(const std::string &mode, int argc, char **argv)
{
    if (mode != "bare")
        GuiApplicationSetup::prepare({QByteArrayLiteral("tavrilo-code")});
    QGuiApplication app(argc, argv);
    if (mode == "hub") {
        HubApplication hub(app, {std::make_shared<MemoryKeyring>(), [] { return std::make_unique<sessiontest::NoSignInWindow>(); }});
        if (!hub.load())
            return 1;
        reportFirstFrame(hub.window());
        return app.exec();
    }
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 1000; height: 700; visible: true\n"
                    "Rectangle { anchors.fill: parent; color: \"#f4f2ed\" } }");
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    reportFirstFrame(window);
    return app.exec();
}

double runChild(const char *mode)
{
    QProcess process;
    process.start(QString::fromStdString(g_self), {QStringLiteral("--child"), QString::fromLatin1(mode)});
    if (!process.waitForFinished(60000))
        return -1;
    const QByteArray out = process.readAllStandardOutput();
    const qsizetype at = out.indexOf("first-frame ");
    return at < 0 ? -1 : out.mid(at + 12).trimmed().toDouble();
}

void BM_WindowStart(benchmark::State &state, const char *mode)
{
    std::vector<double> seconds;
    for (auto _ : state) {
        const double s = runChild(mode);
        if (s < 0) {
            state.SkipWithError("the child drew no frame");
            return;
        }
        seconds.push_back(s);
        state.SetIterationTime(s);
    }
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_s"] = seconds[seconds.size() / 2];
}
BENCHMARK_CAPTURE(BM_WindowStart, bare, "bare")->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowStart, engine, "engine")->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowStart, hub, "hub")->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], 1, argv);
    g_self = "/proc/self/exe";
    char path[4096];
    if (const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1); n > 0)
        g_self.assign(path, size_t(n));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
