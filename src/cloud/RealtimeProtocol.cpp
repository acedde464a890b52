#include "cloud/RealtimeProtocol.h"

#include "core/HubError.h"

#include <cmath>

namespace realtime
{
const char *const kSubscriptionText =
    "subscription NativeFrames($sessionId: ID!, $tenantId: String!) { onSessionFrame(sessionId: $sessionId, "
    "tenantId: $tenantId) { v ts turnId seq sessionId tenantId agent kind payload } }";

std::optional<QUrl> realtimeUrl(const QUrl &endpoint)
{
    if (!endpoint.isValid())
        return std::nullopt;
    QUrl url = endpoint;
    url.setScheme(QStringLiteral("wss"));
    url.setPath(endpoint.path() + QStringLiteral("/realtime"));
    if (!url.isValid())
        return std::nullopt;
    return url;
}

Json authorizationObject(const QString &token, const QString &host)
{
    return Json{{"Authorization", json::toStd(token)}, {"host", json::toStd(host)}};
}

QString headerSubprotocol(const Json &authorization)
{
    const QByteArray encoded =
        json::dump(authorization).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("header-") + QString::fromLatin1(encoded);
}

QByteArray connectionInitMessage()
{
    return QByteArrayLiteral("{\"type\":\"connection_init\"}");
}

QByteArray startMessage(const QString &subscriptionID, const QString &sessionID, const QString &tenantID,
                        const Json &authorization)
{
    const Json data{{"query", kSubscriptionText},
                    {"variables", {{"sessionId", json::toStd(sessionID)}, {"tenantId", json::toStd(tenantID)}}}};
    const QByteArray dataText = json::dump(data);
    const Json message{{"id", json::toStd(subscriptionID)},
                       {"type", "start"},
                       {"payload",
                        {{"data", std::string(dataText.constData(), std::size_t(dataText.size()))},
                         {"extensions", {{"authorization", authorization}}}}}};
    return json::dump(message);
}

Json parseMessage(const QByteArray &bytes)
{
    if (bytes.size() > kMaxMessageBytes)
        throw HubError(QStringLiteral("Invalid realtime frame."));
    auto value = json::tryParse(bytes);
    if (!value || !(value->is_object() || value->is_array()))
        throw HubError(json::decodingErrorSentence());
    if (!value->is_object())
        throw HubError(QStringLiteral("Invalid realtime frame."));
    return std::move(*value);
}

Json transportErrorFrame(const QString &sessionID, const QString &tenantID, const QString &description)
{
    return Json{{"sessionId", json::toStd(sessionID)},
                {"tenantId", json::toStd(tenantID)},
                {"kind", "transport_error"},
                {"payload", {{"message", json::toStd(QStringLiteral("Reconnecting: ") + description)}}}};
}

std::chrono::milliseconds connectionTimeout(const Json &connectionAck)
{
    constexpr std::chrono::milliseconds kAbsent = std::chrono::minutes(5);
    const auto payload = connectionAck.find("payload");
    if (payload == connectionAck.end())
        return kAbsent;
    const auto value = json::wholeNumber(*payload, "connectionTimeoutMs");
    if (!value || *value <= 0)
        return kAbsent;
    return std::chrono::milliseconds(*value);
}

std::chrono::milliseconds reconnectDelay(int attempt)
{
    if (attempt >= 5)
        return std::chrono::seconds(30);
    return std::chrono::seconds(qint64(1) << std::max(attempt, 1));
}
} // namespace realtime
