// How much folding a recorded-style event stream into the projection costs beside reading its
// payload values as JSON alone, which every consumer of the stream pays anyway.
#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "live/EventProjection.h"
#include "live/ReadPayload.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace
{
constexpr int kEvents = 10000;

const QStringList kAgents{QStringLiteral("tavrilo_liaison"), QStringLiteral("tavrilo_architect"),
                          QStringLiteral("tavrilo_builder"), QStringLiteral("tavrilo_reviewer")};

const QStringList kWords{QStringLiteral("the"),
                         QStringLiteral("build"),
                         QStringLiteral("passes"),
                         QStringLiteral("now"),
                         QStringLiteral("r\u00e9sum\u00e9"),
                         QStringLiteral("checking"),
                         QStringLiteral("src/app"),
                         QStringLiteral("\u2014"),
                         QStringLiteral("tests"),
                         QStringLiteral("\U0001F680"),
                         QStringLiteral("\"quoted\""),
                         QStringLiteral("42")};

WorkspaceEvent frameEvent(int seq, const char *kind, const QString &agent, EventPayload payload)
{
    WorkspaceEvent e;
    e.id = QStringLiteral("frame:%1").arg(seq);
    e.timestamp = QStringLiteral("2026-12-10T12:00:00Z");
    e.appID = QStringLiteral("app");
    e.tenantID = QStringLiteral("tenant");
    e.kind = QString::fromLatin1(kind);
    payload.insert(QStringLiteral("turnId"), QStringLiteral("turn-1"));
    payload.insert(QStringLiteral("sessionId"), QStringLiteral("prj-0123456789abcdef"));
    payload.insert(QStringLiteral("agent"), agent);
    payload.insert(QStringLiteral("ts"),
                   QStringLiteral("2026-12-10T12:00:00.%1Z").arg(seq % 1000, 3, 10, QLatin1Char('0')));
    e.payload = std::move(payload);
    return e;
}

// A turn as the platform streams it: mostly answer text and tool input deltas, with usage
// reports, positions and tool starts and ends in between.
QList<WorkspaceEvent> recordedStream()
{
    QRandomGenerator random(8);
    QList<WorkspaceEvent> events;
    events.append(
        frameEvent(0, "metadata", kAgents[0], {{QStringLiteral("teamBundle"), QStringLiteral("tavrilo-team")}}));
    std::map<QString, int> openTools; // agent -> index of its running call, -1 when none
    int toolSerial = 0;
    while (events.size() < kEvents) {
        const int seq = int(events.size());
        const QString agent = kAgents[random.bounded(int(kAgents.size()))];
        const int roll = random.bounded(100);
        if (roll < 45) {
            QString text;
            for (int w = random.bounded(2, 8); w > 0; --w)
                text += kWords[random.bounded(int(kWords.size()))] + QLatin1Char(' ');
            events.append(frameEvent(seq, "text", agent, {{QStringLiteral("text"), text}}));
        } else if (roll < 75) {
            auto open = openTools.find(agent);
            if (open == openTools.end() || open->second < 0) {
                const bool approval = random.bounded(10) == 0;
                openTools[agent] = 0;
                events.append(frameEvent(seq, "tool_start", agent,
                                         {{QStringLiteral("id"), QStringLiteral("tooluse-%1").arg(++toolSerial)},
                                          {QStringLiteral("tool"), approval ? QStringLiteral("approve_brief")
                                                                            : QStringLiteral("project_write")},
                                          {QStringLiteral("index"), QStringLiteral("0")}}));
                events.append(
                    frameEvent(seq + 1, "tool_delta", agent,
                               {{QStringLiteral("inputDelta"), QStringLiteral("{\"path\":\"src/a.ts\",\"brief\":\"")},
                                {QStringLiteral("index"), QStringLiteral("0")}}));
            } else if (random.bounded(12) == 0) {
                events.append(frameEvent(seq, "tool_delta", agent,
                                         {{QStringLiteral("inputDelta"), QStringLiteral("\"}")},
                                          {QStringLiteral("index"), QStringLiteral("0")}}));
                events.append(frameEvent(seq + 1, "tool_end", agent, {{QStringLiteral("index"), QStringLiteral("0")}}));
                open->second = -1;
            } else {
                QString chunk;
                for (int w = random.bounded(3, 12); w > 0; --w)
                    chunk += kWords[random.bounded(int(kWords.size()))].toHtmlEscaped().remove(QLatin1Char('"')) +
                             QLatin1Char(' ');
                events.append(frameEvent(
                    seq, "tool_delta", agent,
                    {{QStringLiteral("inputDelta"), chunk}, {QStringLiteral("index"), QStringLiteral("0")}}));
            }
        } else if (roll < 90) {
            const int in = random.bounded(100, 5000);
            const int out = random.bounded(10, 800);
            events.append(
                frameEvent(seq, "usage", agent,
                           {{QStringLiteral("inputTokens"), QString::number(in)},
                            {QStringLiteral("outputTokens"), QString::number(out)},
                            {QStringLiteral("totalTokens"), QString::number(in + out)},
                            {QStringLiteral("latencyMs"), QString::number(random.bounded(200, 4000))},
                            {QStringLiteral("cost"),
                             QStringLiteral(R"({"status":"estimated_list_price","amount":%1,"currency":"USD"})")
                                 .arg(out * 1.5e-5)}}));
        } else {
            events.append(
                frameEvent(seq, "position", agent,
                           {{QStringLiteral("input"),
                             QStringLiteral(R"({"position":"Ship the login page after review %1","confidence":0.%2,)"
                                            R"("depends_on":["tavrilo_reviewer"],"conflicts_with":[]})")
                                 .arg(seq)
                                 .arg(random.bounded(10, 99))}}));
        }
    }
    events.resize(kEvents);
    return events;
}

const QList<WorkspaceEvent> &stream()
{
    static const QList<WorkspaceEvent> events = recordedStream();
    return events;
}

// Runs `read` over every payload value of the stream.
template <typename Read> void readEveryValue(benchmark::State &state, Read read)
{
    const auto &events = stream();
    for (auto _ : state) {
        size_t parsed = 0;
        for (const auto &event : events)
            for (auto it = event.payload.cbegin(); it != event.payload.cend(); ++it)
                parsed += read(it.value()).has_value();
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations() * events.size());
}

// The floor: every payload value read as JSON, nothing else.
void BM_ParsePayloadsAlone(benchmark::State &state)
{
    readEveryValue(state, [](const QString &value) { return json::tryParse(value.toUtf8()); });
}
BENCHMARK(BM_ParsePayloadsAlone)->Unit(benchmark::kMillisecond);

// The projection's own reader over every value: plain text skips the parser.
void BM_ReadPayloadsAlone(benchmark::State &state)
{
    readEveryValue(state, [](const QString &value) { return ReadPayload::readFragment(value); });
}
BENCHMARK(BM_ReadPayloadsAlone)->Unit(benchmark::kMillisecond);

// Folds `events` into a fresh projection on every iteration.
void projectEvery(benchmark::State &state, const QList<WorkspaceEvent> &events)
{
    for (auto _ : state) {
        EventProjection projection;
        for (const auto &event : events)
            projection.consume(event);
        benchmark::DoNotOptimize(projection.responses.size());
        benchmark::DoNotOptimize(projection.toolCalls.size());
    }
    state.SetItemsProcessed(state.iterations() * events.size());
}

void BM_ProjectStream(benchmark::State &state)
{
    projectEvery(state, stream());
}
BENCHMARK(BM_ProjectStream)->Unit(benchmark::kMillisecond);

// One tool input streamed up to its cap in small pieces: linear in its length for a tool whose
// input is never parsed (0), for an approval (1), and for an approval whose every piece ends in a
// brace inside its one long string (2), which a test of the last byte alone would parse each time.
void BM_LongToolInput(benchmark::State &state)
{
    const QString tool = state.range(0) ? QStringLiteral("approve_brief") : QStringLiteral("project_write");
    QList<WorkspaceEvent> events;
    events.append(frameEvent(0, "tool_start", kAgents[2],
                             {{QStringLiteral("id"), QStringLiteral("t")}, {QStringLiteral("tool"), tool}}));
    events.append(
        frameEvent(1, "tool_delta", kAgents[2], {{QStringLiteral("inputDelta"), QStringLiteral("{\"brief\":\"")}}));
    const QString piece = QString(31, QLatin1Char('x')) + (state.range(0) == 2 ? QLatin1Char('}') : QLatin1Char('x'));
    for (int i = 0; i < 4096; ++i)
        events.append(frameEvent(2 + i, "tool_delta", kAgents[2], {{QStringLiteral("inputDelta"), piece}}));
    projectEvery(state, events);
}
BENCHMARK(BM_LongToolInput)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Prints the usual table, then the projection's cost as a multiple of the bare parse.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const auto &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_seconds[run.run_name.function_name] = run.real_accumulated_time / double(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto parse = m_seconds.find("BM_ParsePayloadsAlone");
        const auto read = m_seconds.find("BM_ReadPayloadsAlone");
        const auto project = m_seconds.find("BM_ProjectStream");
        if (parse == m_seconds.end() || project == m_seconds.end() || parse->second <= 0)
            return;
        std::printf("events per second: projection %.0f, bare parse %.0f; projection / bare parse = %.2f (goal <= 3)\n",
                    kEvents / project->second, kEvents / parse->second, project->second / parse->second);
        if (read != m_seconds.end() && read->second > 0)
            std::printf("projection / its own payload reader over every value = %.2f\n",
                        project->second / read->second);
    }

private:
    std::map<std::string, double> m_seconds;
};
} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
