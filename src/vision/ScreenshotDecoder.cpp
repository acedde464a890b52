#include "vision/ScreenshotDecoder.h"

#include "core/HubError.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <mutex>

namespace
{
bool withinLimits(QSize size)
{
    return size.width() > 0 && size.height() > 0 && qint64(size.width()) * size.height() <= ScreenshotDecoder::kMaxPixels;
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
    // Transparent areas read as the white of a window background, not as black.
    QImage flattened(image.size(), QImage::Format_RGB32);
    flattened.fill(Qt::white);
    QPainter painter(&flattened);
    painter.drawImage(0, 0, image);
    painter.end();
    return flattened;
}
