#include "ui/LanesFrame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace
{
constexpr int kLanes = 6;

uchar unorm8(float value)
{
    return uchar(std::clamp(value, 0.0f, 1.0f) * 255.0f + 0.5f);
}

bool lit(int mask, int lane)
{
    return ((mask & LanesFrame::kLaneBits) >> lane) & 1;
}
} // namespace

QImage LanesFrame::render(QSize pixels) const
{
    if (pixels.isEmpty())
        return {};
    const int width = pixels.width();
    const int height = pixels.height();
    QImage image(pixels, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull())
        return {};

    // The waves and the grid depend on x alone: one evaluation per column, then only the glow per
    // pixel. The operation order follows the shader's so the two round alike.
    const float speed = 1.0f + std::min(velocity / 40.0f, 4.0f);
    const float activeAmplitude = 0.008f + std::min(velocity / 120.0f, 1.0f) * 0.035f;
    std::array<float, kLanes> glow{};
    for (int i = 0; i < kLanes; ++i)
        glow[size_t(i)] = lit(activeMask, i) ? 0.9f : 0.24f;
    std::vector<float> waves(size_t(width) * kLanes);
    std::vector<float> grid(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        const float u = (float(x) + 0.5f) / float(width);
        const float envelope = std::sin(u * 3.14159265f);
        for (int i = 0; i < kLanes; ++i) {
            const float centre = (float(i) + 0.5f) / 6.0f;
            const float amplitude = lit(activeMask, i) ? activeAmplitude : 0.0f;
            waves[size_t(x) * kLanes + size_t(i)] =
                centre + std::sin(u * 38.0f - time * speed + float(i)) * amplitude * envelope;
        }
        const float cells = u * 32.0f;
        grid[size_t(x)] = cells - std::floor(cells) >= 0.985f ? 0.025f : 0.0f;
    }

    for (int y = 0; y < height; ++y) {
        const float v = 1.0f - (float(y) + 0.5f) / float(height);
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const float *wave = &waves[size_t(x) * kLanes];
            float line = 0.0f;
            for (int i = 0; i < kLanes; ++i)
                line += std::exp(-std::abs(v - wave[i]) * 190.0f) * glow[size_t(i)];
            const float g = grid[size_t(x)];
            uchar *pixel = row + size_t(x) * 4;
            pixel[0] = unorm8(0.065f + line * 0.25f + g);
            pixel[1] = unorm8(0.12f + line * 0.57f + g);
            pixel[2] = unorm8(0.105f + line * 0.40f + g);
            pixel[3] = 255;
        }
    }
    return image;
}
