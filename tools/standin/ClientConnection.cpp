#include "standin/ClientConnection.h"

#include "standin/ControlChannel.h"
#include "standin/PlatformHosts.h"
#include "standin/ProxyServer.h"

#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <array>

namespace
{
const char *faultName(Outcome::Fault fault)
{
    switch (fault) {
    case Outcome::Fault::Drop:
        return "drop";
    case Outcome::Fault::Stall:
        return "stall";
    case Outcome::Fault::Truncate:
        return "truncate";
    case Outcome::Fault::None:
        break;
    }
    return nullptr;
}

// Query items whose values are secrets: an authorization code reaches the redirect URI's page in
// its query, and pages that follow name that URL in their Referer.
constexpr std::array<QLatin1StringView, 6> kSecretItems = {
    QLatin1StringView("code"),         QLatin1StringView("code_verifier"), QLatin1StringView("refresh_token"),
    QLatin1StringView("access_token"), QLatin1StringView("id_token"),      QLatin1StringView("client_secret")};

// `query` for the log, in its order, each secret value replaced.
QString loggedQuery(const QUrlQuery &query)
{
    QUrlQuery logged;
    for (const auto &[name, value] : query.queryItems(QUrl::FullyEncoded)) {
        const bool secret = std::find(kSecretItems.begin(), kSecretItems.end(), name) != kSecretItems.end();
        logged.addQueryItem(name, secret ? QStringLiteral("REDACTED") : value);
    }
    return logged.toString(QUrl::FullyEncoded);
}

// A URL-valued header for the log, its query's secrets replaced.
QByteArray loggedUrl(const QByteArray &text)
{
    QUrl url = QUrl::fromEncoded(text);
    if (!url.isValid() || !url.hasQuery())
        return text;
    url.setQuery(loggedQuery(QUrlQuery(url)), QUrl::StrictMode);
    return url.toEncoded();
}

// Request headers for the log, by lower-case name; repeated headers joined as HTTP allows.
Json headersOf(const HttpRequest &request)
{
    Json headers = Json::object();
    for (const auto &[name, raw] : request.headers) {
        const QByteArray value = name == "referer" ? loggedUrl(raw) : raw;
        auto &slot = headers[name.toStdString()];
        slot = slot.is_string() ? slot.get<std::string>() + ", " + value.toStdString() : value.toStdString();
    }
    return headers;
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

HttpResponse message(int status, const QByteArray &text)
{
    return HttpResponse::json(status, json::dump(Json{{"message", text.toStdString()}}));
}
} // namespace

ClientConnection::ClientConnection(QSslSocket *socket, ProxyServer *server)
    : QObject(server), m_socket(socket), m_server(server)
{
    m_socket->setParent(this);
    // The first request must arrive whole in time: a client that opens the port and trickles, or
    // stops, holds nothing for longer than that.
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(m_server->requestTimeout());
    connect(&m_deadline, &QTimer::timeout, this, &ClientConnection::timedOut);
    m_deadline.start();
    connect(m_socket, &QSslSocket::readyRead, this, &ClientConnection::readRequests);
    connect(m_socket, &QSslSocket::disconnected, this, &ClientConnection::finish);
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        m_state = State::Tunnel;
        m_busy = false;
        // An idle tunnel between requests is kept open, as a keep-alive connection is.
        m_deadline.stop();
        readRequests();
    });
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        m_server->log().append({{"kind", "tls_error"},
                                {"host", json::toStd(m_host)},
                                {"error", json::toStd(errors.value(0).errorString())}});
    });
    connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (m_state != State::Handshaking)
            return;
        if (error != QAbstractSocket::RemoteHostClosedError)
            m_server->log().append({{"kind", "tls_error"},
                                    {"host", json::toStd(m_host)},
                                    {"error", json::toStd(m_socket->errorString())}});
        // A failed handshake leaves nothing to talk about; closed once the socket's own signal is over.
        QTimer::singleShot(0, this, &ClientConnection::drop);
    });
}

ClientConnection::~ClientConnection() = default;

