#pragma once

#include <QByteArray>
#include <QImage>

// Decodes the first image of a byte buffer with Qt's image reader, refusing images whose pixel
// count would let a small compressed file claim an unbounded amount of memory.
class ScreenshotDecoder
{
public:
    // Largest decoded image (width x height): an 8K screen and a margin.
    static constexpr qint64 kMaxPixels = 40000000;
    // Qt's own allocation ceiling for one decoded image, in MiB: kMaxPixels at 8 bytes per pixel.
    static constexpr int kAllocationLimitMiB = 320;

    ScreenshotDecoder() = delete;

    // Returns the decoded image flattened onto white, in Format_RGB32. Throws HubError with
    // decodeFailureSentence() when the bytes hold no image it can decode within the limits.
    static QImage decode(const QByteArray &bytes);

    static QString decodeFailureSentence();
};
