#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QString>

#include <vector>

class ServiceRegistry;

// The platform's realtime WebSocket ("graphql-ws"): the handshake, keep-alives and the session
// frames a scenario's "realtime" section scripts for each subscription (README.md).
namespace realtimeservice
{
void registerService(ServiceRegistry &registry);

// Why a "realtime" step is invalid, or an empty text.
QString validate(const Json &step);

// The "frame_chunk" frames that carry `bytes` (as a rule the compact JSON text of `announced`) in
// Base64 slices of `sliceBytes`, with the identity of `announced`.
std::vector<Json> chunkFrames(const Json &announced, const QByteArray &bytes, const std::string &id,
                              qsizetype sliceBytes = 12000);
} // namespace realtimeservice
