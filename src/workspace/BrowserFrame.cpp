#include "workspace/BrowserFrame.h"

#include "core/HubError.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

namespace browserframe
{
namespace
{
const QString kUnbounded = QStringLiteral("The DCV server did not return a bounded PNG screenshot.");
const QString kInvalid = QStringLiteral("The DCV screenshot dimensions or image were invalid.");

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";

// The decoder's own limit must admit the largest image allowed: the most pixels at 8 bytes each
// (16 bits per channel, alpha included), in MiB.
constexpr int kDecoderAllocationMiB = int(kMaximumPixels * 8 / (1024 * 1024));
} // namespace

QImage decode(QByteArrayView base64Text)
{
    if (base64Text.size() > kMaximumTextBytes || base64Text.size() % 4 != 0)
        throw HubError(kUnbounded);
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(base64Text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray &png = decoded.decoded;
    if (!decoded || png.size() < kMinimumPNGBytes || png.size() > kMaximumPNGBytes ||
        !png.startsWith(QByteArrayView(kSignature, 8)))
        throw HubError(kUnbounded);

    const quint32 width = qFromBigEndian<quint32>(png.constData() + 16);
    const quint32 height = qFromBigEndian<quint32>(png.constData() + 20);
    if (width < 1 || width > kMaximumSide || height < 1 || height > kMaximumSide ||
        quint64(width) * height > kMaximumPixels)
        throw HubError(kInvalid);

    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAllocationLimit(kDecoderAllocationMiB);
    QImage image = reader.read();
    if (image.isNull())
        throw HubError(kInvalid);
    return image;
}
} // namespace browserframe
