#include "core/JournalReader.h"

#include "core/HubError.h"
#include "core/JournalLimits.h"
#include "core/JournalLineDecoder.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr size_t kDroppedSetMemory = 64;

// A decimal integer text: an optional sign and digits, nothing else, within 64 bits.
std::optional<qint64> decimal(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    quint64 magnitude = 0;
    const quint64 limit =
        negative ? quint64(std::numeric_limits<qint64>::max()) + 1 : quint64(std::numeric_limits<qint64>::max());
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c - u'0';
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

bool validSetID(const QString &id)
{
    if (id.isEmpty() || id.size() > 128)
        return false;
    return std::all_of(id.cbegin(), id.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' ||
               u == u'-';
    });
}

// Standard Base64 with its padding. Qt's strict decoding checks the alphabet and that "=" only pads
// the end, but it also takes a last group without its padding, which the format does not write.
std::optional<QByteArray> decodeBase64(const QByteArray &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(text, QByteArray::Base64Encoding |
                                                           QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return std::move(result.decoded);
}

QString payloadValue(const EventPayload &payload, const QString &key, bool &present)
{
    const auto it = payload.constFind(key);
    present = it != payload.cend();
    return present ? *it : QString();
}
} // namespace

QString JournalReader::sentence(Failure failure)
{
    switch (failure) {
    case Failure::Invalid:
        return QStringLiteral("Invalid journal frame fragment.");
    case Failure::TooMany:
        return QStringLiteral("Too many incomplete journal frames.");
    case Failure::Metadata:
        return QStringLiteral("Conflicting journal fragment metadata.");
    case Failure::Duplicate:
        return QStringLiteral("Conflicting duplicate journal fragment.");
    case Failure::Memory:
        return QStringLiteral("Journal reassembly memory limit exceeded.");
    case Failure::None:
        break;
    }
    return {};
}

JournalReader::JournalReader(JournalFolder folder, QString appID, QString tenantID, Clock clock)
    : m_folder(std::move(folder)), m_appID(std::move(appID)), m_tenantID(std::move(tenantID)),
      m_clock(std::move(clock)), m_decoder(m_appID, m_tenantID)
{}

JournalDeltas JournalReader::readDeltas()
{
    JournalDeltas out;
    evictStale();
    const ScopedFileLock lock(m_folder.lockDescriptor(), LOCK_SH);
    // The status the opening checked: the same descriptor cannot fail to tell it again.
    struct stat st
    {
    };
    const ScopedFd fd(m_folder.descriptor(&st));

    qint64 budget = journal::kJournalLimit;
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<char[]>(size_t(journal::kReadBuffer));
    char *const buffer = m_buffer.get();

    // After a rotation the file this reader was reading is "events.previous.jsonl"; what other
    // processes appended to it since the previous call is read before the new file is started.
    if (m_inode && *m_inode != quint64(st.st_ino)) {
        struct stat ps
        {
        };
        const ScopedFd previous(m_folder.previousDescriptor(&ps));
        if (previous.valid() && quint64(ps.st_ino) == *m_inode && quint64(ps.st_size) >= m_offset) {
            if (::lseek(previous.get(), off_t(m_offset), SEEK_SET) < 0)
                throw HubError::fixed("Cannot seek event log.");
            if (!readFrom(previous.get(), qint64(ps.st_size), budget, buffer, out))
                return out; // this call's 24 MiB are spent; the next call goes on in the old file
        }
    }

    if (!(m_inode && *m_inode == quint64(st.st_ino) && quint64(st.st_size) >= m_offset))
        startOver();
    m_inode = quint64(st.st_ino);
    if (::lseek(fd.get(), off_t(m_offset), SEEK_SET) < 0)
        throw HubError::fixed("Cannot seek event log.");
    readFrom(fd.get(), qint64(st.st_size), budget, buffer, out);
    return out;
}

void JournalReader::startOver()
{
    m_offset = 0;
    m_remainder.clear();
    m_fragments.clear();
    m_fragmentBytes = 0;
    m_discarding = false;
    m_droppedSets.clear();
}

