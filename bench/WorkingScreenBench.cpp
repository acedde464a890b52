// The working screen's frame time while a turn streams: the whole root view in a window, four
// specialists working (the lanes animate), an event merged every 20 ms (50 frames a second from the
// platform) with the output rate changing as it would. Reports the intervals between swapped frames
// over five seconds: the median and the 99th percentile, the frames a second they allow, and the
// processor time a frame costs.
// On a small machine under a virtual display (Mesa's llvmpipe):
//   taskset -c 0,1 xvfb-run -a -s "-screen 0 1920x1080x24" bin/working_screen_bench
#include "BenchModel.h"
#include "core/HubLayout.h"
#include "live/NativePresence.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
// A model in a live parallel round: signed in, a session of its own, four roles working.
std::unique_ptr<HubModel> liveModel()
{
    auto model = benchmodel::configuredModel();
    QFile layout(QStringLiteral(HUB_SOURCE_DIR "/resources/layout.json"));
    if (layout.open(QIODevice::ReadOnly))
        model->setLayout(HubLayout::decode(layout.readAll()));
    model->setSelectedProfile(true);
    model->setPrompt(QStringLiteral("Add a parser for the settings file"));
    model->setRunning(true);
    model->setSessionID(QStringLiteral("prj-bench"));
    model->setActiveSessionID(QStringLiteral("prj-bench"));
    NativePresence presence;
    const QStringList &roles = NativePresence::roles();
    presence.working = {roles[0], roles[1], roles[2], roles[4]};
    presence.parallel = true;
    presence.measuredRate = true;
    presence.velocity = 40;
    model->setPresence(presence);
    return model;
}

// Processor time of the whole process (every thread: the GUI thread, the render thread and the
// software rasteriser's own) in milliseconds.
double processorMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void BM_WorkingScreenWhileStreaming(benchmark::State &state)
{
    std::vector<double> intervals;
    double processor = 0;
    for (auto _ : state) {
        auto model = liveModel();
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import Tavrilo.Ui\nHubView {}\n", QUrl());
        if (!component.isReady()) {
            state.SkipWithError(qPrintable(component.errorString()));
            return;
        }
        std::unique_ptr<QObject> view(
            component.createWithInitialProperties({{QStringLiteral("model"), QVariant::fromValue(model.get())}}));
        QQuickWindow window;
        window.resize(1440, 900);
        auto *root = qobject_cast<QQuickItem *>(view.get());
        root->setParentItem(window.contentItem());
        root->setSize(QSizeF(1440, 900));
        window.show();

        int merged = 0;
        QTimer frames;
        frames.setInterval(20);
        QObject::connect(&frames, &QTimer::timeout, model.get(), [&] {
            model->mergeEvent(benchmodel::streamedText(merged, QStringLiteral("tavrilo_builder")));
            NativePresence presence = model->presence();
            presence.velocity = float(30 + merged % 20);
            model->setPresence(presence);
            ++merged;
        });
        QElapsedTimer clock;
        qint64 last = -1;
        bool measuring = false;
        QObject::connect(&window, &QQuickWindow::frameSwapped, &window, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (measuring && last >= 0)
                intervals.push_back(double(now - last) / 1e6);
            last = now;
        });
        clock.start();
        frames.start();
        // One second to settle (first frames, shader compilation), then five measured.
        double processorAtStart = 0;
        QTimer::singleShot(1000, &window, [&] {
            measuring = true;
            processorAtStart = processorMilliseconds();
        });
        QEventLoop loop;
        QTimer::singleShot(6000, &loop, &QEventLoop::quit);
        loop.exec();
        frames.stop();
        processor += processorMilliseconds() - processorAtStart;
        root->setParentItem(nullptr);
    }
    const double p50 = percentile(intervals, 0.5);
    const double p99 = percentile(intervals, 0.99);
    state.counters["frames"] = double(intervals.size());
    state.counters["p50_ms"] = p50;
    state.counters["p99_ms"] = p99;
    state.counters["p99_fps"] = p99 > 0 ? 1000 / p99 : 0;
    // What a frame costs the processor, which the intervals hide while cores are to spare and which
    // decides them when there are none.
    state.counters["cpu_ms_per_frame"] = intervals.empty() ? 0 : processor / double(intervals.size());
}
BENCHMARK(BM_WorkingScreenWhileStreaming)->Iterations(1)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
