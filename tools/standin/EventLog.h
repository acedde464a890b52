#pragma once

#include "core/Json.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <vector>

// The stand-in's append-only record of what it received and did. Entries are never changed or
// removed; readers keep a cursor (the index of the next entry they have not seen). A copy goes to
// a JSON-lines file in the state folder for people watching a demo.
class EventLog
{
public:
    explicit EventLog(const QString &filePath);

    // Adds "index" (its position) and "ms" (milliseconds since start) to `entry`; returns the index.
    qint64 append(Json entry);

    qint64 size() const { return qint64(m_entries.size()); }
    // Entries from index `from` on (none when `from` is at or past the end).
    Json since(qint64 from) const;

private:
    std::vector<Json> m_entries;
    QFile m_file;
    QElapsedTimer m_clock;
};
