#include "cloud/RealtimeIntake.h"

#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"

namespace
{
bool isString(const Json &object, const char *key, const std::string &expected)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() && it->get_ref<const std::string &>() == expected;
}

// A payload sent as JSON text is replaced by the parsed value.
void parseTextPayload(Json &frame)
{
    const auto it = frame.find("payload");
    if (it == frame.end() || !it->is_string())
        return;
    auto parsed = json::tryParse(std::string_view(it->get_ref<const std::string &>()));
    if (!parsed || !(parsed->is_object() || parsed->is_array()))
        throw HubError(json::decodingErrorSentence());
    *it = std::move(*parsed);
}

Json *member(Json &object, const char *key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_object() ? &*it : nullptr;
}
} // namespace

RealtimeIntake::RealtimeIntake(NativeFrameDecoder::Clock clock)
    : m_decoder(NativeFrameDecoder::kDefaultMaximum, std::move(clock))
{}

void RealtimeIntake::begin(const QString &sessionID, const QString &tenantID)
{
    m_sessionID = json::toStd(sessionID);
    m_tenantID = json::toStd(tenantID);
    m_counters = {};
    m_delivered.clear();
}

std::optional<std::string> RealtimeIntake::deduplicationKey(const Json &frame)
{
    const auto seq = json::wholeNumber(frame, "seq");
    if (!seq || isString(frame, "kind", "project_call"))
        return std::nullopt;
    std::string key;
    const auto turn = frame.find("turnId");
    if (turn != frame.end()) {
        if (turn->is_string())
            key = turn->get_ref<const std::string &>();
        else
            key = turn->dump();
    }
    key.push_back(':');
    key.append(std::to_string(*seq));
    return key;
}

std::optional<RealtimeIntake::Delivery> RealtimeIntake::take(Json message)
{
    const auto type = message.find("type");
    if (type == message.end() || !type->is_string())
        return std::nullopt;
    const auto &typeText = type->get_ref<const std::string &>();
    if (typeText == "error")
        throw HubError(QStringLiteral("Realtime delivery failed."));
    if (typeText != "data")
        return std::nullopt;
    m_counters.observedDeliveries += 1;

    Json *payload = member(message, "payload");
    Json *data = payload ? member(*payload, "data") : nullptr;
    Json *frame = data ? member(*data, "onSessionFrame") : nullptr;
    if (!frame || !isString(*frame, "sessionId", m_sessionID) || !isString(*frame, "tenantId", m_tenantID)) {
        m_counters.rejectedIdentities += 1;
        return std::nullopt;
    }
    Json taken = std::move(*frame);
    parseTextPayload(taken);
    auto rebuilt = m_decoder.push(std::move(taken));
    if (!rebuilt)
        return std::nullopt;
    parseTextPayload(*rebuilt);

    auto key = deduplicationKey(*rebuilt);
    Delivery delivery{std::move(*rebuilt), std::move(key)};
    if (delivery.key && m_delivered.contains(*delivery.key))
        return std::nullopt;
    m_counters.acceptedFrames += 1;
    return delivery;
}

void RealtimeIntake::delivered(Delivery &delivery)
{
    if (!delivery.key)
        return;
    if (m_delivered.size() > kMaxDelivered)
        m_delivered.clear();
    m_delivered.insert(std::move(*delivery.key));
}
