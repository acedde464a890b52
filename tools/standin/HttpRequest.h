#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

// One HTTP/1.1 request as the stand-in received it, in plain text or behind TLS.
struct HttpRequest
{
    // Largest request head and body the stand-in reads; larger requests are answered 431 or 413.
    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;
    static constexpr qsizetype kMaxBodyBytes = 16 * 1024 * 1024;

    enum class Parse { NeedMore, Complete, HeadTooLarge, BodyTooLarge, Malformed, Unsupported };

    QByteArray method;
    QByteArray target;  // as sent: origin-form path, authority-form for CONNECT, absolute-form for proxies
    QString path;       // decoded path of an origin-form or absolute-form target
    QString targetHost; // host of an absolute-form target, lower case
    QUrlQuery query;
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased, in arrival order
    QByteArray body;

    // The value of the first header named `name` (lower case), or an empty array.
    QByteArray header(QByteArrayView name) const;
    bool wantsClose() const;
    bool isWebSocketUpgrade() const;
    // Whether `buffer` holds a complete head that asks for "100 Continue" before its body is sent.
    static bool expectsContinue(const QByteArray &buffer);

    // Reads one request from the front of `buffer`. On Complete, `consumed` is the number of bytes the
    // request took (head and body). Chunked bodies are Unsupported: clients send a length for the
    // in-memory bodies the hub posts.
    static Parse parse(const QByteArray &buffer, HttpRequest &out, qsizetype &consumed);
};
