#include "cloud/NativeFrameDecoder.h"

#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"

#include <algorithm>

namespace
{
[[noreturn]] void fail(const char *sentence)
{
    throw HubError(QString::fromLatin1(sentence));
}

bool isChunkId(const std::string &id)
{
    if (id.empty() || id.size() > 128)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

// Strict standard Base64: only the 64 letters, length a multiple of 4, "=" only as the final one or
// two characters. Qt's decoder is more forgiving than the chunk format allows.
std::optional<QByteArray> decodeBase64(const std::string &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const char c = text[i];
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!ok)
            return std::nullopt;
    }
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return std::move(*result);
}

bool isKind(const Json &frame, std::string_view kind)
{
    const auto it = frame.find("kind");
    return it != frame.end() && it->is_string() && it->get_ref<const std::string &>() == kind;
}

struct Chunk
{
    std::string id;
    int index = 0;
    int total = 0;
    QByteArray slice;
};

Chunk validChunk(const Json &frame)
{
    const auto payload = frame.find("payload");
    if (payload == frame.end() || !payload->is_object())
        fail("Invalid AppSync frame chunk.");
    Chunk chunk;
    const auto id = json::string(*payload, "id");
    const auto encoding = json::string(*payload, "encoding");
    const auto index = json::wholeNumber(*payload, "index");
    const auto total = json::wholeNumber(*payload, "total");
    const auto data = payload->find("data");
    if (!id || !isChunkId(json::toStd(*id)) || encoding != QStringLiteral("base64") || !index || !total || *total < 1 ||
        *total > NativeFrameDecoder::kMaxTotal || *index < 0 || *index >= *total || data == payload->end() ||
        !data->is_string())
        fail("Invalid AppSync frame chunk.");
    const auto &text = data->get_ref<const std::string &>();
    // Characters of Base64 are single bytes, so the byte count is the character count.
    if (qsizetype(text.size()) > NativeFrameDecoder::kMaxDataCharacters)
        fail("Invalid AppSync frame chunk.");
    auto slice = decodeBase64(text);
    if (!slice)
        fail("Invalid AppSync frame chunk.");
    const bool last = *index == *total - 1;
    if (slice->size() > NativeFrameDecoder::kSliceBytes || (!last && slice->size() != NativeFrameDecoder::kSliceBytes))
        fail("Invalid AppSync frame chunk.");
    chunk.id = json::toStd(*id);
    chunk.index = int(*index);
    chunk.total = int(*total);
    chunk.slice = std::move(*slice);
    return chunk;
}
} // namespace

NativeFrameDecoder::NativeFrameDecoder(qint64 maximum, Clock clock)
    : m_maximum(maximum), m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{}

NativeFrameDecoder::~NativeFrameDecoder() = default;

std::string NativeFrameDecoder::identity(const Json &frame)
{
    const auto tenant = frame.is_object() ? frame.find("tenantId") : frame.end();
    const auto session = frame.is_object() ? frame.find("sessionId") : frame.end();
    const auto seq = json::wholeNumber(frame, "seq");
    if (tenant == frame.end() || !tenant->is_string() || session == frame.end() || !session->is_string() || !seq)
        fail("Invalid chunk frame identity.");
    const auto turn = frame.find("turnId");
    const Json &turnOrSession = turn != frame.end() && turn->is_string() ? *turn : *session;
    QByteArray text;
    text.reserve(64);
    text.append('[');
    json::appendQuoted(text, std::string_view(tenant->get_ref<const std::string &>()));
    text.append(',');
    json::appendQuoted(text, std::string_view(session->get_ref<const std::string &>()));
    text.append(',');
    json::appendQuoted(text, std::string_view(turnOrSession.get_ref<const std::string &>()));
    text.append(",\"");
    text.append(QByteArray::number(*seq));
    text.append("\"]");
    return text.toStdString();
}

