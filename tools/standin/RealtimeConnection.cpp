#include "standin/RealtimeConnection.h"

#include "standin/EventLog.h"
#include "standin/LiveSessions.h"
#include "standin/RealtimeService.h"
#include "standin/Scenario.h"
#include "standin/ServiceContext.h"
#include "standin/SocketDrop.h"

#include <QAbstractSocket>
#include <QNetworkRequest>
#include <QUrlQuery>

#include <algorithm>
#include <random>

namespace
{
// The subscription the hub must send, character for character.
constexpr const char *kSubscriptionText =
    "subscription NativeFrames($sessionId: ID!, $tenantId: String!) { onSessionFrame(sessionId: $sessionId, "
    "tenantId: $tenantId) { v ts turnId seq sessionId tenantId agent kind payload } }";

// The JSON object a Base64 text carries, in the standard or the URL-safe alphabet, padded or not.
std::optional<Json> decodedObject(QByteArray text)
{
    text.replace('-', '+').replace('_', '/');
    const auto bytes = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    auto object = bytes ? json::tryParse(*bytes) : std::nullopt;
    return object && object->is_object() ? object : std::nullopt;
}

std::string authorizationOf(const std::optional<Json> &header)
{
    return header ? json::string(*header, "Authorization").value_or(QString()).toStdString() : std::string();
}

// The authorization a client gives on opening, in either of the public protocol's two ways: the
// "header-" sub-protocol, or the "header" and "payload" query parameters (Base64 JSON objects).
struct Credentials
{
    std::string headerToken; // of the sub-protocol
    std::string queryToken;  // of the query's "header"
    bool present = false;
};

Credentials credentialsOf(const QWebSocket &socket)
{
    Credentials credentials;
    const QList<QByteArray> offered = socket.request().rawHeader("Sec-WebSocket-Protocol").split(',');
    for (QByteArray protocol : offered) {
        protocol = protocol.trimmed();
        if (protocol.startsWith("header-")) {
            credentials.headerToken = authorizationOf(decodedObject(protocol.mid(7)));
            break;
        }
    }
    const QUrlQuery query(socket.requestUrl());
    credentials.queryToken =
        authorizationOf(decodedObject(query.queryItemValue(QStringLiteral("header"), QUrl::FullyDecoded).toLatin1()));
    const bool payload =
        decodedObject(query.queryItemValue(QStringLiteral("payload"), QUrl::FullyDecoded).toLatin1()).has_value();
    credentials.present = !credentials.headerToken.empty() || (!credentials.queryToken.empty() && payload);
    return credentials;
}

Json errorPayload(const char *errorType, const QString &message, std::optional<int> errorCode = std::nullopt)
{
    Json error{{"errorType", errorType}, {"message", json::toStd(message)}};
    if (errorCode)
        error["errorCode"] = *errorCode;
    return Json{{"errors", Json::array({error})}};
}

QByteArray padded(QByteArray message, qint64 size)
{
    if (message.size() < size && message.endsWith('}'))
        message.insert(message.size() - 1, QByteArray(size - message.size(), ' '));
    return message;
}
} // namespace

RealtimeConnection::RealtimeConnection(QWebSocket *socket, ServiceContext &context,
                                       std::shared_ptr<const LiveSessions> sessions)
    : QObject(socket), m_socket(socket), m_context(context), m_sessions(std::move(sessions))
{
    socket->setMaxAllowedIncomingMessageSize(quint64(realtimeservice::kMaxClientMessageBytes));
    const Credentials credentials = credentialsOf(*socket);
    m_authorized = credentials.present;
    const std::string token = credentials.headerToken.empty() ? credentials.queryToken : credentials.headerToken;
    const Json view{{"token", token}, {"host", json::toStd(socket->requestUrl().host())}};
    if (auto step = m_context.scenario.take("realtime", "*", view))
        m_step = std::move(*step);
    log({{"event", "open"},
         {"headerToken", credentials.headerToken},
         {"queryToken", credentials.queryToken},
         {"authorized", m_authorized}});

    connect(&m_keepAlive, &QTimer::timeout, this, [this] { sendMessage(R"({"type":"ka"})", false); });
    connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) { received(text.toUtf8()); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, &RealtimeConnection::received);
    connect(socket, &QWebSocket::disconnected, this, [this] {
        log({{"event", "closed"}, {"code", int(m_socket->closeCode())}});
        end();
        m_socket->deleteLater();
    });
}

