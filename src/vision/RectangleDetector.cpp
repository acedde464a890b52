#include "vision/RectangleDetector.h"

#include <QString>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace
{
// Shapes are found on a copy no wider than this: panels and buttons survive the reduction, and the
// contour search stays cheap on high-density screenshots.
constexpr int kWorkingWidth = 1440;
// Candidates this similar (intersection over union) are one shape seen twice, e.g. the inner and
// outer edge of a border line.
constexpr double kSameShapeOverlap = 0.8;

double overlapRatio(const cv::Rect2d &a, const cv::Rect2d &b)
{
    const double intersection = (a & b).area();
    const double united = a.area() + b.area() - intersection;
    return united > 0 ? intersection / united : 0;
}
} // namespace

QString RectangleDetector::engineVersion()
{
    return QString::fromStdString(cv::getVersionString());
}

std::vector<RectangleDetector::Observation> RectangleDetector::detect(const QImage &grey, const Limits &limits)
{
    std::vector<Observation> result;
    if (grey.width() < 2 || grey.height() < 2 || limits.maximumObservations <= 0)
        return result;

    // Our own image is only read; OpenCV wraps it without copying.
    const cv::Mat source(grey.height(), grey.width(), CV_8UC1, const_cast<uchar *>(grey.constBits()),
                         size_t(grey.bytesPerLine()));
    cv::Mat working;
    double scale = 1.0;
    if (grey.width() > kWorkingWidth) {
        scale = double(kWorkingWidth) / grey.width();
        cv::resize(source, working, cv::Size(), scale, scale, cv::INTER_AREA);
    } else {
        working = source;
    }

    cv::Mat edges;
    cv::Canny(working, edges, 40, 120);
    // Closes the one-pixel gaps that anti-aliased corners leave in an outline.
    cv::dilate(edges, edges, cv::Mat(), cv::Point(-1, -1), 1);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);

    const double minimumSide = limits.minimumSize * std::min(working.cols, working.rows);
    struct Candidate
    {
        cv::Rect2d rect;
        double confidence;
    };
    std::vector<Candidate> candidates;
    std::vector<cv::Point> quad;
    for (const auto &contour : contours) {
        const cv::Rect box = cv::boundingRect(contour);
        const int longer = std::max(box.width, box.height);
        const int shorter = std::min(box.width, box.height);
        if (longer < minimumSide || shorter < 2 || double(shorter) / longer < limits.minimumAspectRatio)
            continue;
        cv::approxPolyDP(contour, quad, 0.02 * cv::arcLength(contour, true), true);
        if (quad.size() != 4 || !cv::isContourConvex(quad))
            continue;
        // How much of its bounding rectangle the quadrilateral fills, and how closely it follows
        // the contour it was drawn from: both near 1 for a drawn rectangle.
        const double quadArea = std::fabs(cv::contourArea(quad));
        const double contourArea = std::fabs(cv::contourArea(contour));
        const double boxArea = double(box.width) * box.height;
        if (quadArea <= 0 || boxArea <= 0)
            continue;
        const double fill = quadArea / boxArea;
        const double fit = std::min(quadArea, contourArea) / std::max(quadArea, contourArea);
        const double confidence = fill * fit;
        if (confidence < limits.minimumConfidence)
            continue;
        candidates.push_back({cv::Rect2d(box.x, box.y, box.width, box.height), confidence});
    }

    // Best first; equal fits by size and then position, so the order never depends on the
    // contour search's internals.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        if (a.confidence != b.confidence)
            return a.confidence > b.confidence;
        if (a.rect.area() != b.rect.area())
            return a.rect.area() > b.rect.area();
        if (a.rect.y != b.rect.y)
            return a.rect.y < b.rect.y;
        return a.rect.x < b.rect.x;
    });
    std::vector<cv::Rect2d> kept;
    for (const Candidate &candidate : candidates) {
        if (int(result.size()) >= limits.maximumObservations)
            break;
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const cv::Rect2d &other) {
            return overlapRatio(candidate.rect, other) > kSameShapeOverlap;
        });
        if (seen)
            continue;
        kept.push_back(candidate.rect);
        const QRectF pixels(candidate.rect.x / scale, candidate.rect.y / scale, candidate.rect.width / scale,
                            candidate.rect.height / scale);
        result.push_back({NormalizedRect::fromPixels(pixels, grey.width(), grey.height()), candidate.confidence});
    }
    return result;
}
