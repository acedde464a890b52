#pragma once

#include "core/Json.h"
#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

// The agents' way to the user's local preview control server: three reserved read paths become
// actions posted to the server that its control file names.
namespace previewbridge
{
// A checked action, ready to be posted.
struct Request
{
    QUrl endpoint;
    QByteArray token;
    QByteArray body;
    // The whole request, from sending to the answer's last byte.
    std::chrono::milliseconds deadline{25000};
};

// What the actor decides: an answer that ends the call here (`status` "error"), or a request.
struct Prepared
{
    QString status;
    QString result;
    std::optional<Request> request;
};

// Where the control file is: $XDG_DATA_HOME (as it is, when set) or ~/.local/share, then
// "tavrilo-code/preview/control.json".
QString controlFilePath();

// Reads the control file (the user's own regular file, not through a link, naming an http(s)
// server on this computer's loopback) and applies the action policy. Blocking; on the actor.
Prepared prepare(const QString &projectRoot, const QString &wirePath, const Json &input, const QString &agent);

// Posts the request (within its deadline, no proxy, no redirect followed) with a network manager of
// its own, gone once the answer is read, and turns the server's answer into
// (status, text): "success" below HTTP 400, the body's first 64,000 bytes cut at a character
// boundary, "{}" when they are no UTF-8 text. Throws the network's error.
QCoro::Task<std::pair<QString, QString>> send(Request request, CancelToken token);
} // namespace previewbridge
