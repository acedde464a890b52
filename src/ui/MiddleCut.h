#pragma once

#include <QFont>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// Middle truncation over several lines. Qt Quick's own middle elision works on one line only, so a
// text that may take two lines and must lose its middle (a long folder path, whose start and end both
// matter) is cut here and shown by a plain wrapping Text.
namespace middlecut
{
// `text` when it fits in `lines` lines of `width` at `font`, wrapped as a QML Text with
// `wrapMode: Text.Wrap` wraps; otherwise its start, an ellipsis and its end, as much of both as fits.
QString cut(const QString &text, const QFont &font, double width, int lines);
} // namespace middlecut

// The cut for QML: `text: TextCut.middle(model.value, label.font, label.width, 2)`.
class TextCut : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;
    Q_INVOKABLE static QString middle(const QString &text, const QFont &font, double width, int lines);
};
