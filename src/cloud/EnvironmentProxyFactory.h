#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QUrl>

// Chooses a proxy from the proxy variables the way command-line HTTP tools read them: `https_proxy`
// (or `HTTPS_PROXY`) for https and wss, `http_proxy` for http and ws (lower case only), `all_proxy`
// (or `ALL_PROXY`) when the scheme's own variable is empty, and `no_proxy` (or `NO_PROXY`) as a comma
// list of hosts that go direct. Qt's own system factory on Linux goes through a library that leaves
// sockets (so WebSockets) unproxied and matches `no_proxy` entries differently.
class EnvironmentProxyFactory : public QNetworkProxyFactory
{
public:
    struct Settings
    {
        QByteArray httpsProxy;
        QByteArray httpProxy;
        QByteArray allProxy;
        QByteArray noProxy;
    };

    explicit EnvironmentProxyFactory(Settings settings) : m_settings(std::move(settings)) {}

    // The variables of this process, read once.
    static Settings fromEnvironment();

    // The proxy for a connection to `url`: an HTTP (CONNECT) or SOCKS5 proxy, or none.
    QNetworkProxy proxyFor(const QUrl &url) const;
    // Whether `host` is listed in `no_proxy`: "*" lists every host, a name lists itself and its
    // sub-domains (a leading "." or "*." is the same), an address or address/prefix lists addresses.
    bool bypasses(const QString &host) const;

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

private:
    Settings m_settings;
};
