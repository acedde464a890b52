#pragma once

#include "core/WorkspaceEvent.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Decodes one journal line into a `WorkspaceEvent` with exactly the result of
// `WorkspaceEvent::decode(json::tryParse(line))`, faster: lines of the shape writers
// produce (an object of strings with a "payload" object of strings) are decoded in one pass without
// building a JSON document; every other line goes to the general parser, which decides.
//
// A decoder keeps the texts that repeat from line to line (the application and tenant ids, kinds,
// payload keys, the timestamp of the same second) and hands out shared copies of them rather than
// allocating each anew: on a journal of small events that is most of the reading time.
class JournalLineDecoder
{
public:
    JournalLineDecoder();
    // `appID` and `tenantID` are the values most lines carry.
    JournalLineDecoder(const QString &appID, const QString &tenantID);

    std::optional<WorkspaceEvent> decode(std::string_view line);

    enum class Outcome { Event, NotRecord, General };
    // The one-pass path alone: General when the line is not of the simple shape (numbers, nesting,
    // literals, syntax errors, ill-formed text), so that only the general parser judges it.
    Outcome decodeSimple(std::string_view line, WorkspaceEvent &out);

private:
    struct Entry
    {
        std::string utf8;
        QString text;
        // For a payload key: its value in the last line that had it, which the next line often
        // repeats (the agent, a status).
        std::string lastValue;
        QString lastValueText;
    };
    // The cache entry of a short text, added when missing; nullptr for a text too long to keep.
    // Valid until the next call.
    Entry *entry(std::string_view utf8);
    QString shared(std::string_view utf8);

    // Short texts seen recently; a small ring searched linearly (short texts, few distinct).
    std::vector<Entry> m_cache;
    size_t m_next = 0;
    std::string m_lastTimestamp;
    QString m_lastTimestampText;
};
