#pragma once

#include <QImage>
#include <QSize>

// The inputs of one picture of the activity lanes, and the lanes formula evaluated on the CPU: the
// picture the lanes shader (shaders/lanes.frag) draws, for the software scene graph, which runs no
// shaders, and as the reference the GPU output is checked against.
struct LanesFrame
{
    // Lanes 0 to 5; higher bits of a mask are ignored.
    static constexpr int kLaneBits = 0x3F;

    float time = 0;     // seconds of animation
    int activeMask = 0; // bit i marks lane i (lane 0 lowest) active
    float velocity = 0; // service output rate in tokens per second

    // Every pixel evaluated at its centre in single precision, as the shader is, with colours
    // clamped and rounded to 8 bits as a unorm render target stores them. Opaque, bytes R, G, B, A
    // (QImage::Format_RGBA8888_Premultiplied). An empty size gives a null image.
    QImage render(QSize pixels) const;
};
