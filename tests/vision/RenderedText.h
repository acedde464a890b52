#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include <vector>

// Test images drawn at test time: known text in a known font on white.
namespace renderedtext
{
struct Label
{
    QString text;
    QPoint topLeft;
    int pixelSize = 28;
};

QImage draw(QSize size, const std::vector<Label> &labels);
QByteArray encode(const QImage &image, const char *format = "PNG");
inline QByteArray png(QSize size, const std::vector<Label> &labels)
{
    return encode(draw(size, labels));
}
} // namespace renderedtext
