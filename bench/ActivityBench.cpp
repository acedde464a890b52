// The activity lanes: ActivityMetal::benchmark() itself (120 sequential frames of the lanes shader at
// 1100 x 128 on the machine's OpenGL device) against bare frames on the same kind of context that
// only clear the texture and wait for completion; and the CPU picture at the window's 1000 x 48
// against a bare fill of the same image, with its share of a 60 frames per second budget.
//
// Pin it to measure a small machine: taskset -c 0,1 bin/activity_bench
#include "headless/ActivityMetal.h"
#include "headless/GlFunctions.h"
#include "headless/GpuContext.h"
#include "ui/LanesFrame.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

namespace
{
constexpr QSize kWindowLanes(1000, 48);
constexpr double kFrameBudgetSeconds = 1.0 / 60;

void BM_ActivityMetalBenchmark(benchmark::State &state)
{
    double framesPerSecond = 0;
    double gpuMedian = 0;
    int timed = 0;
    for (auto _ : state) {
        const auto throughput = ActivityMetal::benchmark();
        framesPerSecond += throughput.completedFramesPerSecond;
        if (throughput.gpuMedianMilliseconds) {
            gpuMedian += *throughput.gpuMedianMilliseconds;
            ++timed;
        }
    }
    state.counters["completed_fps"] = benchmark::Counter(framesPerSecond, benchmark::Counter::kAvgIterations);
    if (timed > 0)
        state.counters["gpu_median_ms"] = gpuMedian / timed;
}

// The same 120 sequential frames with nothing drawn: clear, fence, wait.
void BM_BaselineBareFrames(benchmark::State &state)
{
    auto context = GpuContext::open();
    if (!context) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    const GlFunctions &gl = context->gl();
    GLuint texture = 0, framebuffer = 0;
    gl.glGenTextures(1, &texture);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, ActivityMetal::kBenchmarkWidth, ActivityMetal::kBenchmarkHeight, 0,
                    GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glGenFramebuffers(1, &framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    gl.glViewport(0, 0, ActivityMetal::kBenchmarkWidth, ActivityMetal::kBenchmarkHeight);
    double framesPerSecond = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < ActivityMetal::kBenchmarkFrames; ++i) {
            gl.glClearColor(float(i) / 120, 0, 0, 1);
            gl.glClear(GL_COLOR_BUFFER_BIT);
            GLsync fence = gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
            gl.glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, 10'000'000'000);
            gl.glDeleteSync(fence);
        }
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        framesPerSecond += ActivityMetal::kBenchmarkFrames / wall.count();
    }
    state.counters["completed_fps"] = benchmark::Counter(framesPerSecond, benchmark::Counter::kAvgIterations);
    gl.glDeleteFramebuffers(1, &framebuffer);
    gl.glDeleteTextures(1, &texture);
}

void BM_LanesFrameCpu(benchmark::State &state)
{
    float time = 0;
    for (auto _ : state) {
        QImage image = LanesFrame{time, 0x3E, 60}.render(kWindowLanes);
        benchmark::DoNotOptimize(image.constBits());
        time += 1.0f / 60;
    }
}

void BM_BaselineFill(benchmark::State &state)
{
    for (auto _ : state) {
        QImage image(kWindowLanes, QImage::Format_RGBA8888_Premultiplied);
        image.fill(qRgb(17, 31, 27));
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_ActivityMetalBenchmark)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_BaselineBareFrames)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_LanesFrameCpu)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineFill)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const auto &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0)
                continue;
            const std::string name = run.run_name.function_name;
            m_seconds[name] = run.real_accumulated_time / double(run.iterations);
            if (const auto fps = run.counters.find("completed_fps"); fps != run.counters.end())
                m_fps[name] = fps->second.value;
            if (const auto gpu = run.counters.find("gpu_median_ms"); gpu != run.counters.end())
                m_gpuMedian = gpu->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double lanes = m_fps["BM_ActivityMetalBenchmark"];
        const double bare = m_fps["BM_BaselineBareFrames"];
        if (lanes > 0 && bare > 0)
            std::printf("GPU lanes at 1100x128: %.0f completed frames per second (goal >= 120), GPU median %.3f ms; "
                        "bare frames %.0f per second; lanes frame time / bare frame time = %.2f\n",
                        lanes, m_gpuMedian, bare, bare / lanes);
        const double cpu = m_seconds["BM_LanesFrameCpu"];
        const double fill = m_seconds["BM_BaselineFill"];
        if (cpu > 0 && fill > 0)
            std::printf("CPU lanes at 1000x48: %.2f ms per frame, %.0f%% of a 60 fps frame; / bare fill = %.0f\n",
                        cpu * 1000, 100 * cpu / kFrameBudgetSeconds, cpu / fill);
    }

private:
    std::map<std::string, double> m_seconds;
    std::map<std::string, double> m_fps;
    double m_gpuMedian = 0;
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
