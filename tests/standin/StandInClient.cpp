#include "StandInClient.h"

#include "support/TestSupport.h"

#include <QSslConfiguration>

StandInClient::StandInClient(const QNetworkProxy &proxy, const QString &caPath)
{
    m_manager.setProxy(proxy);
    m_ssl = QSslConfiguration::defaultConfiguration();
    if (!caPath.isEmpty())
        m_ssl.addCaCertificates(caPath);
}

QNetworkReply *StandInClient::start(const QUrl &url, std::optional<QByteArray> body, const QByteArray &token,
                                    const Headers &headers)
{
    QNetworkRequest request(url);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    request.setSslConfiguration(m_ssl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    if (!body)
        return m_manager.get(request);
    if (!request.hasRawHeader("Content-Type"))
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return m_manager.post(request, *body);
}

StandInClient::Answer StandInClient::finish(QNetworkReply *reply)
{
    Answer answer;
    if (!testsupport::waitUntil([reply] { return reply->isFinished(); }, std::chrono::seconds(10))) {
        reply->abort();
        answer.error = QNetworkReply::TimeoutError;
    } else {
        answer.error = reply->error();
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.location = reply->rawHeader("Location");
    answer.headers = reply->rawHeaderPairs();
    answer.peer = reply->sslConfiguration().peerCertificate();
    reply->deleteLater();
    return answer;
}
