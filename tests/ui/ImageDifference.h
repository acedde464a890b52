#pragma once

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

// Whether the lanes' grid test (fraction of 32 u at least 0.985) sits within rounding of its edge
// at column `x` of `width`: a pixel centre exactly on a column boundary or on the 0.985 mark. There
// a GPU's interpolated coordinate and the CPU's exact one may fall on either side, a difference of
// 0.025 (six levels) that says nothing about the formula.
inline bool onGridEdge(int x, int width)
{
    const double cells = (x + 0.5) * 32.0 / width;
    const double fraction = cells - std::floor(cells);
    return fraction < 1e-4 || fraction > 1 - 1e-4 || std::abs(fraction - 0.985) < 1e-4;
}

// The largest difference of any 8-bit channel between two RGBA8888 images of the same size, over
// the pixels `counted` accepts (all by default); -1 when the sizes or formats differ.
inline int largestDifference(const QImage &a, const QImage &b, const std::function<bool(int, int)> &counted = {})
{
    if (a.size() != b.size() || a.format() != b.format() || a.depth() != 32)
        return -1;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *p = a.constScanLine(y);
        const uchar *q = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            if (counted && !counted(x, y))
                continue;
            for (int c = 0; c < 4; ++c)
                largest = std::max(largest, std::abs(int(p[x * 4 + c]) - int(q[x * 4 + c])));
        }
    }
    return largest;
}
