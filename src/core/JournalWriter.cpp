#include "core/JournalWriter.h"

#include "core/HubError.h"
#include "core/JournalLimits.h"

#include <QUuid>

#include <array>
#include <cerrno>
#include <cstring>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
HubError failure(const char *sentence)
{
    return HubError(QString::fromLatin1(sentence));
}

// Standard Base64 with padding, appended to `out`. Two output characters per 12-bit lookup.
void appendBase64(QByteArray &out, const char *data, qsizetype size)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const auto pairs = [] {
        std::array<std::array<char, 2>, 4096> t{};
        for (int v = 0; v < 4096; ++v)
            t[size_t(v)] = {alphabet[v >> 6], alphabet[v & 63]};
        return t;
    }();
    const qsizetype start = out.size();
    out.resize(start + (size + 2) / 3 * 4);
    char *o = out.data() + start;
    const auto *in = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3, o += 4) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, pairs[v >> 12].data(), 2);
        std::memcpy(o + 2, pairs[v & 4095].data(), 2);
    }
    if (i < size) {
        const quint32 v = (quint32(in[i]) << 16) | (i + 1 < size ? quint32(in[i + 1]) << 8 : 0);
        o[0] = alphabet[(v >> 18) & 63];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = i + 1 < size ? alphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
}

QByteArray newIDBytes()
{
    return QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
}

// The part of a chunk record after its id, up to the opening of its payload: the same bytes
// WorkspaceEvent::encode() writes, built once for all records of a set.
QByteArray chunkHead(const QString &timestamp, const QString &appID, const QString &tenantID, const char *kind)
{
    QByteArray head("\",\"timestamp\":");
    json::appendQuoted(head, QStringView(timestamp));
    head.append(",\"app_id\":");
    json::appendQuoted(head, QStringView(appID));
    head.append(",\"tenant_id\":");
    json::appendQuoted(head, QStringView(tenantID));
    head.append(",\"kind\":\"");
    head.append(kind);
    head.append("\",\"payload\":{");
    return head;
}

// One chunk record, byte for byte what WorkspaceEvent::encode() gives for it (payload keys in
// sorted order; the set id, numbers and Base64 need no escaping). `eventKeys` selects the
// "frame.chunk" keys (count, data, frame_id, index) over the "session.frame.chunk" keys (data, id,
// index, total).
QByteArray chunkRecord(const QByteArray &head, bool eventKeys, const QByteArray &setID, qsizetype index,
                       qsizetype count, const char *data, qsizetype size, bool encodeData)
{
    QByteArray line;
    line.reserve(head.size() + 160 + (encodeData ? (size + 2) / 3 * 4 : size));
    line.append("{\"id\":\"");
    line.append(newIDBytes());
    line.append(head);
    if (eventKeys) {
        line.append("\"count\":\"").append(QByteArray::number(count)).append("\",");
    }
    line.append("\"data\":\"");
    if (encodeData)
        appendBase64(line, data, size);
    else
        line.append(data, size);
    line.append(eventKeys ? "\",\"frame_id\":\"" : "\",\"id\":\"");
    line.append(setID);
    line.append("\",\"index\":\"").append(QByteArray::number(index));
    if (!eventKeys)
        line.append("\",\"total\":\"").append(QByteArray::number(count));
    line.append("\"}}");
    return line;
}

WorkspaceEvent record(QString id, QString timestamp, QString appID, QString tenantID, QString kind,
                      EventPayload payload)
{
    return WorkspaceEvent{std::move(id),       std::move(timestamp), std::move(appID),
                          std::move(tenantID), std::move(kind),      std::move(payload)};
}
} // namespace

JournalWriter::JournalWriter(JournalFolder folder, QString appID, QString tenantID)
    : m_folder(std::move(folder)), m_appID(std::move(appID)), m_tenantID(std::move(tenantID))
{}

void JournalWriter::append(const QString &kind, const EventPayload &payload) const
{
    appendEvent(record(WorkspaceEvent::newID(), WorkspaceEvent::now(), m_appID, m_tenantID, kind, payload));
}

void JournalWriter::appendEvent(const WorkspaceEvent &event) const
{
    writeLines(eventRecords(event));
}

void JournalWriter::appendFrame(const QByteArray &frame) const
{
    writeLines(frameRecords(frame));
}

