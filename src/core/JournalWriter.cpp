#include "core/JournalWriter.h"

#include "core/HubError.h"
#include "core/JournalLimits.h"
#include "core/Utf8.h"

#include <QUuid>

#include <cerrno>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A batch buffer up to this capacity is kept for the next batch; a larger one (an event of
// several MiB) is given back.
constexpr qsizetype kKeptBatch = 4 * 1024 * 1024;

QByteArray newIDBytes()
{
    return QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
}

// The part of a record after its id, up to the opening of its payload: the same bytes
// WorkspaceEvent::encode() writes, built once for all records of a set.
QByteArray recordHead(const QString &timestamp, const QString &appID, const QString &tenantID, const char *kind)
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

// Ends the record that starts at `start` with its line feed; a line over the limit fails the whole
// batch, which is then not written.
void endLine(QByteArray &batch, qsizetype start)
{
    batch.append('\n');
    if (batch.size() - start > journal::kLineLimit)
        throw HubError::fixed("Event exceeds the 16 KiB delta limit.");
}

// One chunk record, byte for byte what WorkspaceEvent::encode() gives for it (payload keys in
// sorted order; the set id, numbers and Base64 need no escaping). `eventKeys` selects the
// "frame.chunk" keys (count, data, frame_id, index) over the "session.frame.chunk" keys (data, id,
// index, total).
void addChunkRecord(QByteArray &batch, const QByteArray &head, bool eventKeys, const QByteArray &setID,
                    qsizetype index, qsizetype count, QByteArrayView base64)
{
    const qsizetype start = batch.size();
    batch.append("{\"id\":\"");
    batch.append(newIDBytes());
    batch.append(head);
    if (eventKeys)
        batch.append("\"count\":\"").append(QByteArray::number(count)).append("\",");
    batch.append("\"data\":\"");
    batch.append(base64);
    batch.append(eventKeys ? "\",\"frame_id\":\"" : "\",\"id\":\"");
    batch.append(setID);
    batch.append("\",\"index\":\"").append(QByteArray::number(index));
    if (!eventKeys)
        batch.append("\",\"total\":\"").append(QByteArray::number(count));
    batch.append("\"}}");
    endLine(batch, start);
}

std::vector<QByteArray> splitLines(const QByteArray &batch)
{
    // Records are JSON text, where a line feed is always escaped: every raw one ends a record.
    std::vector<QByteArray> records;
    qsizetype start = 0;
    for (qsizetype end = batch.indexOf('\n'); end >= 0; end = batch.indexOf('\n', start)) {
        records.push_back(batch.mid(start, end - start));
        start = end + 1;
    }
    return records;
}
} // namespace

JournalWriter::JournalWriter(JournalFolder folder, QString appID, QString tenantID)
    : m_folder(std::move(folder)), m_appID(std::move(appID)), m_tenantID(std::move(tenantID))
{}

void JournalWriter::append(const QString &kind, const EventPayload &payload) const
{
    appendEvent(WorkspaceEvent{WorkspaceEvent::newID(), WorkspaceEvent::now(), m_appID, m_tenantID, kind, payload});
}

template <typename Build> void JournalWriter::write(Build build) const
{
    struct Keep
    {
        QByteArray &batch;
        ~Keep()
        {
            if (batch.capacity() > kKeptBatch)
                batch = QByteArray();
        }
    } keep{m_batch};
    m_batch.resize(0); // keeps the capacity
    build(m_batch);
    writeBatch(m_batch);
}

void JournalWriter::appendEvent(const WorkspaceEvent &event) const
{
    write([&event](QByteArray &batch) { addEventRecords(batch, event); });
}

void JournalWriter::appendFrame(const QByteArray &frame) const
{
    write([this, &frame](QByteArray &batch) { addFrameRecords(batch, frame); });
}

void JournalWriter::writeLines(const std::vector<QByteArray> &records) const
{
    write([&records](QByteArray &batch) {
        for (const QByteArray &line : records) {
            const qsizetype start = batch.size();
            batch.append(line);
            endLine(batch, start);
        }
    });
}

std::vector<QByteArray> JournalWriter::eventRecords(const WorkspaceEvent &event)
{
    QByteArray batch;
    addEventRecords(batch, event);
    return splitLines(batch);
}

std::vector<QByteArray> JournalWriter::frameRecords(const QByteArray &frame) const
{
    QByteArray batch;
    addFrameRecords(batch, frame);
    return splitLines(batch);
}

