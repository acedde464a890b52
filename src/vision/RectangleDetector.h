#pragma once

#include "vision/NormalizedRect.h"

#include <QImage>

#include <vector>

// Rectangular shapes of an image (panels, cards, buttons, fields): contours approximated to convex
// quadrilaterals, judged by how well the quadrilateral fits its contour.
class RectangleDetector
{
public:
    struct Limits
    {
        int maximumObservations = 16;
        // Lowest fit of quadrilateral and contour, 0...1.
        double minimumConfidence = 0.55;
        // Lowest ratio of the shorter to the longer side.
        double minimumAspectRatio = 0.05;
        // Shortest longer side, as a fraction of the image's smaller dimension.
        double minimumSize = 0.04;
    };

    struct Observation
    {
        NormalizedRect bounds;
        double confidence = 0;
    };

    RectangleDetector() = delete;

    // `grey` is Format_Grayscale8. Best fits first, at most limits.maximumObservations.
    static std::vector<Observation> detect(const QImage &grey, const Limits &limits);

    // The image library's version as loaded, e.g. "4.6.0".
    static QString engineVersion();
};