RealtimeConnection::~RealtimeConnection() = default;

void RealtimeConnection::log(Json entry)
{
    entry["kind"] = "realtime";
    m_context.log.append(std::move(entry));
}

void RealtimeConnection::received(const QByteArray &bytes)
{
    if (m_ended)
        return;
    const auto message = json::tryParse(bytes);
    const std::string type = message ? json::string(*message, "type").value_or(QString()).toStdString() : "";
    if (type == "connection_init")
        log({{"event", "connection_init"}});
    // The public service refuses a connection without authorization whatever it is sent first.
    if (!m_authorized)
        return refuseConnection("You are not authorized to make this call.");
    const std::string handshake = m_step.value("handshake", "accept");
    if (type == "connection_init") {
        if (handshake == "connection_error")
            refuseConnection("Connection refused by the scenario.");
        else if (handshake != "silent")
            acknowledge();
    } else if (type == "start") {
        subscribe(*message);
    } else if (type == "stop") {
        unsubscribe(*message);
    } else {
        log({{"event", "unknown"}, {"bytes", bytes.size()}});
    }
}

void RealtimeConnection::acknowledge()
{
    sendMessage(json::dump(Json{{"type", "connection_ack"},
                                {"payload", {{"connectionTimeoutMs", realtimeservice::connectionTimeoutMs(m_step)}}}}),
                false);
    const qint64 period = realtimeservice::keepAliveMs(m_step);
    if (period <= 0 || m_keepAlive.isActive())
        return;
    sendMessage(R"({"type":"ka"})", false);
    m_keepAlive.start(int(period));
}

