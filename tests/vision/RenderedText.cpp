#include "RenderedText.h"

#include <QBuffer>
#include <QFont>
#include <QPainter>

namespace renderedtext
{
QImage draw(QSize size, const std::vector<Label> &labels)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    for (const Label &label : labels) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(label.pixelSize);
        painter.setFont(font);
        painter.drawText(QRect(label.topLeft, QSize(size.width() - label.topLeft.x(), label.pixelSize * 2)),
                         Qt::AlignLeft | Qt::AlignTop, label.text);
    }
    painter.end();
    return image;
}

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
} // namespace renderedtext
