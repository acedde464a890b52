#include "vision/ScreenshotDecoder.h"

#include "core/HubError.h"

#include <QBuffer>
#include <QImageReader>

#include <mutex>

namespace
{
bool withinLimits(QSize size)
{
    return size.width() > 0 && size.height() > 0 &&
           qint64(size.width()) * size.height() <= ScreenshotDecoder::kMaxPixels;
}
} // namespace

QString ScreenshotDecoder::decodeFailureSentence()
{
    return QStringLiteral("QImageReader could not decode preview frame.");
}

QImage ScreenshotDecoder::decode(const QByteArray &bytes)
{
    static std::once_flag limitSet;
    std::call_once(limitSet, [] { QImageReader::setAllocationLimit(kAllocationLimitMiB); });

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    // The header's size is checked before a single pixel is decoded; formats that cannot tell it
    // up front are still bounded by the allocation limit and the check after decoding.
    const QSize announced = reader.size();
    if (announced.isValid() && !withinLimits(announced))
        throw HubError(decodeFailureSentence());

    QImage image;
    if (!reader.read(&image) || image.isNull() || !withinLimits(image.size()))
        throw HubError(decodeFailureSentence());

    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    // Transparent areas read as the white of a window background, not as black. Composited by
    // hand: premultiplied channels never exceed alpha, so channel + (255 - alpha) is white-backed.
    QImage flattened = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < flattened.height(); ++y) {
        auto *pixel = reinterpret_cast<QRgb *>(flattened.scanLine(y));
        for (int x = 0; x < flattened.width(); ++x) {
            const int cover = 255 - qAlpha(pixel[x]);
            pixel[x] = qRgb(qRed(pixel[x]) + cover, qGreen(pixel[x]) + cover, qBlue(pixel[x]) + cover);
        }
    }
    return flattened.convertToFormat(QImage::Format_RGB32);
}
