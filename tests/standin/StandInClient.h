#pragma once

#include "support/StandIn.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <memory>

// A plain QNetworkAccessManager pointed at a stand-in: its proxy, and its authority trusted on top
// of the system's. Redirects are never followed, so a scripted 3xx arrives as it was sent.
class StandInClient
{
public:
    struct Answer
    {
        int status = 0;
        QByteArray body;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray location;
        QSslCertificate peer;
        QList<QPair<QByteArray, QByteArray>> headers;

        // The value of header `name` in any letter case, or an empty array.
        QByteArray header(QByteArrayView name) const
        {
            for (const auto &[key, value] : headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    return value;
            return {};
        }
    };
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    explicit StandInClient(const StandIn &standIn, bool trustAuthority = true)
        : StandInClient(standIn.proxy(), trustAuthority ? standIn.caPath() : QString())
    {}
    // Through the proxy `proxy`, trusting the authority at `caPath` when one is given.
    StandInClient(const QNetworkProxy &proxy, const QString &caPath);

    // Starts a request; `body` set means POST; `token` empty sends no Authorization. The reply
    // belongs to the client.
    QNetworkReply *start(const QUrl &url, std::optional<QByteArray> body = std::nullopt,
                         const QByteArray &token = "token-1", const Headers &headers = {});
    // Waits (bounded) for `reply` to finish and reads it.
    static Answer finish(QNetworkReply *reply);
    Answer send(const QUrl &url, std::optional<QByteArray> body = std::nullopt, const QByteArray &token = "token-1",
                const Headers &headers = {})
    {
        return finish(start(url, std::move(body), token, headers));
    }
    // POSTs one GraphQL operation to the default endpoint.
    Answer graphql(const Json &envelope, const QByteArray &token = "token-1")
    {
        return send(endpoint(), json::dump(envelope), token);
    }
    static QUrl endpoint() { return QUrl(QStringLiteral("https://api.tavrilo.example/graphql")); }

private:
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};
