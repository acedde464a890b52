#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One HTTP/1.1 answer of the stand-in. Content-Length is added when it is written, and Connection
// unless the answer carries its own.
struct HttpResponse
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    static HttpResponse json(int status, const QByteArray &body);

    // Sets header `name`, replacing any header of that name in any letter case.
    void setHeader(const QByteArray &name, const QByteArray &value);
    // The value of header `name` in any letter case, or an empty array.
    QByteArray header(QByteArrayView name) const;
    // Whether the connection ends after this answer: when the request asked for it, or when the
    // answer's own Connection header says "close".
    bool closes(bool requested) const;

    // The head alone, announcing `contentLength` body bytes (a truncated answer announces more
    // than it sends).
    QByteArray head(qsizetype contentLength, bool close) const;
    QByteArray serialize(bool close) const { return head(body.size(), close) + body; }
};
