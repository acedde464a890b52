// The build shell's output path (per-channel UTF-8 reassembly, the terminal transcript decoder and
// the capped transcript) over terminal output cut into 1 KiB and 64 KiB messages, beside a bare
// UTF-8 validation and copy of the same messages in the same run: coloured build output with a
// control character or sequence every 36 bytes or so, and a plain log.

#include "workspace/ShellLines.h"
#include "workspace/ShellTranscript.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace
{
// About 4 MiB of what a build prints: coloured status lines, progress redrawn with CR, tabs,
// box-drawing and accented characters, the odd window title.
QByteArray terminalOutput()
{
    QByteArray out;
    int line = 0;
    while (out.size() < 4 * 1024 * 1024) {
        ++line;
        switch (line % 6) {
        case 0:
            out += "\x1b[32m[" + QByteArray::number(line) + "/9000]\x1b[0m Compiling src/module_" +
                   QByteArray::number(line) + ".cpp\r\n";
            break;
        case 1:
            out += "  \xE2\x94\x82 r\xC3\xA9sum\xC3\xA9 \xE2\x86\x92 build/obj/" + QByteArray::number(line) +
                   ".o\t(\xE2\x9C\x93 cached)\n";
            break;
        case 2:
            out += "\rProgress: " + QByteArray::number(line % 100) + "% \x1b[K";
            break;
        case 3:
            out += "\x1b]0;building target " + QByteArray::number(line) + "\a";
            break;
        default:
            out += "warning: unused variable 'value_" + QByteArray::number(line) +
                   "' [-Wunused-variable] in function that does plenty of work\n";
            break;
        }
    }
    return out;
}

// About 4 MiB of plain output: a log without colours or progress lines.
QByteArray plainOutput()
{
    QByteArray out;
    for (int line = 0; out.size() < 4 * 1024 * 1024; ++line)
        out += "[" + QByteArray::number(line) + "/9000] Building CXX object src/module_" + QByteArray::number(line) +
               ".cpp.o in build/objects with the release flags\n";
    return out;
}

std::vector<QByteArray> messagesOf(qsizetype size, bool plain = false)
{
    const QByteArray all = plain ? plainOutput() : terminalOutput();
    std::vector<QByteArray> messages;
    for (qsizetype at = 0; at < all.size(); at += size)
        messages.push_back(all.mid(at, size));
    return messages;
}

qint64 totalBytes(const std::vector<QByteArray> &messages)
{
    qint64 bytes = 0;
    for (const auto &m : messages)
        bytes += m.size();
    return bytes;
}

void OutputPath(benchmark::State &state)
{
    const auto messages = messagesOf(state.range(0), state.range(1) != 0);
    ShellTranscript transcript;
    for (auto _ : state) {
        for (const auto &message : messages)
            transcript.append(message, 1);
        benchmark::DoNotOptimize(transcript.utf8().data());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
}

void BareValidateAndCopy(benchmark::State &state)
{
    const auto messages = messagesOf(state.range(0), state.range(1) != 0);
    QByteArray copy(state.range(0), Qt::Uninitialized);
    qint64 invalid = 0;
    for (auto _ : state) {
        for (const auto &message : messages) {
            // Cut at arbitrary bytes, some messages end inside a character: counted, not refused.
            invalid += QByteArrayView(message).isValidUtf8() ? 0 : 1;
            std::memcpy(copy.data(), message.constData(), size_t(message.size()));
            benchmark::ClobberMemory();
        }
    }
    benchmark::DoNotOptimize(invalid);
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
}

// The same path with what the documents do on each announcement: the build shell panel's rows
// brought up to the transcript (finished lines appended, the open one rewritten, cut ones dropped).
// 4 MiB of output through the 256 KiB cap, one announcement per message (the documents announce at
// most every 50 ms).
void OutputPathWithRows(benchmark::State &state)
{
    const auto messages = messagesOf(state.range(0), state.range(1) != 0);
    ShellTranscript transcript;
    ShellLines rows;
    for (auto _ : state) {
        for (const auto &message : messages) {
            transcript.append(message, 1);
            rows.sync(transcript);
        }
        benchmark::DoNotOptimize(rows.rowCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * totalBytes(messages));
    state.counters["messages"] = double(messages.size());
}

// Arguments: the message size, and 1 for plain output (0: coloured terminal output).
BENCHMARK(BareValidateAndCopy)->ArgsProduct({{1024, 65535}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(OutputPath)->ArgsProduct({{1024, 65535}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(OutputPathWithRows)->ArgsProduct({{65535}, {0, 1}})->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
