#include "ui/PdfFile.h"

#include <QPainter>
#include <QQuickWindow>

PdfFile::PdfFile(QObject *parent) : QObject(parent) {}

void PdfFile::setSource(const QUrl &source)
{
    if (source == m_source && m_document.status() == QPdfDocument::Status::Ready)
        return;
    const bool changed = source != m_source;
    m_source = source;
    m_document.close();
    if (source.isLocalFile())
        m_document.load(source.toLocalFile());
    if (changed)
        Q_EMIT sourceChanged();
    Q_EMIT loaded();
}

int PdfFile::pageCount() const
{
    return m_document.status() == QPdfDocument::Status::Ready ? m_document.pageCount() : 0;
}

QSizeF PdfFile::pagePointSize(int page) const
{
    return page >= 0 && page < pageCount() ? m_document.pagePointSize(page) : QSizeF();
}

QImage PdfFile::render(int page, QSize size)
{
    if (page < 0 || page >= pageCount() || size.isEmpty())
        return {};
    return m_document.render(page, size);
}

PdfPage::PdfPage(QQuickItem *parent) : QQuickPaintedItem(parent) {}

void PdfPage::setFile(PdfFile *file)
{
    if (m_file == file)
        return;
    disconnect(m_reloads);
    m_file = file;
    if (file)
        m_reloads = connect(file, &PdfFile::loaded, this, [this] { update(); });
    Q_EMIT fileChanged();
    update();
}

void PdfPage::setPage(int page)
{
    if (m_page == page)
        return;
    m_page = page;
    Q_EMIT pageChanged();
    update();
}

void PdfPage::paint(QPainter *painter)
{
    if (!m_file)
        return;
    const qreal scale = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QImage image = m_file->render(m_page, (size() * scale).toSize());
    if (!image.isNull())
        painter->drawImage(boundingRect(), image);
}
