#include "headless/ActivityMetal.h"
#include "core/HubError.h"
#include "headless/GpuContext.h"
#include "ui/ImageDifference.h"
#include "ui/LanesFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

// The headless lanes on this machine's OpenGL device, through both APIs, against the CPU picture.

namespace
{
// The shader and the CPU may round a channel apart where the formula sits on a rounding edge.
constexpr int kTolerance = 2;

const char *apiName(GpuContext::Api api)
{
    return api == GpuContext::Api::OpenGL ? "OpenGL" : "OpenGLES";
}

std::unique_ptr<GpuContext> openOrFail(GpuContext::Api api)
{
    auto context = GpuContext::open(api);
    EXPECT_TRUE(context) << "no " << apiName(api) << " context on this machine";
    return context;
}

struct Frame
{
    const char *name;
    int width, height;
    int activeMask;
    float velocity;
};

class ActivityMetalRender : public ::testing::TestWithParam<std::tuple<GpuContext::Api, Frame>>
{
};

TEST_P(ActivityMetalRender, MatchesTheCpuPicture)
{
    const auto &[api, f] = GetParam();
    auto context = openOrFail(api);
    ASSERT_TRUE(context);
    const ActivityMetal::Rendered rendered =
        ActivityMetal::render(*context, f.width, f.height, f.activeMask, f.velocity);
    EXPECT_FALSE(rendered.device.isEmpty());
    ASSERT_EQ(rendered.image.size(), QSize(f.width, f.height));
    ASSERT_EQ(rendered.image.format(), QImage::Format_RGBA8888_Premultiplied);
    const QImage expected = LanesFrame{0, f.activeMask & 0x3F, f.velocity}.render(QSize(f.width, f.height));
    EXPECT_LE(largestDifference(rendered.image, expected, [&](int x, int) { return !onGridEdge(x, f.width); }),
              kTolerance);
}

const Frame kFrames[] = {
    {"IdleProbe", 1100, 128, 0, 0},
    {"FiveLanesAtSixty", 1100, 128, 0x3E, 60},
    {"AllLanesPastTheCaps", 640, 96, 0x3F, 1000},
    {"OddSizeSlowLanes", 333, 77, 0x15, 7.5f},
    {"BitsAboveLaneFive", 200, 48, 0x7FC0 | 0x0A, 30},
};

INSTANTIATE_TEST_SUITE_P(Frames, ActivityMetalRender,
                         ::testing::Combine(::testing::Values(GpuContext::Api::OpenGL, GpuContext::Api::OpenGLES),
                                            ::testing::ValuesIn(kFrames)),
                         [](const auto &info) {
                             return std::string(apiName(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
                         });

TEST(ActivityMetal, RendersAreRepeatableAndIgnoreMaskBitsAboveFive)
{
    const ActivityMetal::Rendered first = ActivityMetal::render(1100, 128, 0x2B, 45);
    const ActivityMetal::Rendered again = ActivityMetal::render(1100, 128, 0x2B, 45);
    const ActivityMetal::Rendered highBits = ActivityMetal::render(1100, 128, 0x2B | 0xC0 | (1 << 30), 45);
    EXPECT_EQ(first.image, again.image);
    EXPECT_EQ(first.image, highBits.image);
    EXPECT_EQ(first.device, again.device);
}

TEST(ActivityMetal, SizesNoTextureCanHoldAreRefused)
{
    for (const QSize size : {QSize(0, 128), QSize(1100, -1), QSize(1 << 20, 1)}) {
        try {
            ActivityMetal::render(size.width(), size.height(), 0, 0);
            ADD_FAILURE() << "rendered " << size.width() << "x" << size.height();
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), QStringLiteral("Cannot allocate offscreen OpenGL texture."));
        }
    }
}

class ActivityMetalBenchmark : public ::testing::TestWithParam<GpuContext::Api>
{
};

TEST_P(ActivityMetalBenchmark, CompletesItsFramesOnTheDevice)
{
    auto context = openOrFail(GetParam());
    ASSERT_TRUE(context);
    const ActivityMetal::Throughput throughput = ActivityMetal::benchmark(*context);
    EXPECT_EQ(throughput.frames, 120);
    EXPECT_GT(throughput.wallSeconds, 0);
    EXPECT_DOUBLE_EQ(throughput.completedFramesPerSecond, 120 / throughput.wallSeconds);
    if (throughput.gpuMedianMilliseconds) {
        EXPECT_GT(*throughput.gpuMedianMilliseconds, 0);
        EXPECT_LT(*throughput.gpuMedianMilliseconds, throughput.wallSeconds * 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Apis, ActivityMetalBenchmark,
                         ::testing::Values(GpuContext::Api::OpenGL, GpuContext::Api::OpenGLES),
                         [](const auto &info) { return std::string(apiName(info.param)); });

struct Median
{
    const char *name;
    std::vector<double> gpuMilliseconds;
    std::optional<double> median;
};

void PrintTo(const Median &m, std::ostream *os)
{
    *os << m.name;
}

std::vector<double> shuffledOneTo(int count)
{
    std::vector<double> times(static_cast<size_t>(count));
    std::iota(times.begin(), times.end(), 1.0);
    std::shuffle(times.begin(), times.end(), std::mt19937(7));
    return times;
}

class ThroughputMedian : public ::testing::TestWithParam<Median>
{
};

TEST_P(ThroughputMedian, IsTheElementAtHalfTheCountOfTheSortedTimes)
{
    const auto throughput = ActivityMetal::Throughput::measured(0.5, GetParam().gpuMilliseconds);
    EXPECT_EQ(throughput.gpuMedianMilliseconds, GetParam().median);
    EXPECT_EQ(throughput.frames, 120);
    EXPECT_EQ(throughput.completedFramesPerSecond, 240.0);
}

const Median kMedians[] = {
    {"AllFramesTimed", shuffledOneTo(120), 61.0},
    {"EvenCountTakesTheUpperMiddle", {4.0, 1.0, 3.0, 2.0}, 3.0},
    {"OddCount", {0.9, 0.1, 0.5}, 0.5},
    {"OneTime", {2.5}, 2.5},
    {"NoTimes", {}, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Cases, ThroughputMedian, ::testing::ValuesIn(kMedians),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Throughput, NonPositiveWallTimeIsRefused)
{
    for (double wall : {0.0, -0.25}) {
        try {
            ActivityMetal::Throughput::measured(wall, {1.0});
            ADD_FAILURE() << "accepted " << wall;
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), QStringLiteral("Invalid throughput clock interval."));
        }
    }
}

TEST(Throughput, ManifestHoldsNineKeysWithAndWithoutGpuTimes)
{
    const Json timed = ActivityMetal::Throughput::measured(0.25, {0.5, 0.25, 0.75}).manifest();
    const Json untimed = ActivityMetal::Throughput::measured(0.25, {}).manifest();
    const Json expected = Json::parse(R"({
        "kind": "offscreen-command-completion-throughput",
        "frames": 120,
        "textureWidth": 1100,
        "textureHeight": 128,
        "wallSeconds": 0.25,
        "completedFramesPerSecond": 480.0,
        "gpuMedianMilliseconds": 0.5,
        "liveDisplayFPS": null,
        "workload": "same production shader; five staves; velocity60; sequential GPU completion"
    })");
    EXPECT_EQ(timed, expected);
    Json expectedUntimed = expected;
    expectedUntimed["gpuMedianMilliseconds"] = nullptr;
    EXPECT_EQ(untimed, expectedUntimed);
    EXPECT_TRUE(timed["frames"].is_number_integer());
    EXPECT_TRUE(timed["textureWidth"].is_number_integer());
}
} // namespace
