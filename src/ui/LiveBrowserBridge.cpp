#include "ui/LiveBrowserBridge.h"

#include "workspace/BrowserGrant.h"

void LiveBrowserBridge::setView(QObject *view)
{
    if (m_view == view)
        return;
    m_view = view;
    Q_EMIT viewChanged();
    attach();
}

void LiveBrowserBridge::setDocuments(NativeDocuments *documents)
{
    if (m_documents == documents)
        return;
    disconnect(m_grantChanges);
    m_documents = documents;
    if (documents)
        m_grantChanges = connect(documents, &NativeDocuments::browserURLChanged, this, &LiveBrowserBridge::attach);
    Q_EMIT documentsChanged();
    attach();
}

void LiveBrowserBridge::attach()
{
    if (m_view && m_documents)
        m_documents->loadBrowser(this);
}

void LiveBrowserBridge::stopLoading()
{
    m_pageTimeout.stop();
    if (m_view)
        QMetaObject::invokeMethod(m_view, "stop");
}

void LiveBrowserBridge::loadBlank()
{
    if (m_view)
        m_view->setProperty("url", QUrl(QStringLiteral("about:blank")));
}

void LiveBrowserBridge::loadPage(const QUrl &url, std::chrono::milliseconds timeout)
{
    if (!m_view)
        return;
    m_view->setProperty("url", url);
    m_pageTimeout.setSingleShot(true);
    m_pageTimeout.callOnTimeout(this, [this] {
        if (m_view && m_view->property("loading").toBool())
            stopLoading();
    }, Qt::UniqueConnection);
    m_pageTimeout.start(timeout);
}

bool WorkspaceNavigation::allowsLiveView(const QUrl &url)
{
    return browsergrant::allowsLiveViewNavigation(url);
}

bool WorkspaceNavigation::allowsInputRequest(const QUrl &url, bool isMainFrame)
{
    return browsergrant::allowsInputRequestNavigation(url, isMainFrame);
}