void ClientConnection::readRequests()
{
    if (m_busy || m_state == State::Handshaking || m_state == State::Closed)
        return;
    // Peeked, not read: a WebSocket upgrade leaves its bytes in the socket for the WebSocket server.
    const QByteArray pending = m_socket->peek(m_socket->bytesAvailable());
    HttpRequest request;
    qsizetype consumed = 0;
    const HttpRequest::Parse parsed = HttpRequest::parse(pending, request, consumed);
    if (parsed != HttpRequest::Parse::NeedMore)
        m_deadline.stop();
    switch (parsed) {
    case HttpRequest::Parse::NeedMore:
        // From the first byte of a request, the whole of it must arrive in time.
        if (!pending.isEmpty() && !m_deadline.isActive())
            m_deadline.start();
        // curl asks before sending larger bodies and otherwise waits a second for nothing.
        if (!m_continued && HttpRequest::expectsContinue(pending)) {
            m_continued = true;
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
        return;
    case HttpRequest::Parse::HeadTooLarge:
        return refuse(431, "The request head is too large.");
    case HttpRequest::Parse::BodyTooLarge:
        return refuse(413, "The request body is too large.");
    case HttpRequest::Parse::Malformed:
        return refuse(400, "The request is malformed.");
    case HttpRequest::Parse::Unsupported:
        return refuse(411, "Send the body with a Content-Length.");
    case HttpRequest::Parse::Complete:
        break;
    }

    if (m_state == State::Tunnel && request.isWebSocketUpgrade()) {
        if (const auto *route = m_server->registry().webSocketRoute(m_host, request.path)) {
            m_state = State::Closed;
            m_socket->disconnect(this);
            QSslSocket *socket = m_socket;
            m_socket = nullptr;
            m_server->upgradeToWebSocket(*route, socket);
            deleteLater();
            return;
        }
    }
    m_socket->skip(consumed);
    m_busy = true;
    m_continued = false;
    if (m_state == State::Plain)
        servePlain(request);
    else
        serveTunnel(request);
}

void ClientConnection::servePlain(const HttpRequest &request)
{
    if (request.method == "CONNECT")
        return openTunnel(request);
    // The control channel is this port itself: in origin form, or in absolute form naming the
    // loopback host (a client that sends everything through its proxy setting).
    const bool toThisPort = request.target.startsWith('/') || request.targetHost == QLatin1StringView("127.0.0.1") ||
                            request.targetHost == QLatin1StringView("localhost");
    if (toThisPort && request.path.startsWith(QLatin1StringView("/_standin/"))) {
        reply(controlchannel::handle(*m_server, request), request.wantsClose());
        return;
    }
    m_server->log().append({{"kind", "refused"},
                            {"method", request.method.toStdString()},
                            {"target", loggedUrl(request.target).toStdString()}});
    refuse(403, "The stand-in only tunnels to platform hosts.");
}

void ClientConnection::openTunnel(const HttpRequest &request)
{
    // Authority form, "host:port"; an IPv6 literal never names a platform host. The host is judged
    // on the bytes as sent and lower-cased only once it is known to be plain ASCII.
    const qsizetype colon = request.target.lastIndexOf(':');
    const QString sent = QString::fromUtf8(colon > 0 ? request.target.left(colon) : request.target);
    const QString host = platformhosts::isDnsName(sent) ? sent.toLower() : sent;
    const QByteArray portText = colon > 0 ? request.target.mid(colon + 1) : QByteArray();
    bool portOk = !portText.isEmpty() && std::all_of(portText.begin(), portText.end(), isAsciiDigit);
    const uint port = portOk ? portText.toUInt(&portOk) : 0;
    const bool accepted = portOk && port <= 65535 &&
                          platformhosts::acceptsConnect(sent, quint16(port), m_server->scenario().extraHosts());
    m_server->log().append({{"kind", "connect"},
                            {"host", json::toStd(host)},
                            {"port", portOk ? Json(port) : Json(nullptr)},
                            {"accepted", accepted}});
    if (!accepted)
        return refuse(403, "The stand-in does not play this host.");

    const Json view{{"host", json::toStd(host)}, {"port", port}};
    Scenario &scenario = m_server->context().scenario;
    auto step = scenario.take("connect", json::toStd(host), view);
    if (!step)
        step = scenario.take("connect", "*", view);
    if (!step)
        return startTls(host);
    const std::string fault = step->value("fault", "");
    auto carryOut = [this, host, fault] {
        if (!fault.empty())
            m_server->log().append({{"kind", "connect_fault"}, {"host", json::toStd(host)}, {"fault", fault}});
        if (fault == "refuse")
            return refuse(502, "The stand-in could not reach this host.");
        if (fault == "drop")
            return drop();
        startTls(host);
    };
    const int delay = step->value("delayMs", 0);
    if (delay <= 0)
        return carryOut();
    QTimer::singleShot(delay, this, carryOut);
}

void ClientConnection::startTls(const QString &host)
{
    const TestAuthority::Leaf &leaf = m_server->authority().leafFor(host);
    if (leaf.chain.isEmpty())
        return refuse(502, "The stand-in could not make a certificate for this host.");
    m_host = host;
    m_state = State::Handshaking;
    m_deadline.start(); // the handshake, too, must end in time
    m_socket->write("HTTP/1.1 200 Connection Established\r\n\r\n");
    m_socket->setLocalCertificateChain(leaf.chain);
    m_socket->setPrivateKey(leaf.key);
    m_socket->startServerEncryption();
}

void ClientConnection::serveTunnel(const HttpRequest &request)
{
    const qint64 index = m_server->log().append({{"kind", "request"},
                                                 {"host", json::toStd(m_host)},
                                                 {"method", request.method.toStdString()},
                                                 {"path", json::toStd(request.path)},
                                                 {"query", json::toStd(loggedQuery(request.query))},
                                                 {"headers", headersOf(request)},
                                                 {"bytes", request.body.size()}});
    const bool close = request.wantsClose();
    const auto *route = m_server->registry().httpsRoute(m_host, request.path);
    Outcome outcome;
    if (!route)
        outcome.response = message(404, "No such resource.");
    else if (route->method != request.method)
        outcome.response = message(405, "Method not allowed.");
    else
        outcome = route->handle(HttpsExchange{m_host, request, m_server->context()});

    if (outcome.delayMs <= 0)
        return deliver(outcome, index, request.path, close);
    QTimer::singleShot(outcome.delayMs, this,
                       [this, outcome, index, path = request.path, close] { deliver(outcome, index, path, close); });
}

void ClientConnection::deliver(const Outcome &outcome, qint64 requestIndex, const QString &path, bool close)
{
    Json entry{
        {"kind", "response"},          {"request", requestIndex},           {"host", json::toStd(m_host)},
        {"path", json::toStd(path)},   {"status", outcome.response.status}, {"bytes", outcome.response.body.size()},
        {"scripted", outcome.scripted}};
    if (const char *fault = faultName(outcome.fault))
        entry["fault"] = fault;
    m_server->log().append(std::move(entry));

    switch (outcome.fault) {
    case Outcome::Fault::None:
        return reply(outcome.response, close);
    case Outcome::Fault::Stall:
        return; // stays busy until the client goes away
    case Outcome::Fault::Drop:
        return drop();
    case Outcome::Fault::Truncate: {
        const QByteArray &body = outcome.response.body;
        // An empty body still announces a byte, so that the answer is cut short all the same.
        m_socket->write(outcome.response.head(std::max<qsizetype>(body.size(), 1), true) + body.left(body.size() / 2));
        m_state = State::Closed;
        m_socket->disconnectFromHost();
        return;
    }
    }
}

void ClientConnection::reply(const HttpResponse &response, bool close)
{
    close = response.closes(close);
    m_socket->write(response.serialize(close));
    if (close) {
        m_state = State::Closed;
        m_socket->disconnectFromHost();
        return;
    }
    m_busy = false;
    // Bytes of a next request may already wait in the socket, with no readyRead to come for them.
    if (m_socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &ClientConnection::readRequests);
}

void ClientConnection::timedOut()
{
    const bool handshaking = m_state == State::Handshaking;
    if (m_state == State::Closed || (m_busy && !handshaking))
        return;
    m_server->log().append(
        {{"kind", "timeout"}, {"host", json::toStd(m_host)}, {"stage", handshaking ? "handshake" : "request"}});
    if (handshaking)
        return drop();
    refuse(408, "The request did not arrive in time.");
}

void ClientConnection::refuse(int status, const QByteArray &text)
{
    m_busy = true;
    reply(message(status, text), true);
}

void ClientConnection::drop()
{
    m_state = State::Closed;
    m_socket->abort();
    finish();
}

void ClientConnection::finish()
{
    m_state = State::Closed;
    deleteLater();
}
