#include "standin/RealtimeConnection.h"

#include "standin/EventLog.h"
#include "standin/RealtimeService.h"
#include "standin/Scenario.h"
#include "standin/ServiceContext.h"

#include <QAbstractSocket>
#include <QNetworkRequest>

#include <algorithm>
#include <random>

namespace
{
// The subscription the hub must send, character for character.
constexpr const char *kSubscriptionText =
    "subscription NativeFrames($sessionId: ID!, $tenantId: String!) { onSessionFrame(sessionId: $sessionId, "
    "tenantId: $tenantId) { v ts turnId seq sessionId tenantId agent kind payload } }";

// The token of the "header-" sub-protocol the client offered, or an empty text.
std::string headerToken(const QWebSocket &socket)
{
    const QList<QByteArray> offered = socket.request().rawHeader("Sec-WebSocket-Protocol").split(',');
    for (QByteArray protocol : offered) {
        protocol = protocol.trimmed();
        if (!protocol.startsWith("header-"))
            continue;
        const auto decoded = json::tryParse(QByteArray::fromBase64(protocol.mid(7), QByteArray::Base64UrlEncoding));
        if (decoded && decoded->is_object())
            return json::string(*decoded, "Authorization").value_or(QString()).toStdString();
    }
    return {};
}

QByteArray padded(QByteArray message, qint64 size)
{
    if (message.size() < size && message.endsWith('}'))
        message.insert(message.size() - 1, QByteArray(size - message.size(), ' '));
    return message;
}
} // namespace

RealtimeConnection::RealtimeConnection(QWebSocket *socket, ServiceContext &context)
    : QObject(socket), m_socket(socket), m_context(context)
{
    const std::string token = headerToken(*socket);
    const Json view{{"token", token}, {"host", json::toStd(socket->requestUrl().host())}};
    if (auto step = m_context.scenario.take("realtime", "*", view))
        m_step = std::move(*step);
    log({{"event", "open"}, {"headerToken", token}});

    m_keepAlive.setInterval(int(m_step.value("keepAliveMs", qint64(1000))));
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { sendMessage(R"({"type":"ka"})", false); });
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &RealtimeConnection::sendNext);
    connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) { received(text.toUtf8()); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, &RealtimeConnection::received);
    connect(socket, &QWebSocket::disconnected, this, [this] {
        log({{"event", "closed"}, {"code", int(m_socket->closeCode())}});
        m_keepAlive.stop();
        m_pace.stop();
        m_socket->deleteLater();
    });
}

void RealtimeConnection::log(Json entry)
{
    entry["kind"] = "realtime";
    m_context.log.append(std::move(entry));
}

void RealtimeConnection::received(const QByteArray &bytes)
{
    const auto message = json::tryParse(bytes);
    const std::string type = message ? json::string(*message, "type").value_or(QString()).toStdString() : "";
    const std::string handshake = m_step.value("handshake", "accept");
    if (type == "connection_init") {
        log({{"event", "connection_init"}});
        if (handshake == "connection_error") {
            sendMessage(R"({"type":"connection_error","payload":{"errors":[{"errorType":"UnauthorizedException"}]}})",
                        false);
        } else if (handshake != "silent") {
            sendMessage(R"({"type":"connection_ack","payload":{"connectionTimeoutMs":300000}})", false);
            if (m_step.contains("keepAliveMs")) {
                sendMessage(R"({"type":"ka"})", false);
                m_keepAlive.start();
            }
        }
    } else if (type == "start") {
        subscribe(*message);
    } else if (type == "stop") {
        log({{"event", "stop"}});
    } else {
        log({{"event", "unknown"}, {"bytes", bytes.size()}});
    }
}

void RealtimeConnection::refuse(const char *type, const QString &why)
{
    log({{"event", "refused"}, {"why", json::toStd(why)}});
    Json message{{"type", type},
                 {"payload", {{"errors", {{{"errorType", "BadRequest"}, {"message", json::toStd(why)}}}}}}};
    if (!m_subscriptionID.empty())
        message["id"] = m_subscriptionID;
    sendMessage(json::dump(message), false);
}