void JournalWriter::addEventRecords(QByteArray &batch, const WorkspaceEvent &event)
{
    QByteArray encoded = event.encode();
    if (encoded.size() > journal::kRecordLimit)
        throw HubError::fixed("Workspace frame exceeds 16 MiB.");
    if (encoded.size() < journal::kChunkThreshold) {
        const qsizetype start = batch.size();
        batch.append(encoded);
        endLine(batch, start);
        return;
    }
    const QByteArray base64 = encoded.toBase64();
    encoded.clear();
    const qsizetype count = (base64.size() + journal::kEventPiece - 1) / journal::kEventPiece;
    if (count > journal::kMaxPieces)
        throw HubError::fixed("Frame exceeds the bounded journal batch capacity.");
    const QByteArray setID = newIDBytes();
    const QByteArray head = recordHead(event.timestamp, event.appID, event.tenantID, "frame.chunk");
    batch.reserve(batch.size() + base64.size() + count * (head.size() + 160));
    // 10000 is a multiple of 4: every piece is valid Base64 by itself, and only the last can carry
    // padding.
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype at = i * journal::kEventPiece;
        addChunkRecord(batch, head, true, setID, i, count,
                       QByteArrayView(base64).sliced(at, std::min(journal::kEventPiece, base64.size() - at)));
    }
}

void JournalWriter::addFrameRecords(QByteArray &batch, const QByteArray &frame) const
{
    if (frame.size() > journal::kRecordLimit)
        throw HubError::fixed("Frame exceeds journal reassembly capacity.");
    const QString timestamp = WorkspaceEvent::now();
    const std::string_view bytes(frame.constData(), size_t(frame.size()));
    if (frame.size() <= journal::kFrameSlice) {
        const qsizetype start = batch.size();
        batch.append("{\"id\":\"");
        batch.append(newIDBytes());
        batch.append(recordHead(timestamp, m_appID, m_tenantID, "session.frame"));
        batch.append("\"frame\":");
        if (utf8::isWellFormed(bytes)) {
            json::appendQuoted(batch, bytes);
        } else {
            QByteArray text;
            utf8::appendWellFormed(text, bytes);
            json::appendQuoted(batch, std::string_view(text.constData(), size_t(text.size())));
        }
        batch.append("}}\n");
        // Decided by the encoded line, not by the frame's size: JSON escaping can take a frame of
        // 7000 bytes to about 42000, and such a line would fail on every attempt. Slices are Base64
        // and never need escaping, so the chunked form always fits.
        if (batch.size() - start <= journal::kLineLimit)
            return;
        batch.truncate(start);
    }
    const QByteArray setID = newIDBytes();
    const QByteArray head = recordHead(timestamp, m_appID, m_tenantID, "session.frame.chunk");
    const qsizetype count = (frame.size() + journal::kFrameSlice - 1) / journal::kFrameSlice;
    batch.reserve(batch.size() + (frame.size() + 2) / 3 * 4 + count * (head.size() + 160));
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype at = i * journal::kFrameSlice;
        const QByteArray slice =
            QByteArray::fromRawData(frame.constData() + at, std::min(journal::kFrameSlice, frame.size() - at))
                .toBase64();
        addChunkRecord(batch, head, false, setID, i, count, slice);
    }
}

void JournalWriter::writeBatch(const QByteArray &batch) const
{
    if (batch.size() > journal::kJournalLimit)
        throw HubError::fixed("Frame batch exceeds journal capacity.");

    ScopedFileLock lock(m_folder.lockDescriptor(), LOCK_EX);
    // The status the opening checked: the same descriptor cannot fail to tell it again.
    struct stat st
    {
    };
    ScopedFd fd(m_folder.descriptor(&st));

    // A write that failed half way leaves a line without its line feed; a batch glued to it would
    // be lost with it, so the batch then starts by ending that damaged line. Read on every batch:
    // another process may have emptied and refilled the file to any size since this one wrote.
    bool endDamagedLine = false;
    if (st.st_size > 0) {
        char last = '\n';
        ssize_t n;
        do {
            n = ::pread(fd.get(), &last, 1, st.st_size - 1);
        } while (n < 0 && errno == EINTR);
        if (n != 1)
            throw HubError::fixed("Cannot inspect event journal.");
        endDamagedLine = last != '\n';
    }

    if (qint64(st.st_size) + (endDamagedLine ? 1 : 0) + batch.size() > journal::kJournalLimit) {
        if (!m_folder.rotate())
            throw HubError::fixed("Cannot rotate bounded journal.");
        fd.reset();
        fd.reset(m_folder.descriptor());
        endDamagedLine = false;
    }

    const auto writeAll = [&fd](const char *data, qsizetype left) {
        while (left > 0) {
            const ssize_t n = ::write(fd.get(), data, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw HubError::fixed("Cannot append workspace event.");
            data += n;
            left -= n;
        }
    };
    if (endDamagedLine)
        writeAll("\n", 1);
    writeAll(batch.constData(), batch.size());
}
