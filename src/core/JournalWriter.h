#pragma once

#include "core/JournalFolder.h"
#include "core/WorkspaceEvent.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The writing side of the event journal, synchronous: `WorkspaceLog` runs it on its
// executor. It keeps no state between calls; every batch opens the lock file and the journal afresh.
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
    JournalFolder m_folder;
    QString m_appID;
    QString m_tenantID;
    // Where this writer's last batch ended: when the journal is still that file at that size, its
    // last byte is that batch's line feed and need not be read back. Only a shortcut; the journal
    // itself is the state.
    mutable std::optional<std::pair<quint64, qint64>> m_lastEnd;
};
