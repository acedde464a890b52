#pragma once

#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#include <chrono>
#include <memory>

class EnvironmentProxyFactory;
class QNetworkAccessManager;
class QWebSocket;

// The two connections of the process to the identity provider and the platform. Nothing persists
// (no disk cache, cookies in memory only), no redirect is ever followed, every request has a
// whole-request deadline of its own and its answer is read against a byte cap. Both honour the
// system's network settings: the proxy variables (`https_proxy`, `no_proxy`, ...) and the trust
// variables `SSL_CERT_FILE` and `SSL_CERT_DIR`, whose certificates add to the system's authorities.
// The settings are read once, when `shared()` is first called.
class HubNetwork
{
public:
    // Made on first use and ended with the application object; main thread only, like the
    // managers it holds.
    static HubNetwork &shared();

    // Token requests (and the identity provider in general).
    QNetworkAccessManager *session() const { return m_session.get(); }
    // Platform requests: GraphQL queries and mutations, each within `platformDeadline()`.
    QNetworkAccessManager *httpSession() const { return m_httpSession.get(); }

    // The whole-request deadline of every platform request: 45 s. Settable (main thread) so that
    // what a silent platform does can be tried without waiting that long.
    static std::chrono::milliseconds platformDeadline();
    static void setPlatformDeadline(std::chrono::milliseconds deadline);

    struct Request
    {
        QNetworkRequest request;
        QByteArray method = "POST";
        QByteArray body;
        // The whole request, from sending to the last body byte.
        std::chrono::milliseconds deadline{45000};
        // The largest body accepted; -1: no cap.
        qint64 maxBytes = -1;
    };

    struct Reply
    {
        // The HTTP status; a redirect arrives as its own 3xx status.
        int status = 0;
        QByteArray body;
        // The body ran past `maxBytes`: reading stopped there and `body` is incomplete.
        bool overCap = false;
        QList<QNetworkReply::RawHeaderPair> headers;
    };

    // Sends `request` with `manager`. Throws CancelledError when `token` fires first, DeadlineError
    // when the request's deadline passes, and HubNetworkError when no complete HTTP answer arrives.
    // Any HTTP status is an answer: checking it is the caller's part.
    static QCoro::Task<Reply> send(QNetworkAccessManager *manager, Request request, CancelToken token);

    // Points a WebSocket that is about to open `url` at the proxy and trust that the managers use.
    static void configure(QWebSocket &socket, const QUrl &url);

    // The trust every connection uses: the system's authorities plus those of the trust variables.
    const QSslConfiguration &sslConfiguration() const { return m_ssl; }
    // The proxy for a connection to `url` (NoProxy for a direct one).
    QNetworkProxy proxyFor(const QUrl &url) const;

    HubNetwork(const HubNetwork &) = delete;
    HubNetwork &operator=(const HubNetwork &) = delete;

private:
    HubNetwork();
    ~HubNetwork();

    std::unique_ptr<EnvironmentProxyFactory> m_proxies;
    std::unique_ptr<QNetworkAccessManager> m_session;
    std::unique_ptr<QNetworkAccessManager> m_httpSession;
    QSslConfiguration m_ssl;
};
