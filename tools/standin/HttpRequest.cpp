#include "standin/HttpRequest.h"

#include <QUrl>

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key == name)
            return value;
    }
    return {};
}

bool HttpRequest::wantsClose() const
{
    const QByteArray connection = header("connection").toLower();
    if (version == "HTTP/1.0")
        return !connection.contains("keep-alive");
    return connection.contains("close");
}

bool HttpRequest::expectsContinue(const QByteArray &buffer)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QByteArray head = buffer.left(headEnd).toLower();
    return head.contains("\nexpect: 100-continue") || head.contains("\nexpect:100-continue");
}

bool HttpRequest::isWebSocketUpgrade() const
{
    return method == "GET" && header("upgrade").toLower() == "websocket" &&
           header("connection").toLower().contains("upgrade");
}

HttpRequest::Parse HttpRequest::parse(const QByteArray &buffer, HttpRequest &out, qsizetype &consumed)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return buffer.size() > kMaxHeadBytes ? Parse::HeadTooLarge : Parse::NeedMore;
    if (headEnd + 4 > kMaxHeadBytes)
        return Parse::HeadTooLarge;

    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty() ||
        !requestLine[2].startsWith("HTTP/1."))
        return Parse::Malformed;

    HttpRequest request;
    request.method = requestLine[0];
    request.target = requestLine[1];
    request.version = requestLine[2];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::Malformed;
        request.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    if (request.target.startsWith('/')) {
        const QUrl url = QUrl::fromEncoded("http://origin" + request.target);
        if (!url.isValid())
            return Parse::Malformed;
        request.path = url.path();
        request.query = QUrlQuery(url);
    } else if (request.target.startsWith("http://")) {
        // Absolute form, as clients send it to a proxy.
        const QUrl url = QUrl::fromEncoded(request.target);
        if (!url.isValid())
            return Parse::Malformed;
        request.targetHost = url.host().toLower();
        request.path = url.path();
        request.query = QUrlQuery(url);
    }

    if (!request.header("transfer-encoding").isEmpty())
        return Parse::Unsupported;
    qsizetype length = 0;
    if (const QByteArray text = request.header("content-length"); !text.isEmpty()) {
        bool ok = false;
        length = text.toLongLong(&ok);
        if (!ok || length < 0)
            return Parse::Malformed;
        if (length > kMaxBodyBytes)
            return Parse::BodyTooLarge;
    }
    const qsizetype total = headEnd + 4 + length;
    if (buffer.size() < total)
        return Parse::NeedMore;
    request.body = buffer.mid(headEnd + 4, length);
    consumed = total;
    out = std::move(request);
    return Parse::Complete;
}
