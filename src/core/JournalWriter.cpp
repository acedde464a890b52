#include "core/JournalWriter.h"

#include "core/HubError.h"
#include "core/JournalLimits.h"

#include <cerrno>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
HubError failure(const char *sentence)
{
    return HubError(QString::fromLatin1(sentence));
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
{
}

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
    const QByteArray base64 = encoded.toBase64();
    encoded.clear();
    const qsizetype count = (base64.size() + journal::kEventPiece - 1) / journal::kEventPiece;
    if (count > journal::kMaxPieces)
        throw failure("Frame exceeds the bounded journal batch capacity.");
    const QString setID = WorkspaceEvent::newID();
    const QString total = QString::number(count);
    records.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray piece = base64.mid(i * journal::kEventPiece, journal::kEventPiece);
        records.push_back(record(WorkspaceEvent::newID(), event.timestamp, event.appID, event.tenantID,
                                 QStringLiteral("frame.chunk"),
                                 {{QStringLiteral("frame_id"), setID},
                                  {QStringLiteral("index"), QString::number(i)},
                                  {QStringLiteral("count"), total},
                                  {QStringLiteral("data"), QString::fromLatin1(piece)}})
                              .encode());
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
        QByteArray line = record(WorkspaceEvent::newID(), timestamp, m_appID, m_tenantID, QStringLiteral("session.frame"),
                                 {{QStringLiteral("frame"), QString::fromUtf8(frame)}})
                              .encode();
        // Decided by the encoded line, not by the frame's size: JSON escaping can take a frame of
        // 7000 bytes to about 42000, and such a line would fail on every attempt. Slices are Base64
        // and never need escaping, so the chunked form always fits.
        if (line.size() + 1 <= journal::kLineLimit) {
            records.push_back(std::move(line));
            return records;
        }
    }
    const QString setID = WorkspaceEvent::newID();
    const qsizetype count = (frame.size() + journal::kFrameSlice - 1) / journal::kFrameSlice;
    const QString total = QString::number(count);
    records.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray slice = QByteArray::fromRawData(frame.constData() + i * journal::kFrameSlice,
                                                         std::min(journal::kFrameSlice, frame.size() - i * journal::kFrameSlice));
        records.push_back(record(WorkspaceEvent::newID(), timestamp, m_appID, m_tenantID,
                                 QStringLiteral("session.frame.chunk"),
                                 {{QStringLiteral("id"), setID},
                                  {QStringLiteral("index"), QString::number(i)},
                                  {QStringLiteral("total"), total},
                                  {QStringLiteral("data"), QString::fromLatin1(slice.toBase64())}})
                              .encode());
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
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0)
        throw failure("Cannot inspect event journal.");

    // A write that failed half way leaves a line without its line feed; a batch glued to it would be
    // lost with it, so the batch then starts by ending that damaged line.
    bool endDamagedLine = false;
    if (st.st_size > 0) {
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
}
