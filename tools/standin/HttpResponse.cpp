#include "standin/HttpResponse.h"

namespace
{
QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}
} // namespace

HttpResponse HttpResponse::json(int status, const QByteArray &body)
{
    HttpResponse response;
    response.status = status;
    response.setHeader("Content-Type", "application/json");
    response.body = body;
    return response;
}

void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value)
{
    headers.removeIf([&](const auto &header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
    headers.append(qMakePair(name, value));
}

QByteArray HttpResponse::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool HttpResponse::closes(bool requested) const
{
    return requested || header("Connection").toLower().contains("close");
}

QByteArray HttpResponse::head(qsizetype contentLength, bool close) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    bool ownConnection = false;
    for (const auto &[name, value] : headers) {
        // A line break in a header would start a header, or an answer, of its own: never written.
        if (name.contains('\r') || name.contains('\n') || value.contains('\r') || value.contains('\n'))
            continue;
        out += name + ": " + value + "\r\n";
        ownConnection = ownConnection || name.compare("Connection", Qt::CaseInsensitive) == 0;
    }
    out += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    if (!ownConnection)
        out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    return out;
}
