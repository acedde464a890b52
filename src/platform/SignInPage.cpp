#include "platform/SignInPage.h"

SignInPage::SignInPage(QUrl url, QString callbackScheme, QStringList allowedHosts, QObject *parent)
    : QObject(parent), m_url(std::move(url)), m_callbackScheme(std::move(callbackScheme)),
      m_allowedHosts(std::move(allowedHosts))
{}

bool SignInPage::acceptsNavigation(const QUrl &url, bool isMainFrame) const
{
    if (url.scheme().compare(m_callbackScheme, Qt::CaseInsensitive) == 0)
        return isMainFrame;
    return url.scheme() == QLatin1String("https") && m_allowedHosts.contains(url.host(), Qt::CaseInsensitive);
}

void SignInPage::renderProcessEnded()
{
    Q_EMIT ended();
}
