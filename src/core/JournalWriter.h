#pragma once

#include "core/JournalFolder.h"
#include "core/WorkspaceEvent.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The writing side of the event journal, synchronous: `WorkspaceLog` runs it on its executor, one
// call at a time. It keeps no journal state between calls: every batch opens the lock file and the
// journal afresh and checks the journal's last byte. Only its batch buffer is kept, so that the
// bytes of a large frame land in pages already touched.
class JournalWriter
{
public:
    JournalWriter(JournalFolder folder, QString appID, QString tenantID);

    // One event of the hub's own: new id, now, the configuration's app and tenant ids.
    void append(const QString &kind, const EventPayload &payload) const;
    // One line, or "frame.chunk" records when the encoding is 15360 bytes or more.
    void appendEvent(const WorkspaceEvent &event) const;
    // One raw session frame as "session.frame", or as "session.frame.chunk" records when it is over
    // 7000 bytes or when its "session.frame" line would be over the 16384-byte line limit.
    void appendFrame(const QByteArray &frame) const;
    // Appends the records, each with a line feed, as one batch under the exclusive lock, rotating
    // "events.jsonl" to "events.previous.jsonl" when the batch would take it over 24 MiB.
    void writeLines(const std::vector<QByteArray> &records) const;

    // The encoded records appendEvent and appendFrame write (no file access).
    static std::vector<QByteArray> eventRecords(const WorkspaceEvent &event);
    std::vector<QByteArray> frameRecords(const QByteArray &frame) const;

    const JournalFolder &folder() const { return m_folder; }

private:
    // Append the records of an event or a frame to `batch`, each followed by its line feed. Throw
    // the size sentences before anything is written.
    static void addEventRecords(QByteArray &batch, const WorkspaceEvent &event);
    void addFrameRecords(QByteArray &batch, const QByteArray &frame) const;
    // Builds a batch with `build(QByteArray &)` in the kept buffer and writes it.
    template <typename Build> void write(Build build) const;
    // Writes whole lines under the exclusive lock.
    void writeBatch(const QByteArray &batch) const;

    JournalFolder m_folder;
    QString m_appID;
    QString m_tenantID;
    mutable QByteArray m_batch;
};
