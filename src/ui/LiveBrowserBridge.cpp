#include "ui/LiveBrowserBridge.h"

#include "workspace/BrowserGrant.h"

void LiveBrowserBridge::setView(QObject *view)
{
    if (m_page.view() == view)
        return;
    m_page.setView(view);
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
    if (m_page.view() && m_documents)
        m_documents->loadBrowser(this);
}

void LiveBrowserBridge::stopLoading()
{
    m_page.stop();
}

void LiveBrowserBridge::loadBlank()
{
    if (QObject *view = m_page.view())
        view->setProperty("url", QUrl(QStringLiteral("about:blank")));
}

void LiveBrowserBridge::loadPage(const QUrl &url, std::chrono::milliseconds timeout)
{
    m_page.setTimeout(int(timeout.count()));
    m_page.load(url);
}

bool WorkspaceNavigation::allowsLiveView(const QUrl &url)
{
    return browsergrant::allowsLiveViewNavigation(url);
}

bool WorkspaceNavigation::allowsInputRequest(const QUrl &url, bool isMainFrame)
{
    return browsergrant::allowsInputRequestNavigation(url, isMainFrame);
}
