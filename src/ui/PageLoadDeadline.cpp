#include "ui/PageLoadDeadline.h"

#include <QMetaProperty>

PageLoadDeadline::PageLoadDeadline(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (viewLoading())
            stop();
    });
}

void PageLoadDeadline::setView(QObject *view)
{
    if (m_view == view)
        return;
    disconnect(m_loadingChanges);
    m_deadline.stop();
    m_view = view;
    if (view) {
        const QMetaObject *meta = view->metaObject();
        const QMetaProperty loading = meta->property(meta->indexOfProperty("loading"));
        const QMetaMethod settle = metaObject()->method(metaObject()->indexOfSlot("viewLoadingChanged()"));
        if (loading.hasNotifySignal())
            m_loadingChanges = connect(view, loading.notifySignal(), this, settle);
    }
    Q_EMIT viewChanged();
}

void PageLoadDeadline::setTimeout(int milliseconds)
{
    if (m_timeout.count() == milliseconds)
        return;
    m_timeout = std::chrono::milliseconds(milliseconds);
    Q_EMIT timeoutChanged();
}

void PageLoadDeadline::load(const QUrl &url)
{
    if (!m_view)
        return;
    // Armed before the view is told: a replaced load may report its end while the new one is set.
    m_started = false;
    m_deadline.start(m_timeout);
    m_view->setProperty("url", url);
}

void PageLoadDeadline::stop()
{
    m_deadline.stop();
    if (m_view)
        QMetaObject::invokeMethod(m_view, "stop");
}

void PageLoadDeadline::viewLoadingChanged()
{
    if (viewLoading())
        m_started = true;
    else if (m_started)
        m_deadline.stop();
}

bool PageLoadDeadline::viewLoading() const
{
    return m_view && m_view->property("loading").toBool();
}
