#include "vision/FeaturePrint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{
constexpr char kMagic[4] = {'T', 'V', 'F', 'P'};
constexpr qsizetype kHeaderSize = 8;
constexpr qsizetype kSerializedSize = kHeaderSize + FeaturePrint::kGrid * FeaturePrint::kGrid * 2 +
                                      FeaturePrint::kColourGrid * FeaturePrint::kColourGrid * 3;

std::uint8_t clampByte(double value)
{
    return std::uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

template <size_t N>
double meanSquaredDifference(const std::array<std::uint8_t, N> &a, const std::array<std::uint8_t, N> &b)
{
    double sum = 0;
    for (size_t i = 0; i < N; ++i) {
        const double d = (double(a[i]) - double(b[i])) / 255.0;
        sum += d * d;
    }
    return sum / double(N);
}
} // namespace

FeaturePrint FeaturePrint::compute(const QImage &rgb, const QImage &grey)
{
    const int width = grey.width();
    const int height = grey.height();
    // Cell of each column and row, computed once; every pixel lands in exactly one cell.
    std::vector<int> cellOfColumn(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
        cellOfColumn[size_t(x)] = int(qint64(x) * kGrid / width);

    // Integer sums: exact, and cheaper than floating point in the per-pixel loop.
    std::array<std::uint64_t, kGrid * kGrid> luminance{};
    std::array<std::uint64_t, kGrid * kGrid> edges{};
    std::array<std::uint64_t, kGrid * kGrid> red{}, green{}, blue{};
    std::array<std::uint64_t, kGrid * kGrid> pixels{};
    for (int y = 0; y < height; ++y) {
        const int cellRow = int(qint64(y) * kGrid / height) * kGrid;
        const uchar *g = grey.constScanLine(y);
        const uchar *below = grey.constScanLine(std::min(y + 1, height - 1));
        const auto *c = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int cell = cellRow + cellOfColumn[size_t(x)];
            const int right = g[std::min(x + 1, width - 1)];
            luminance[size_t(cell)] += g[x];
            edges[size_t(cell)] += std::uint64_t(std::abs(right - g[x]) + std::abs(int(below[x]) - g[x]));
            red[size_t(cell)] += qRed(c[x]);
            green[size_t(cell)] += qGreen(c[x]);
            blue[size_t(cell)] += qBlue(c[x]);
            pixels[size_t(cell)] += 1;
        }
    }

    FeaturePrint print;
    constexpr int kCellsPerColour = kGrid / kColourGrid;
    std::array<double, kColourGrid * kColourGrid * 4> colour{};
    for (int cy = 0; cy < kGrid; ++cy) {
        for (int cx = 0; cx < kGrid; ++cx) {
            const size_t cell = size_t(cy * kGrid + cx);
            // Images smaller than the grid leave some cells empty; they read as black and flat.
            const double n = double(std::max<std::uint64_t>(1, pixels[cell]));
            print.m_luminance[cell] = clampByte(double(luminance[cell]) / n);
            print.m_edges[cell] = clampByte(double(edges[cell]) / n);
            const size_t c = size_t((cy / kCellsPerColour) * kColourGrid + cx / kCellsPerColour) * 4;
            colour[c] += double(red[cell]);
            colour[c + 1] += double(green[cell]);
            colour[c + 2] += double(blue[cell]);
            colour[c + 3] += double(pixels[cell]);
        }
    }
    for (size_t c = 0; c < size_t(kColourGrid * kColourGrid); ++c) {
        const double n = std::max(1.0, colour[c * 4 + 3]);
        for (size_t channel = 0; channel < 3; ++channel)
            print.m_colour[c * 3 + channel] = clampByte(colour[c * 4 + channel] / n);
    }
    return print;
}

QByteArray FeaturePrint::serialize() const
{
    QByteArray out;
    out.reserve(kSerializedSize);
    out.append(kMagic, sizeof kMagic);
    out.append(char(kVersion));
    out.append(char(kGrid));
    out.append(char(kColourGrid));
    out.append('\0');
    out.append(reinterpret_cast<const char *>(m_luminance.data()), qsizetype(m_luminance.size()));
    out.append(reinterpret_cast<const char *>(m_edges.data()), qsizetype(m_edges.size()));
    out.append(reinterpret_cast<const char *>(m_colour.data()), qsizetype(m_colour.size()));
    return out;
}

QString FeaturePrint::toBase64() const
{
    return QString::fromLatin1(serialize().toBase64());
}

std::optional<FeaturePrint> FeaturePrint::parse(QByteArrayView bytes)
{
    if (bytes.size() != kSerializedSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    if (bytes[4] != char(kVersion) || bytes[5] != char(kGrid) || bytes[6] != char(kColourGrid) || bytes[7] != '\0')
        return std::nullopt;
    FeaturePrint print;
    const char *cursor = bytes.data() + kHeaderSize;
    std::memcpy(print.m_luminance.data(), cursor, print.m_luminance.size());
    cursor += print.m_luminance.size();
    std::memcpy(print.m_edges.data(), cursor, print.m_edges.size());
    cursor += print.m_edges.size();
    std::memcpy(print.m_colour.data(), cursor, print.m_colour.size());
    return print;
}

std::optional<FeaturePrint> FeaturePrint::fromBase64(const QString &text)
{
    if (text.isEmpty() || text.size() > kMaxBase64Length)
        return std::nullopt;
    // Base64 is ASCII; anything else cannot decode.
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::Base64Encoding |
                                                                             QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return parse(*decoded);
}

double FeaturePrint::distance(const FeaturePrint &other) const
{
    const double sum = meanSquaredDifference(m_luminance, other.m_luminance) +
                       meanSquaredDifference(m_edges, other.m_edges) + meanSquaredDifference(m_colour, other.m_colour);
    return std::sqrt(sum / 3.0);
}
