#include "ui/Palette.h"

namespace
{
QColor srgb(float red, float green, float blue)
{
    return QColor::fromRgbF(red, green, blue, 1.0f);
}
} // namespace

const QColor &Palette::paper()
{
    static const QColor colour = srgb(0.955f, 0.949f, 0.929f);
    return colour;
}

const QColor &Palette::card()
{
    static const QColor colour = srgb(0.988f, 0.985f, 0.970f);
    return colour;
}

const QColor &Palette::ink()
{
    static const QColor colour = srgb(0.15f, 0.19f, 0.17f);
    return colour;
}

const QColor &Palette::muted()
{
    static const QColor colour = srgb(0.39f, 0.43f, 0.39f);
    return colour;
}

const QColor &Palette::green()
{
    static const QColor colour = srgb(0.19f, 0.36f, 0.27f);
    return colour;
}

const QColor &Palette::line()
{
    static const QColor colour = srgb(0.84f, 0.85f, 0.81f);
    return colour;
}

const QColor &Palette::error()
{
    static const QColor colour = srgb(0.65f, 0.16f, 0.13f);
    return colour;
}