void RealtimeConnection::subscribe(const Json &start)
{
    m_subscriptionID = json::string(start, "id").value_or(QString()).toStdString();
    const Json payload = start.value("payload", Json::object());
    const auto dataText = json::string(payload, "data");
    const auto data = dataText ? json::tryParse(dataText->toUtf8()) : std::nullopt;
    const Json authorization = payload.is_object() && payload.contains("extensions")
                                   ? payload["extensions"].value("authorization", Json())
                                   : Json();
    if (m_subscriptionID.empty() || !data || !data->is_object())
        return refuse("error", QStringLiteral("The start message has no id or no data text."));
    if (json::string(*data, "query") != QString::fromLatin1(kSubscriptionText))
        return refuse("error", QStringLiteral("Unknown subscription text."));
    const Json variables = data->value("variables", Json());
    const auto session = json::string(variables, "sessionId");
    const auto tenant = json::string(variables, "tenantId");
    const auto token = json::string(authorization, "Authorization");
    if (!session || !tenant || !token || !json::string(authorization, "host"))
        return refuse("error", QStringLiteral("The start message lacks its variables or authorization."));
    m_sessionID = session->toStdString();
    m_tenantID = tenant->toStdString();
    log({{"event", "start"},
         {"id", m_subscriptionID},
         {"sessionId", m_sessionID},
         {"tenantId", m_tenantID},
         {"token", token->toStdString()}});

    if (m_step.value("handshake", "accept") == "refuse")
        return refuse("error", QStringLiteral("Subscription refused by the scenario."));
    if (m_step.value("handshake", "accept") == "silent")
        return;
    if (m_subscribed)
        return sendMessage(json::dump(Json{{"type", "start_ack"}, {"id", m_subscriptionID}}), false);
    for (const auto &action : m_step.value("beforeAck", Json::array()))
        for (const auto &[bytes, binary] : messagesOf(action))
            sendMessage(bytes, binary);
    sendMessage(json::dump(Json{{"type", "start_ack"}, {"id", m_subscriptionID}}), false);
    m_subscribed = true;
    for (const auto &action : m_step.value("send", Json::array()))
        m_actions.push_back(action);
    sendNext();
}

void RealtimeConnection::sendNext()
{
    while (!m_actions.empty()) {
        Json action = std::move(m_actions.front());
        m_actions.pop_front();
        if (const qint64 delay = action.value("delayMs", qint64(0)); delay > 0) {
            action.erase("delayMs");
            m_actions.push_front(std::move(action));
            m_pace.start(int(delay));
            return;
        }
        if (action.contains("drop")) {
            log({{"event", "drop"}});
            m_actions.clear();
            dropWhenFlushed();
            return;
        }
        if (action.contains("close")) {
            log({{"event", "close"}});
            m_actions.clear();
            m_socket->close(QWebSocketProtocol::CloseCode(action["close"].get<int>()));
            return;
        }
        for (const auto &[bytes, binary] : messagesOf(action))
            sendMessage(bytes, binary);
    }
    log({{"event", "sent"}});
}

std::vector<std::pair<QByteArray, bool>> RealtimeConnection::messagesOf(const Json &action) const
{
    std::vector<QByteArray> messages;
    if (action.contains("text")) {
        messages.push_back(QByteArray::fromStdString(action["text"].get<std::string>()));
    } else if (action.contains("message")) {
        messages.push_back(json::dump(action["message"]));
    } else if (action.contains("frame")) {
        Json frame = action["frame"];
        if (!frame.contains("sessionId"))
            frame["sessionId"] = m_sessionID;
        if (!frame.contains("tenantId"))
            frame["tenantId"] = m_tenantID;
        if (action.value("textPayload", false) && frame.contains("payload")) {
            const QByteArray text = json::dump(frame["payload"]);
            frame["payload"] = text.toStdString();
        }
        std::vector<Json> frames;
        if (action.contains("chunked")) {
            const Json &options = action["chunked"];
            frames = realtimeservice::chunkFrames(frame, json::dump(frame), options["id"].get<std::string>(),
                                                  options.value("sliceBytes", qint64(12000)));
            if (options.value("duplicate", false)) {
                const std::size_t count = frames.size();
                for (std::size_t i = 0; i < count; ++i)
                    frames.push_back(frames[i]);
            }
            const std::string order = options.value("order", "inOrder");
            if (order == "reverse") {
                std::reverse(frames.begin(), frames.end());
            } else if (order == "shuffle") {
                std::mt19937 random(std::uint32_t(options.value("seed", qint64(1))));
                std::shuffle(frames.begin(), frames.end(), random);
            }
        } else {
            frames.push_back(std::move(frame));
        }
        for (auto &one : frames)
            messages.push_back(json::dump(Json{{"type", "data"},
                                               {"id", m_subscriptionID},
                                               {"payload", {{"data", {{"onSessionFrame", std::move(one)}}}}}}));
    }
    const qint64 repeat = action.value("repeat", qint64(1));
    const bool binary = action.value("binary", false);
    std::vector<std::pair<QByteArray, bool>> result;
    for (qint64 r = 0; r < repeat; ++r)
        for (const auto &message : messages)
            result.emplace_back(action.contains("padTo") ? padded(message, action["padTo"].get<qint64>()) : message,
                                binary);
    return result;
}

void RealtimeConnection::dropWhenFlushed()
{
    // Aborting would discard what is still buffered (the TLS layer keeps its own buffer): end the
    // TCP connection once everything sent is out, but without a WebSocket close frame.
    if (auto *transport = m_socket->findChild<QAbstractSocket *>()) {
        transport->disconnectFromHost();
        return;
    }
    m_socket->flush();
    QTimer::singleShot(100, m_socket, &QWebSocket::abort);
}

void RealtimeConnection::sendMessage(const QByteArray &bytes, bool binary)
{
    if (binary)
        m_socket->sendBinaryMessage(bytes);
    else
        m_socket->sendTextMessage(QString::fromUtf8(bytes));
}
