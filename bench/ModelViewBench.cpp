// What a window bound to the session model costs per merged event: 10,000 events of a turn merged
// into a model whose events, approvals and positions lists are shown by ListViews in an off-screen
// window, against the same merge with no view bound; and how many rows each event touches in those
// three lists (the rows that changed, never the whole list).
#include "BenchModel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace
{
constexpr int kEvents = 10000;
// Events merged between two turns of the event loop, where the window lays out and draws: a frame
// of a 60 Hz screen while a turn streams a few hundred events a second.
constexpr int kEventsPerFrame = 8;

// A turn's stream: mostly streamed text and reasoning, with positions, tool calls and gates among it.
WorkspaceEvent eventAt(int i)
{
    static const QStringList agents{QStringLiteral("tavrilo_builder"), QStringLiteral("tavrilo_reviewer"),
                                    QStringLiteral("tavrilo_architect")};
    const QString &agent = agents.at(i % agents.size());
    switch (i % 10) {
    case 0:
        return benchmodel::turnEvent(
            i, agent, "position",
            {{"position", QStringLiteral("Claim %1").arg(i)}, {"confidence", QStringLiteral("high")}});
    case 1:
        return benchmodel::turnEvent(i, agent, "reasoning",
                                     {{"text", QStringLiteral("Thinking about step %1. ").arg(i)}});
    case 2:
        return benchmodel::turnEvent(
            i, agent, "hook",
            {{"phase", QStringLiteral("approval_pending")}, {"toolUseId", QStringLiteral("gate-%1").arg(i / 100)}});
    default:
        return benchmodel::streamedText(i, agent);
    }
}

const char *const kBoundView = R"(
import QtQuick
Item {
    id: root
    required property QtObject hub
    width: 1440; height: 900
    Row {
        anchors.fill: parent
        ListView { width: 480; height: 900; model: root.hub.events; delegate: Text { required property string kind; text: kind } }
        ListView { width: 480; height: 900; model: root.hub.approvals; delegate: Text { required property string summary; text: summary } }
        ListView { width: 480; height: 900; model: root.hub.positions; delegate: Text { required property string position; text: position } }
    }
}
)";

struct Run
{
    double nsPerEvent = 0;
    double rowsPerEvent = 0;
};

// `shown`: the window is on the (off-screen) screen and draws a frame at each turn of the loop;
// otherwise the lists are bound and laid out, but nothing is drawn.
Run mergeAll(bool bound, bool shown)
{
    auto model = benchmodel::configuredModel();
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
    std::unique_ptr<QObject> view;
    if (bound) {
        QQmlComponent component(&engine);
        component.setData(kBoundView, QUrl(QStringLiteral("qrc:/bench/View.qml")));
        if (!component.isReady()) { // a qrc address: compiled at once, like the window's own files
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            return {};
        }
        view.reset(component.createWithInitialProperties({{QStringLiteral("hub"), QVariant::fromValue(model.get())}}));
        window = std::make_unique<QQuickWindow>();
        window->resize(1440, 900);
        qobject_cast<QQuickItem *>(view.get())->setParentItem(window->contentItem());
        if (shown)
            window->show();
    }
    qint64 rows = 0;
    for (KeyedListModel *list : {model->eventsModel(), model->approvalsModel(), model->positionsModel()}) {
        QObject::connect(list, &QAbstractItemModel::rowsInserted, list,
                         [&rows](const QModelIndex &, int first, int last) { rows += last - first + 1; });
        QObject::connect(list, &QAbstractItemModel::rowsRemoved, list,
                         [&rows](const QModelIndex &, int first, int last) { rows += last - first + 1; });
        QObject::connect(list, &QAbstractItemModel::dataChanged, list,
                         [&rows](const QModelIndex &a, const QModelIndex &b) { rows += b.row() - a.row() + 1; });
        QObject::connect(list, &QAbstractItemModel::modelReset, list, [&rows, list] { rows += list->rowCount(); });
    }
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kEvents; ++i) {
        model->mergeEvent(eventAt(i));
        // What the window's event loop does between frames: both runs pay it.
        if (i % kEventsPerFrame == kEventsPerFrame - 1)
            QCoreApplication::processEvents();
    }
    return {double(timer.nsecsElapsed()) / kEvents, double(rows) / kEvents};
}

void BM_MergeWithBoundViews(benchmark::State &state)
{
    Run unbound;
    Run bound;
    Run drawn;
    for (auto _ : state) {
        unbound = mergeAll(false, false);
        bound = mergeAll(true, false);
        drawn = mergeAll(true, true);
    }
    state.counters["unbound_us_per_event"] = unbound.nsPerEvent / 1000;
    state.counters["bound_us_per_event"] = bound.nsPerEvent / 1000;
    state.counters["bound_ratio"] = unbound.nsPerEvent > 0 ? bound.nsPerEvent / unbound.nsPerEvent : 0;
    state.counters["drawn_us_per_event"] = drawn.nsPerEvent / 1000;
    state.counters["drawn_ratio"] = unbound.nsPerEvent > 0 ? drawn.nsPerEvent / unbound.nsPerEvent : 0;
    state.counters["rows_per_event"] = bound.rowsPerEvent;
}
BENCHMARK(BM_MergeWithBoundViews)->Iterations(1)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
