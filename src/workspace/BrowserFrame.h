#pragma once

#include <QByteArrayView>
#include <QImage>

// One frame of the live browser as the platform captures it: a Base64 PNG, bounded before anything
// is decoded.
namespace browserframe
{
inline constexpr qsizetype kMaximumTextBytes = 16777216;
inline constexpr qsizetype kMinimumPNGBytes = 24;
inline constexpr qsizetype kMaximumPNGBytes = 12582912;
inline constexpr quint32 kMaximumSide = 8192;
inline constexpr quint64 kMaximumPixels = 33554432;

// The image of `base64Text` (the UTF-8 of the answer's "png"). Throws HubError: "The DCV server did
// not return a bounded PNG screenshot." when the text is too long, no Base64, of a decoded size out
// of bounds or without the PNG signature; "The DCV screenshot dimensions or image were invalid."
// when the header's width or height or their product is out of bounds or the bitmap cannot be
// decoded. The header is read before the bitmap is decoded.
QImage decode(QByteArrayView base64Text);
} // namespace browserframe