std::optional<Json> NativeFrameDecoder::push(Json frame)
{
    sweep();
    if (!frame.is_object() || !isKind(frame, "frame_chunk"))
        return frame;

    Chunk chunk = validChunk(frame);
    const std::string frameIdentity = identity(frame);
    std::string key = frameIdentity;
    key.push_back(':');
    key.append(chunk.id);

    if (m_completed.contains(key))
        return std::nullopt;

    auto entry = m_pending.find(key);
    if (entry == m_pending.end()) {
        if (m_pending.size() >= kMaxPending)
            fail("Too many incomplete session frames.");
        Partial partial;
        partial.created = now();
        partial.total = chunk.total;
        partial.identity = frameIdentity;
        partial.parts.resize(std::size_t(chunk.total));
        entry = m_pending.emplace(key, std::move(partial)).first;
    }
    Partial &partial = entry->second;
    if (partial.total != chunk.total || partial.identity != frameIdentity) {
        discard(key);
        fail("Conflicting session frame metadata.");
    }
    QByteArray &part = partial.parts[std::size_t(chunk.index)];
    if (!part.isNull()) {
        if (part == chunk.slice)
            return std::nullopt;
        discard(key);
        fail("Conflicting duplicate frame chunk.");
    }
    const qint64 length = chunk.slice.size();
    if (partial.size + length > m_maximum || m_retained + length > 2 * m_maximum) {
        discard(key);
        fail("Session frame reassembly memory limit exceeded.");
    }
    // An empty last slice still counts as received.
    part = chunk.slice.isNull() ? QByteArray("", 0) : std::move(chunk.slice);
    partial.size += length;
    partial.received += 1;
    m_retained += length;
    armExpiry();
    if (partial.received < partial.total)
        return std::nullopt;

    std::string joined;
    joined.reserve(std::size_t(partial.size));
    for (const auto &slice : partial.parts)
        joined.append(slice.constData(), std::size_t(slice.size()));
    discard(key);

    auto rebuilt = json::tryParse(std::string_view(joined));
    if (!rebuilt || !(rebuilt->is_object() || rebuilt->is_array()))
        throw HubError(json::decodingErrorSentence());
    if (!rebuilt->is_object() || isKind(*rebuilt, "frame_chunk") || identity(*rebuilt) != frameIdentity)
        fail("Reassembled frame identity mismatch.");

    if (!isKind(*rebuilt, "project_call")) {
        m_completedOrder.emplace_back(key, now());
        m_completed.emplace(std::move(key), std::prev(m_completedOrder.end()));
        if (m_completedOrder.size() > kMaxCompleted) {
            m_completed.erase(m_completedOrder.front().first);
            m_completedOrder.pop_front();
        }
    }
    armExpiry();
    return rebuilt;
}

void NativeFrameDecoder::retryDelivery(const Json &frame)
{
    std::string prefix;
    try {
        prefix = identity(frame);
    } catch (const HubError &) {
        return;
    }
    prefix.push_back(':');
    for (auto it = m_completedOrder.begin(); it != m_completedOrder.end();) {
        if (it->first.compare(0, prefix.size(), prefix) == 0) {
            m_completed.erase(it->first);
            it = m_completedOrder.erase(it);
        } else {
            ++it;
        }
    }
}

void NativeFrameDecoder::reset()
{
    m_expiry.reset();
    m_pending.clear();
    m_completed.clear();
    m_completedOrder.clear();
    m_retained = 0;
}

void NativeFrameDecoder::discard(const std::string &key)
{
    const auto it = m_pending.find(key);
    if (it == m_pending.end())
        return;
    m_retained -= it->second.size;
    m_pending.erase(it);
}

void NativeFrameDecoder::sweep()
{
    if (m_pending.empty() && m_completedOrder.empty())
        return;
    const TimePoint current = now();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (current - it->second.created >= kLifetime) {
            m_retained -= it->second.size;
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    while (!m_completedOrder.empty() && current - m_completedOrder.front().second >= kLifetime) {
        m_completed.erase(m_completedOrder.front().first);
        m_completedOrder.pop_front();
    }
}

void NativeFrameDecoder::armExpiry()
{
    if ((m_expiry && m_expiry->isActive()) || (m_pending.empty() && m_completedOrder.empty()))
        return;
    TimePoint oldest = TimePoint::max();
    for (const auto &[key, partial] : m_pending)
        oldest = std::min(oldest, partial.created);
    if (!m_completedOrder.empty())
        oldest = std::min(oldest, m_completedOrder.front().second);
    const auto age = now() - oldest;
    const auto delay = std::max<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kLifetime - age), std::chrono::milliseconds(10));
    if (!m_expiry) {
        m_expiry = std::make_unique<QTimer>();
        m_expiry->setSingleShot(true);
        // The timer belongs to the decoder, so the callback never outlives it.
        QObject::connect(m_expiry.get(), &QTimer::timeout, m_expiry.get(), [this] {
            sweep();
            armExpiry();
        });
    }
    m_expiry->start(delay);
}
