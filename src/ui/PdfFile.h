#pragma once

#include <QImage>
#include <QPdfDocument>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QUrl>
#include <QtQml/qqml.h>

// One PDF file for the document view, rendered on the main thread: Qt 6.4 renders PDF pages unsafely
// on Qt Quick's image threads (a document replaced or a view removed during a render crashes).
class PdfFile : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(int pageCount READ pageCount NOTIFY loaded)

public:
    explicit PdfFile(QObject *parent = nullptr);

    QUrl source() const { return m_source; }
    // Opens the file of a local address. The same address again keeps the document (with the view's
    // scroll position); a file that could not be opened is tried again.
    void setSource(const QUrl &source);
    // 0 when no document is open.
    int pageCount() const;
    Q_INVOKABLE QSizeF pagePointSize(int page) const;
    // The page at `size` pixels; null outside the document.
    QImage render(int page, QSize size);

Q_SIGNALS:
    void sourceChanged();
    // A document was opened, or none could be.
    void loaded();

private:
    QUrl m_source;
    QPdfDocument m_document;
};

// One page of a PdfFile, drawn at the item's size.
class PdfPage : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PdfFile *file READ file WRITE setFile NOTIFY fileChanged)
    Q_PROPERTY(int page READ page WRITE setPage NOTIFY pageChanged)

public:
    explicit PdfPage(QQuickItem *parent = nullptr);

    PdfFile *file() const { return m_file; }
    void setFile(PdfFile *file);
    int page() const { return m_page; }
    void setPage(int page);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void fileChanged();
    void pageChanged();

private:
    QPointer<PdfFile> m_file;
    int m_page = 0;
    QMetaObject::Connection m_reloads;
};