std::vector<QByteArray> JournalWriter::eventRecords(const WorkspaceEvent &event)
{
    QByteArray encoded = event.encode();
    if (encoded.size() > journal::kRecordLimit)
        throw failure("Workspace frame exceeds 16 MiB.");
    std::vector<QByteArray> records;
    if (encoded.size() < journal::kChunkThreshold) {
        records.push_back(std::move(encoded));
        return records;
    }
    QByteArray base64;
    appendBase64(base64, encoded.constData(), encoded.size());
    encoded.clear();
    const qsizetype count = (base64.size() + journal::kEventPiece - 1) / journal::kEventPiece;
    if (count > journal::kMaxPieces)
        throw failure("Frame exceeds the bounded journal batch capacity.");
    const QByteArray setID = newIDBytes();
    const QByteArray head = chunkHead(event.timestamp, event.appID, event.tenantID, "frame.chunk");
    records.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype at = i * journal::kEventPiece;
        records.push_back(chunkRecord(head, true, setID, i, count, base64.constData() + at,
                                      std::min(journal::kEventPiece, base64.size() - at), false));
    }
    return records;
}

std::vector<QByteArray> JournalWriter::frameRecords(const QByteArray &frame) const
{
    if (frame.size() > journal::kRecordLimit)
        throw failure("Frame exceeds journal reassembly capacity.");
    const QString timestamp = WorkspaceEvent::now();
    std::vector<QByteArray> records;
    if (frame.size() <= journal::kFrameSlice) {
        // Ill-formed UTF-8 becomes U+FFFD in the text.
        QByteArray line = record(WorkspaceEvent::newID(), timestamp, m_appID, m_tenantID,
                                 QStringLiteral("session.frame"), {{QStringLiteral("frame"), QString::fromUtf8(frame)}})
                              .encode();
        // Decided by the encoded line, not by the frame's size: JSON escaping can take a frame of
        // 7000 bytes to about 42000, and such a line would fail on every attempt. Slices are Base64
        // and never need escaping, so the chunked form always fits.
        if (line.size() + 1 <= journal::kLineLimit) {
            records.push_back(std::move(line));
            return records;
        }
    }
    const QByteArray setID = newIDBytes();
    const QByteArray head = chunkHead(timestamp, m_appID, m_tenantID, "session.frame.chunk");
    const qsizetype count = (frame.size() + journal::kFrameSlice - 1) / journal::kFrameSlice;
    records.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype at = i * journal::kFrameSlice;
        records.push_back(chunkRecord(head, false, setID, i, count, frame.constData() + at,
                                      std::min(journal::kFrameSlice, frame.size() - at), true));
    }
    return records;
}

void JournalWriter::writeLines(const std::vector<QByteArray> &records) const
{
    qint64 size = 0;
    for (const QByteArray &line : records) {
        if (line.size() + 1 > journal::kLineLimit)
            throw failure("Event exceeds the 16 KiB delta limit.");
        size += line.size() + 1;
    }
    if (size > journal::kJournalLimit)
        throw failure("Frame batch exceeds journal capacity.");

    ScopedFileLock lock(m_folder.lockDescriptor(), LOCK_EX);
    ScopedFd fd(m_folder.descriptor());
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        throw failure("Cannot inspect event journal.");

    // A write that failed half way leaves a line without its line feed; a batch glued to it would be
    // lost with it, so the batch then starts by ending that damaged line.
    bool endDamagedLine = false;
    const bool ownEnd = m_lastEnd && m_lastEnd->first == quint64(st.st_ino) && m_lastEnd->second == qint64(st.st_size);
    m_lastEnd.reset();
    if (st.st_size > 0 && !ownEnd) {
        char last = '\n';
        ssize_t n;
        do {
            n = ::pread(fd.get(), &last, 1, st.st_size - 1);
        } while (n < 0 && errno == EINTR);
        if (n != 1)
            throw failure("Cannot inspect event journal.");
        endDamagedLine = last != '\n';
    }

    if (qint64(st.st_size) + (endDamagedLine ? 1 : 0) + size > journal::kJournalLimit) {
        if (!m_folder.rotate())
            throw failure("Cannot rotate bounded journal.");
        fd.reset();
        fd.reset(m_folder.descriptor());
        if (::fstat(fd.get(), &st) != 0)
            throw failure("Cannot inspect event journal.");
        endDamagedLine = false;
    }

    QByteArray batch;
    batch.reserve(size + 1);
    if (endDamagedLine)
        batch.append('\n');
    for (const QByteArray &line : records) {
        batch.append(line);
        batch.append('\n');
    }

    const char *data = batch.constData();
    qsizetype left = batch.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw failure("Cannot append workspace event.");
        data += n;
        left -= n;
    }
    m_lastEnd.emplace(quint64(st.st_ino), qint64(st.st_size) + batch.size());
}
