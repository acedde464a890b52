#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <string_view>

// The messages of the platform's realtime channel ("graphql-ws" over a WebSocket) and the values
// derived from the configuration, without any socket.
namespace realtime
{
// Largest incoming message; larger session frames arrive as "frame_chunk" frames.
inline constexpr qsizetype kMaxMessageBytes = 524288;

// The subscription's operation text, sent exactly as it stands.
extern const char *const kSubscriptionText;

// The GraphQL endpoint with the scheme "wss" and "/realtime" appended to its path.
std::optional<QUrl> realtimeUrl(const QUrl &endpoint);

// {"Authorization": token, "host": host}: the token without a "Bearer " prefix.
Json authorizationObject(const QString &token, const QString &host);
// "header-" and the authorization object's compact JSON in URL-safe Base64 without padding.
QString headerSubprotocol(const Json &authorization);

QByteArray connectionInitMessage();
QByteArray startMessage(const QString &subscriptionID, const QString &sessionID, const QString &tenantID,
                        const Json &authorization);

// One incoming message as a JSON object. Throws "Invalid realtime frame." for a message over the
// size limit or a top level that is no object, and the decoding sentence for bytes that are no JSON.
Json parseMessage(const QByteArray &bytes);

// The frame handed to the handler after a failure of the receive task.
Json transportErrorFrame(const QString &sessionID, const QString &tenantID, const QString &description);

// Wait before reconnection attempt `attempt` (1, 2, ...): 2^attempt seconds, at most 30 s.
std::chrono::milliseconds reconnectDelay(int attempt);

// How long an established connection may stay without any message (data or keep-alive) before it
// counts as dropped: the "connectionTimeoutMs" of a "connection_ack" message's payload, 300 s when
// it is absent or no positive whole number.
std::chrono::milliseconds connectionTimeout(const Json &connectionAck);
} // namespace realtime