bool JournalReader::readFrom(int fd, qint64 size, qint64 &budget, char *buffer, JournalDeltas &out)
{
    while (budget > 0) {
        const size_t want = size_t(std::min<qint64>(journal::kReadBuffer, budget));
        ssize_t n;
        do {
            n = ::read(fd, buffer, want);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            throw HubError::fixed("Cannot read event deltas.");
        if (n == 0)
            return true;
        budget -= n;
        m_offset += quint64(n);
        const size_t before = out.events.size();
        consume(buffer, n, out);
        reserveFor(out, out.events.size() - before, n, std::min<qint64>(budget, size - qint64(m_offset)));
    }
    return false;
}

void JournalReader::reserveFor(JournalDeltas &out, size_t added, qint64 consumed, qint64 left)
{
    // A full journal of small records is a hundred thousand events and more. The list is grown at
    // once to the length the bytes read so far predict, rather than by doubling, which would move
    // it several times and touch twice its memory: fresh pages are most of a first read's cost.
    if (left <= 0 || added == 0 || consumed <= 0)
        return;
    const double expected = double(out.events.size()) + double(added) / double(consumed) * double(left) * 1.125;
    const auto wanted = size_t(expected) + 1;
    if (wanted > out.events.capacity())
        out.events.reserve(std::max(wanted, out.events.capacity() + out.events.capacity() / 2));
}

void JournalReader::consume(const char *data, qsizetype size, JournalDeltas &out)
{
    const char *p = data;
    const char *end = data + size;
    while (p < end) {
        const auto *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lf)
            break;
        if (m_discarding) {
            m_discarding = false;
        } else if (m_remainder.isEmpty()) {
            handleLine(std::string_view(p, size_t(lf - p)), out);
        } else {
            m_remainder.append(p, lf - p);
            const QByteArray line = std::exchange(m_remainder, QByteArray());
            handleLine(std::string_view(line.constData(), size_t(line.size())), out);
        }
        p = lf + 1;
    }
    if (m_discarding || p == end)
        return;
    if (m_remainder.size() + (end - p) > journal::kLineLimit) {
        // No writer makes such a line. It is discarded and reported, and the records around it
        // are still returned.
        m_remainder.clear();
        m_discarding = true;
        report(out, QStringLiteral("Oversized incomplete event rejected."));
        return;
    }
    m_remainder.append(p, end - p);
}

void JournalReader::report(JournalDeltas &out, const QString &sentence)
{
    if (!out.problems.contains(sentence))
        out.problems.append(sentence);
}

void JournalReader::handleLine(std::string_view line, JournalDeltas &out)
{
    if (qsizetype(line.size()) > journal::kLineLimit)
        return;
    auto event = m_decoder.decode(line);
    if (!event || event->appID != m_appID || event->tenantID != m_tenantID)
        return;

    if (event->kind == u"session.frame") {
        const auto frame = event->payload.constFind(QStringLiteral("frame"));
        if (frame != event->payload.cend()) {
            if (auto projected = projectFrame(frame->toUtf8())) {
                out.events.push_back(std::move(*projected));
                return;
            }
        }
    } else if (event->kind == u"session.frame.chunk") {
        handlePiece(event->payload, QStringLiteral("id"), QStringLiteral("total"), true, out);
        return;
    } else if (event->kind == u"frame.chunk") {
        handlePiece(event->payload, QStringLiteral("frame_id"), QStringLiteral("count"), false, out);
        return;
    }
    out.events.push_back(std::move(*event));
}

void JournalReader::handlePiece(const EventPayload &payload, const QString &idKey, const QString &countKey, bool frame,
                                JournalDeltas &out)
{
    bool hasID, hasIndex, hasCount, hasData;
    const QString id = payloadValue(payload, idKey, hasID);
    const auto index = decimal(payloadValue(payload, QStringLiteral("index"), hasIndex));
    const auto count = decimal(payloadValue(payload, countKey, hasCount));
    const QString data = payloadValue(payload, QStringLiteral("data"), hasData);
    if (!hasID || !hasIndex || !hasCount || !hasData || !index || !count)
        return;
    if (std::find(m_droppedSets.cbegin(), m_droppedSets.cend(), id) != m_droppedSets.cend())
        return;

    Piece piece = collect(id, *index, *count, data);
    if (piece.failure != Failure::None) {
        // The piece is dropped, and with it its set, which can no longer complete; the sentence
        // goes to the caller with the records read.
        report(out, sentence(piece.failure));
        dropSet(id);
        return;
    }
    if (!piece.joined)
        return;
    if (frame) {
        if (auto projected = projectFrame(*piece.joined))
            out.events.push_back(std::move(*projected));
        return;
    }
    auto inner = m_decoder.decode(std::string_view(piece.joined->constData(), size_t(piece.joined->size())));
    if (inner && inner->appID == m_appID && inner->tenantID == m_tenantID && inner->kind != u"frame.chunk")
        out.events.push_back(std::move(*inner));
}

