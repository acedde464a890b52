// Frames per second through the realtime receive path (message bytes in, message parse, identity
// filter, text payload, reassembly, de-duplication, a handler that does nothing), beside a bare
// nlohmann-json parse of the same bytes in the same run.

#include "cloud/ChunkSupport.h"
#include "cloud/RealtimeIntake.h"
#include "cloud/RealtimeProtocol.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <vector>

namespace
{
const QString kSession = QStringLiteral("prj-0123456789abcdef0123456789abcdef01234567");
const QString kTenant = QStringLiteral("tenant-1");

Json frameOf(qint64 seq, std::size_t textBytes)
{
    return Json{{"v", 1},
                {"ts", "2026-12-10T12:00:00.000Z"},
                {"turnId", "turn-42"},
                {"seq", seq},
                {"sessionId", json::toStd(kSession)},
                {"tenantId", json::toStd(kTenant)},
                {"agent", "builder"},
                {"kind", "message"},
                {"payload", {{"text", std::string(textBytes, 'x')}, {"tokens", 123}, {"final", false}}}};
}

QByteArray dataMessage(const Json &frame)
{
    return json::dump(Json{{"type", "data"}, {"id", "SUB"}, {"payload", {{"data", {{"onSessionFrame", frame}}}}}});
}

// Typical frames of about 1 KB, each a message of its own.
std::vector<QByteArray> smallMessages()
{
    std::vector<QByteArray> messages;
    for (qint64 seq = 0; seq < 4096; ++seq)
        messages.push_back(dataMessage(frameOf(seq, 780)));
    return messages;
}

// One 1 MiB frame as "frame_chunk" messages of 12,000-byte slices.
std::vector<QByteArray> chunkMessages(qint64 seq)
{
    const Json whole = frameOf(seq, 1024 * 1024 - 300);
    std::vector<QByteArray> messages;
    for (const auto &chunk : chunks::split(whole, "c1"))
        messages.push_back(dataMessage(chunk));
    return messages;
}

qint64 totalBytes(const std::vector<QByteArray> &messages)
{
    qint64 bytes = 0;
    for (const auto &m : messages)
        bytes += m.size();
    return bytes;
}

void noOpHandler(const Json &frame)
{
    benchmark::DoNotOptimize(&frame);
}

// The whole receive path for one message; returns whether a frame reached the handler.
bool receive(RealtimeIntake &intake, const QByteArray &bytes)
{
    auto delivery = intake.take(realtime::parseMessage(bytes));
    if (!delivery)
        return false;
    noOpHandler(delivery->frame);
    intake.delivered(*delivery);
    return true;
}

// Feeds every message through the receive path once per iteration; `nextPass` prepares the intake
// for the same messages again, outside the timing.
void runReceivePath(benchmark::State &state, RealtimeIntake &intake, const std::vector<QByteArray> &messages,
                    qint64 framesPerPass, const std::function<void()> &nextPass)
{
    intake.begin(kSession, kTenant);
    qint64 frames = 0;
    for (auto _ : state) {
        for (const auto &message : messages)
            frames += receive(intake, message) ? 1 : 0;
        state.PauseTiming();
        nextPass();
        intake.begin(kSession, kTenant);
        state.ResumeTiming();
    }
    if (frames != qint64(state.iterations()) * framesPerPass)
        state.SkipWithError("frames were lost");
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
}

void SmallFrames_ReceivePath(benchmark::State &state)
{
    const auto messages = smallMessages();
    RealtimeIntake intake;
    // The same sequence numbers come round again: a new subscription each pass.
    runReceivePath(state, intake, messages, qint64(messages.size()), [] {});
}

void SmallFrames_BareParse(benchmark::State &state)
{
    const auto messages = smallMessages();
    for (auto _ : state)
        for (const auto &message : messages)
            benchmark::DoNotOptimize(Json::parse(message.constData(), message.constData() + message.size()));
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(messages.size()));
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
}

void ChunkedFrames_ReceivePath(benchmark::State &state)
{
    const auto messages = chunkMessages(7);
    // Every pass rebuilds the same frame: move the clock past the 60 s in which a completed frame
    // is remembered.
    auto now = std::chrono::steady_clock::now();
    RealtimeIntake intake([&now] { return now; });
    runReceivePath(state, intake, messages, 1, [&now] { now += std::chrono::seconds(61); });
}

void ChunkedFrames_BareParse(benchmark::State &state)
{
    const auto messages = chunkMessages(7);
    for (auto _ : state)
        for (const auto &message : messages)
            benchmark::DoNotOptimize(Json::parse(message.constData(), message.constData() + message.size()));
    state.SetItemsProcessed(qint64(state.iterations()));
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
}

BENCHMARK(SmallFrames_BareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(SmallFrames_ReceivePath)->Unit(benchmark::kMillisecond);
BENCHMARK(ChunkedFrames_BareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(ChunkedFrames_ReceivePath)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    // The decoder's expiry uses a Qt timer, which wants an application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
