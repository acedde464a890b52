#pragma once

#include "cloud/NativeFrameDecoder.h"
#include "core/Json.h"

#include <QString>

#include <optional>
#include <string>
#include <unordered_set>

// The diagnostics of one subscription; nothing branches on them.
struct RealtimeCounters
{
    qint64 observedMessages = 0;   // messages received after the handshake
    qint64 observedDeliveries = 0; // of those, "data" messages
    qint64 acceptedFrames = 0;     // frames handed to the handler (a chunked frame once; no repeats)
    qint64 rejectedIdentities = 0; // "data" messages without a frame of this session and workspace
    qint64 reconnects = 0;         // failures answered by reconnecting
};

// What the receive task does with one streamed message, apart from waiting for the handler: the
// identity filter, the text-payload parse, reassembly and de-duplication. Main thread only.
class RealtimeIntake
{
public:
    // More remembered keys than this and the set starts again.
    static constexpr std::size_t kMaxDelivered = 4096;

    explicit RealtimeIntake(NativeFrameDecoder::Clock clock = {});

    // Starts a new subscription: counters at 0, nothing delivered yet.
    void begin(const QString &sessionID, const QString &tenantID);
    // Forgets the frames being reassembled.
    void resetDecoder() { m_decoder.reset(); }

    struct Delivery
    {
        Json frame;
        // Present for frames that take part in de-duplication.
        std::optional<std::string> key;
    };

    // One streamed message (already parsed). Returns the frame to hand to the handler, or nothing
    // (not a frame, a rejected identity, a stored chunk, a repeat). Throws the failures that make
    // the subscription reconnect: "Realtime delivery failed." for an "error" message, a payload
    // text that is no JSON, a reassembly error.
    std::optional<Delivery> take(Json message);
    // The handler accepted the frame: remember it.
    void delivered(Delivery &delivery);
    // The handler failed on the frame: let its chunks, sent again, rebuild it.
    void handlerFailed(const Delivery &delivery) { m_decoder.retryDelivery(delivery.frame); }

    RealtimeCounters &counters() { return m_counters; }
    const RealtimeCounters &counters() const { return m_counters; }
    const NativeFrameDecoder &decoder() const { return m_decoder; }
    std::size_t deliveredCount() const { return m_delivered.size(); }

    // The de-duplication key of a frame: turnId text, ":", seq. Only frames with an integer "seq"
    // take part (frames without one would all share a key and all but the first would be lost),
    // and "project_call" frames never do.
    static std::optional<std::string> deduplicationKey(const Json &frame);

private:
    std::string m_sessionID;
    std::string m_tenantID;
    RealtimeCounters m_counters;
    std::unordered_set<std::string> m_delivered;
    NativeFrameDecoder m_decoder;
};
