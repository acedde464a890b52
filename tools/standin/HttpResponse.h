#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One HTTP/1.1 answer of the stand-in. Content-Length and Connection are added when it is written.
struct HttpResponse
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    static HttpResponse json(int status, const QByteArray &body);

    // Sets header `name`, replacing any header of that name in any letter case.
    void setHeader(const QByteArray &name, const QByteArray &value);

    // The head alone, announcing `contentLength` body bytes (a truncated answer announces more
    // than it sends).
    QByteArray head(qsizetype contentLength, bool close) const;
    QByteArray serialize(bool close) const { return head(body.size(), close) + body; }
};
