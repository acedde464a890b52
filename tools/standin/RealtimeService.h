#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class LiveSessions;
class ServiceRegistry;

// The platform's realtime WebSocket ("graphql-ws"): the handshake, keep-alives and the session
// frames a scenario's "realtime" section scripts for each subscription (README.md).
namespace realtimeservice
{
// Bounds of a "realtime" step: a step past one is refused with the scenario. The budgets bound
// what one step may put on the wire for one subscription; a connection carries at most
// kConnectionBytes of scripted output over all its subscriptions.
inline constexpr qint64 kMaxRepeat = 10'000;
inline constexpr qint64 kMaxPadTo = 16LL * 1024 * 1024;
inline constexpr qint64 kMaxSliceBytes = 16LL * 1024 * 1024;
inline constexpr qint64 kMaxPeriodMs = 3'600'000;
inline constexpr qint64 kMinKeepAliveMs = 10;
inline constexpr qint64 kStepBytes = 64LL * 1024 * 1024;
inline constexpr qint64 kStepMessages = 100'000;
inline constexpr qint64 kConnectionBytes = 256LL * 1024 * 1024;
inline constexpr int kMaxSubscriptions = 100;
// The largest message a client may send (its start messages are a few hundred bytes).
inline constexpr qint64 kMaxClientMessageBytes = 64 * 1024;
// As the public service announces in its "connection_ack".
inline constexpr qint64 kDefaultConnectionTimeoutMs = 300'000;

// `sessions` are the live sessions the turn service started: a frame's "$handsId" names the
// executor of its session's start.
void registerService(ServiceRegistry &registry, std::shared_ptr<const LiveSessions> sessions);

// Why a "realtime" step is invalid, or an empty text.
QString validate(const Json &step);

// The "connectionTimeoutMs" a step's "connection_ack" announces.
qint64 connectionTimeoutMs(const Json &step);
// The period of a step's "ka" messages; 0 for none. Unless the step sets it, a fifth of the
// announced timeout and at most a minute, as the public service does (a "ka" a minute, 300 s).
qint64 keepAliveMs(const Json &step);

// At most what a step's "beforeAck" and "send" actions put on the wire for one subscription whose
// id, session id and tenant id take `fillBytes` together.
struct Cost
{
    double messages = 0;
    double bytes = 0;
};
Cost costOf(const Json &step, qsizetype fillBytes);

// The "frame_chunk" frames that carry `bytes` (as a rule the compact JSON text of `announced`) in
// Base64 slices of `sliceBytes`, with the identity of `announced`.
std::vector<Json> chunkFrames(const Json &announced, const QByteArray &bytes, const std::string &id,
                              qsizetype sliceBytes = 12000);
} // namespace realtimeservice