void JournalReader::dropSet(const QString &id)
{
    if (!validSetID(id))
        return;
    const auto it = m_fragments.find(id);
    if (it != m_fragments.end()) {
        m_fragmentBytes -= it->second.bytes;
        m_fragments.erase(it);
    }
    m_droppedSets.push_back(id);
    if (m_droppedSets.size() > kDroppedSetMemory)
        m_droppedSets.pop_front();
}

void JournalReader::evictStale()
{
    const TimePoint cutoff = now() - std::chrono::seconds(journal::kFragmentSeconds);
    for (auto it = m_fragments.begin(); it != m_fragments.end();) {
        if (it->second.created <= cutoff) {
            m_fragmentBytes -= it->second.bytes;
            it = m_fragments.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<QByteArray> JournalReader::fragment(const QString &id, qint64 index, qint64 count, const QString &encoded)
{
    Piece piece = collect(id, index, count, encoded);
    if (piece.failure != Failure::None)
        throw HubError(sentence(piece.failure));
    return std::move(piece.joined);
}

JournalReader::Piece JournalReader::collect(const QString &id, qint64 index, qint64 count, const QString &encoded)
{
    evictStale();
    if (!validSetID(id) || count < 1 || count > journal::kMaxPieces || index < 0 || index >= count ||
        encoded.size() > journal::kEventPiece)
        return {Failure::Invalid, {}};
    const QByteArray utf8 = encoded.toUtf8();
    if (utf8.size() > journal::kEventPiece)
        return {Failure::Invalid, {}};
    auto decoded = decodeBase64(utf8);
    if (!decoded)
        return {Failure::Invalid, {}};

    auto it = m_fragments.find(id);
    if (it == m_fragments.end()) {
        if (int(m_fragments.size()) >= journal::kMaxOpenSets)
            return {Failure::TooMany, {}};
        it = m_fragments.emplace(id, Fragment{now(), int(count), 0, {}}).first;
    }
    Fragment &set = it->second;
    if (set.count != count)
        return {Failure::Metadata, {}};
    if (const auto existing = set.parts.find(int(index)); existing != set.parts.end()) {
        if (existing->second == *decoded)
            return {};
        return {Failure::Duplicate, {}};
    }
    const qint64 size = decoded->size();
    if (set.bytes + size > journal::kRecordLimit || m_fragmentBytes + size > journal::kFragmentMemory)
        return {Failure::Memory, {}};
    set.parts.emplace(int(index), std::move(*decoded));
    set.bytes += size;
    m_fragmentBytes += size;
    if (qsizetype(set.parts.size()) < set.count)
        return {};

    QByteArray joined;
    joined.reserve(set.bytes);
    for (const auto &[number, bytes] : set.parts)
        joined.append(bytes);
    m_fragmentBytes -= set.bytes;
    m_fragments.erase(it);
    return {Failure::None, std::move(joined)};
}

std::optional<WorkspaceEvent> JournalReader::projectFrame(const QByteArray &frame) const
{
    if (frame.size() > journal::kRecordLimit)
        return std::nullopt;
    const auto parsed = json::tryParse(frame);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    const Json &object = *parsed;
    const auto tenant = json::string(object, "tenantId");
    const auto session = json::string(object, "sessionId");
    const auto kind = json::string(object, "kind");
    const auto turn = json::string(object, "turnId");
    if (!tenant || *tenant != m_tenantID || !session || !kind || !turn || turn->isEmpty())
        return std::nullopt;

    Json payload = Json::object();
    if (const auto it = object.find("payload"); it != object.end()) {
        if (it->is_object()) {
            payload = *it;
        } else if (it->is_string()) {
            auto inner = json::tryParse(std::string_view(it->get_ref<const std::string &>()));
            if (inner && inner->is_object())
                payload = std::move(*inner);
        }
    }
    if (const auto agent = object.find("agent"); agent != object.end())
        payload["agent"] = *agent;
    else
        payload.erase("agent");
    payload["session_id"] = json::toStd(*session);
    payload["turnId"] = json::toStd(*turn);

    const auto ts = json::string(object, "ts");
    return WorkspaceEvent{WorkspaceEvent::projectionID(object, WorkspaceEvent::newID()),
                          ts ? *ts : WorkspaceEvent::now(),
                          m_appID,
                          m_tenantID,
                          *kind,
                          WorkspaceEvent::stringPayload(payload)};
}
