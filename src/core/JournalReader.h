#pragma once

#include "core/JournalFolder.h"
#include "core/JournalLineDecoder.h"
#include "core/WorkspaceEvent.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// What one read call returns: the records in file order, and the reading sentences for input
// that broke the reassembly rules or an over-long incomplete line. Those were dropped and reading
// went on, so a damaged piece never costs the good records around it; the caller shows the
// sentences where it shows errors.
struct JournalDeltas
{
    std::vector<WorkspaceEvent> events;
    QStringList problems;
};

// The reading side of the event journal, synchronous: `WorkspaceLog` runs it on its
// executor, the only place its state is touched.
class JournalReader
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `clock` dates chunk sets for their 60-second eviction; the steady clock when empty.
    JournalReader(JournalFolder folder, QString appID, QString tenantID, Clock clock = {});

    // The records appended since the previous call, filtered to the app and tenant, chunk sets
    // reassembled and stored frames projected. Throws the opening sentences of the journal (an
    // unreadable status among them) and "Cannot lock event log.", "Cannot seek event log.",
    // "Cannot read event deltas.".
    JournalDeltas readDeltas();

    // Collects one piece; the joined bytes when it completes its set. Throws the sentences of the
    // reassembly rules; a failed piece is not stored and the open sets stay as they are.
    std::optional<QByteArray> fragment(const QString &id, qint64 index, qint64 count, const QString &encoded);

    // A stored realtime session frame as an event, or nothing when it cannot be projected.
    std::optional<WorkspaceEvent> projectFrame(const QByteArray &frame) const;

    quint64 offset() const { return m_offset; }
    std::optional<quint64> inode() const { return m_inode; }
    qsizetype remainderSize() const { return m_remainder.size(); }
    int openFragments() const { return int(m_fragments.size()); }
    qint64 fragmentBytes() const { return m_fragmentBytes; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Fragment
    {
        TimePoint created;
        int count = 0;
        qint64 bytes = 0;
        std::map<int, QByteArray> parts;
    };

    enum class Failure { None, Invalid, TooMany, Metadata, Duplicate, Memory };
    struct Piece
    {
        Failure failure = Failure::None;
        std::optional<QByteArray> joined;
    };

    static QString sentence(Failure failure);
    Piece collect(const QString &id, qint64 index, qint64 count, const QString &encoded);
    void evictStale();
    void startOver();
    void dropSet(const QString &id);
    // Reads from `fd` (a file of `size` bytes) at its current position until end of file (true) or
    // until `budget` is spent.
    bool readFrom(int fd, qint64 size, qint64 &budget, char *buffer, JournalDeltas &out);
    static void reserveFor(JournalDeltas &out, size_t added, qint64 consumed, qint64 left);
    void consume(const char *data, qsizetype size, JournalDeltas &out);
    void handleLine(std::string_view line, JournalDeltas &out);
    void handlePiece(const EventPayload &payload, const QString &idKey, const QString &countKey, bool frame,
                     JournalDeltas &out);
    static void report(JournalDeltas &out, const QString &sentence);
    TimePoint now() const { return m_clock ? m_clock() : std::chrono::steady_clock::now(); }

    JournalFolder m_folder;
    QString m_appID;
    QString m_tenantID;
    Clock m_clock;

    quint64 m_offset = 0;
    std::optional<quint64> m_inode;
    QByteArray m_remainder;
    std::map<QString, Fragment> m_fragments;
    qint64 m_fragmentBytes = 0;
    // After an over-long incomplete line was discarded: the rest of that line, up to its line feed,
    // is discarded too rather than read as a line of its own.
    bool m_discarding = false;
    JournalLineDecoder m_decoder;
    // The read buffer, made on the first call and kept: one buffer of 1 MiB for every call.
    std::unique_ptr<char[]> m_buffer;
    // Sets dropped for conflicting pieces; their later pieces are dropped with them instead of
    // opening a set that can never complete. Bounded; emptied when reading starts over.
    std::deque<QString> m_droppedSets;
};
