#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// A compact perceptual summary of an image: mean luminance and edge density on a 32 x 32 grid and
// mean colour on an 8 x 8 grid. Two prints of the same pixels are identical; the distance between
// prints grows with the visual difference of their images. The serialised form is versioned and
// of one fixed length, so a parser can check it completely before using any of it.
class FeaturePrint
{
public:
    static constexpr int kGrid = 32;
    static constexpr int kColourGrid = 8;
    static constexpr int kVersion = 1;
    // Longest Base64 text looked at: well above one print, far below anything harmful.
    static constexpr qsizetype kMaxBase64Length = 16384;

    // `rgb` is Format_RGB32 and `grey` Format_Grayscale8 of the same size, at least 1 x 1.
    static FeaturePrint compute(const QImage &rgb, const QImage &grey);

    QByteArray serialize() const;
    QString toBase64() const;
    // Accepts exactly the form serialize writes; anything else is refused.
    static std::optional<FeaturePrint> parse(QByteArrayView bytes);
    // Strict standard Base64 of a serialised print.
    static std::optional<FeaturePrint> fromBase64(const QString &text);

    // 0 for equal prints, at most 1.
    double distance(const FeaturePrint &other) const;

    friend bool operator==(const FeaturePrint &, const FeaturePrint &) = default;

private:
    std::array<std::uint8_t, kGrid * kGrid> m_luminance{};
    std::array<std::uint8_t, kGrid * kGrid> m_edges{};
    std::array<std::uint8_t, kColourGrid * kColourGrid * 3> m_colour{};
};