void RealtimeConnection::refuseConnection(const char *message)
{
    log({{"event", "refused"}, {"why", message}});
    sendMessage(json::dump(Json{{"type", "connection_error"},
                                {"payload", errorPayload("UnauthorizedException", QString::fromUtf8(message), 401)}}),
                false);
    end();
    m_socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void RealtimeConnection::refuse(const std::string &id, const char *errorType, const QString &why)
{
    log({{"event", "refused"}, {"id", id}, {"why", json::toStd(why)}});
    Json message{{"type", "error"}, {"payload", errorPayload(errorType, why)}};
    if (!id.empty())
        message["id"] = id;
    sendMessage(json::dump(message), false);
}

void RealtimeConnection::subscribe(const Json &start)
{
    const std::string id = json::string(start, "id").value_or(QString()).toStdString();
    const Json payload = start.value("payload", Json::object());
    const auto dataText = json::string(payload, "data");
    const auto data = dataText ? json::tryParse(dataText->toUtf8()) : std::nullopt;
    const Json authorization =
        payload.is_object() && payload.contains("extensions") && payload["extensions"].is_object()
            ? payload["extensions"].value("authorization", Json())
            : Json();
    if (id.empty() || !data || !data->is_object())
        return refuse(id, "BadRequest", QStringLiteral("The start message has no id or no data text."));
    if (json::string(*data, "query") != QString::fromLatin1(kSubscriptionText))
        return refuse(id, "BadRequest", QStringLiteral("Unknown subscription text."));
    const Json variables = data->value("variables", Json());
    const auto session = json::string(variables, "sessionId");
    const auto tenant = json::string(variables, "tenantId");
    const auto token = json::string(authorization, "Authorization");
    if (!session || !tenant || !token || !json::string(authorization, "host"))
        return refuse(id, "BadRequest", QStringLiteral("The start message lacks its variables or authorization."));
    log({{"event", "start"},
         {"id", id},
         {"sessionId", json::toStd(*session)},
         {"tenantId", json::toStd(*tenant)},
         {"token", json::toStd(*token)}});

    const std::string handshake = m_step.value("handshake", "accept");
    if (handshake == "refuse")
        return refuse(id, "BadRequest", QStringLiteral("Subscription refused by the scenario."));
    if (handshake == "silent")
        return;
    if (m_subscriptions.count(id))
        return sendMessage(json::dump(Json{{"type", "start_ack"}, {"id", id}}), false);
    if (m_subscriptions.size() >= std::size_t(realtimeservice::kMaxSubscriptions))
        return refuse(id, "MaxSubscriptionsReachedError",
                      QStringLiteral("Max number of %1 subscriptions reached").arg(realtimeservice::kMaxSubscriptions));

    auto subscription = std::make_unique<Subscription>();
    subscription->id = id;
    subscription->sessionID = session->toStdString();
    subscription->tenantID = tenant->toStdString();
    const double planned = realtimeservice::costOf(m_step, qsizetype(id.size() + subscription->sessionID.size() +
                                                                     subscription->tenantID.size()))
                               .bytes;
    if (m_plannedBytes + planned > double(realtimeservice::kConnectionBytes))
        return refuse(id, "LimitExceededError",
                      QStringLiteral("The scripted output of this connection would pass its bound."));
    m_plannedBytes += planned;
    Subscription &added = *m_subscriptions.emplace(id, std::move(subscription)).first->second;
    added.pace.setSingleShot(true);
    connect(&added.pace, &QTimer::timeout, this, [this, &added] { sendNext(added); });

    // The acknowledgement is played as an action of its own, so that delays before it hold it back.
    for (const auto &action : m_step.value("beforeAck", Json::array()))
        added.actions.push_back(action);
    added.actions.push_back(Json{{"message", {{"type", "start_ack"}, {"id", id}}}});
    for (const auto &action : m_step.value("send", Json::array()))
        added.actions.push_back(action);
    sendNext(added);
}

void RealtimeConnection::unsubscribe(const Json &stop)
{
    const auto id = json::string(stop, "id");
    if (!id)
        return refuse({}, "BadRequest", QStringLiteral("The stop message has no id."));
    // Its pending actions and its pace go with it: nothing more is delivered under this id.
    const bool known = m_subscriptions.erase(id->toStdString()) > 0;
    log({{"event", "stop"}, {"id", json::toStd(*id)}, {"known", known}});
    sendMessage(json::dump(Json{{"type", "complete"}, {"id", json::toStd(*id)}}), false);
}

void RealtimeConnection::end()
{
    m_ended = true;
    m_keepAlive.stop();
    for (auto &[id, subscription] : m_subscriptions) {
        subscription->actions.clear();
        subscription->pace.stop();
    }
}

void RealtimeConnection::sendNext(Subscription &subscription)
{
    while (!subscription.actions.empty() && !m_ended) {
        Json action = std::move(subscription.actions.front());
        subscription.actions.pop_front();
        if (const qint64 delay = action.value("delayMs", qint64(0)); delay > 0) {
            action.erase("delayMs");
            subscription.actions.push_front(std::move(action));
            subscription.pace.start(int(delay));
            return;
        }
        if (action.contains("drop")) {
            log({{"event", "drop"}});
            end();
            dropWhenFlushed(m_socket);
            return;
        }
        if (action.contains("close")) {
            log({{"event", "close"}});
            end();
            m_socket->close(QWebSocketProtocol::CloseCode(action["close"].get<int>()));
            return;
        }
        for (const auto &[bytes, binary] : messagesOf(action, subscription))
            sendMessage(bytes, binary);
    }
    if (!m_ended)
        log({{"event", "sent"}, {"id", subscription.id}});
}

std::vector<std::pair<QByteArray, bool>> RealtimeConnection::messagesOf(const Json &action,
                                                                        const Subscription &subscription) const
{
    std::vector<QByteArray> messages;
    if (action.contains("text")) {
        messages.push_back(QByteArray::fromStdString(action["text"].get<std::string>()));
    } else if (action.contains("message")) {
        messages.push_back(json::dump(action["message"]));
    } else if (action.contains("frame")) {
        Json frame = action["frame"];
        if (!frame.contains("sessionId"))
            frame["sessionId"] = subscription.sessionID;
        if (!frame.contains("tenantId"))
            frame["tenantId"] = subscription.tenantID;
        // A project call names the executor of its session's start, known only once it started.
        if (Json *payload = frame.contains("payload") ? &frame["payload"] : nullptr;
            payload && payload->is_object() && payload->value("handsId", Json()) == "$handsId") {
            const LiveSessions::Session *session = m_sessions ? m_sessions->find(subscription.sessionID) : nullptr;
            (*payload)["handsId"] = session ? session->handsID : std::string();
        }
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
                                               {"id", subscription.id},
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

void RealtimeConnection::sendMessage(const QByteArray &bytes, bool binary)
{
    if (binary)
        m_socket->sendBinaryMessage(bytes);
    else
        m_socket->sendTextMessage(QString::fromUtf8(bytes));
}
