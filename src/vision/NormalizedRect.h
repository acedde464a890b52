#pragma once

#include <QRectF>

// A rectangle as the recognition engines report it: normalised to 0...1 of the image's size, with
// the origin at the image's bottom-left corner and y upwards. Engines that work in pixels convert
// through fromPixels so that every consumer sees one convention.
struct NormalizedRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    // `pixels` has its origin at the top-left corner, y downwards; imageWidth and imageHeight are
    // at least 1.
    static NormalizedRect fromPixels(const QRectF &pixels, int imageWidth, int imageHeight)
    {
        const double w = imageWidth;
        const double h = imageHeight;
        return {pixels.x() / w, 1.0 - (pixels.y() + pixels.height()) / h, pixels.width() / w, pixels.height() / h};
    }
};
