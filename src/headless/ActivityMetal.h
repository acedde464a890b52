#pragma once

#include "core/Json.h"

#include <QImage>
#include <QString>

#include <optional>
#include <vector>

class GpuContext;

// The workspace window's activity lanes drawn on the GPU without any window, with the lanes view's
// own shader: one frame read back as an image (the proof that a real OpenGL device drew it, and the
// picture the export shows in place of the live view), and a fixed benchmark of how fast the GPU
// completes frames of it, one after the other.
//
// Both operations block the calling thread until the GPU has finished, create everything they use
// and release it before returning; nothing is cached between calls.
class ActivityMetal
{
public:
    static constexpr int kBenchmarkWidth = 1100;
    static constexpr int kBenchmarkHeight = 128;
    static constexpr qint64 kBenchmarkFrames = 120;

    struct Throughput
    {
        qint64 frames = kBenchmarkFrames;
        // From just before the first frame to just after the last one completed.
        double wallSeconds = 0;
        double completedFramesPerSecond = 0;
        // Absent when no frame reported a usable GPU time.
        std::optional<double> gpuMedianMilliseconds;

        // The result of the benchmark's frames: the median is the element at index count / 2 of the
        // sorted GPU times (the upper middle one for an even count). Throws HubError "Invalid
        // throughput clock interval." when `wallSeconds` is not positive.
        static Throughput measured(double wallSeconds, std::vector<double> gpuMilliseconds);

        // The nine keys the export manifest stores under "metalThroughput".
        Json manifest() const;
    };

    struct Rendered
    {
        // width x height, Format_RGBA8888_Premultiplied (bytes R, G, B, A), opaque.
        QImage image;
        // The device's name as its driver reports it.
        QString device;
    };

    // One frame at animation time 0 with `activeMask`'s low six bits. Throws HubError: "A real
    // OpenGL device is required for frame export." without a device; the shader's build log when
    // it does not build; "Cannot allocate offscreen OpenGL texture.", "Cannot encode OpenGL frame.",
    // "OpenGL render did not complete.", "Cannot read back OpenGL image." or the driver's error.
    static Rendered render(int width, int height, int activeMask, float velocity);
    // The same on a context the caller opened (current on this thread).
    static Rendered render(GpuContext &context, int width, int height, int activeMask, float velocity);

    // 120 frames of 1100 x 128, five active lanes, velocity 60, time i / 120, each submitted after
    // the previous one completed. Throws HubError: "OpenGL unavailable for throughput benchmark."
    // without a device; the shader's build log; "Cannot allocate benchmark texture.", "Cannot
    // encode throughput benchmark.", "GPU benchmark command failed." or the driver's error;
    // "Invalid throughput clock interval.".
    static Throughput benchmark();
    static Throughput benchmark(GpuContext &context);
};
