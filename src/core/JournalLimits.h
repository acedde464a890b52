#pragma once

#include <QtGlobal>

// The fixed sizes of the event journal's format; writers and readers share
// them, and they fit together: the largest event (16 MiB) needs 2237 pieces and the largest frame
// (16 MiB) 2397 slices, both within 2400 pieces, and either batch within 24 MiB.
namespace journal
{
// A line with its line feed, and the most an incomplete line may hold between reads.
inline constexpr qsizetype kLineLimit = 16384;
// An event whose encoding is this long or longer is cut into "frame.chunk" records.
inline constexpr qsizetype kChunkThreshold = 15360;
// The largest event encoding, stored frame and reassembled chunk set.
inline constexpr qsizetype kRecordLimit = 16777216;
// Rotation size of "events.jsonl", the largest batch and the most one read call consumes.
inline constexpr qint64 kJournalLimit = 25165824;
// Base64 characters per "frame.chunk" piece (a multiple of 4, so every piece decodes by itself).
inline constexpr qsizetype kEventPiece = 10000;
// Frame bytes per "session.frame.chunk" slice, and the largest frame stored as one record.
inline constexpr qsizetype kFrameSlice = 7000;
// Pieces of one chunk set, open chunk sets, and decoded bytes held by all of them together.
inline constexpr int kMaxPieces = 2400;
inline constexpr int kMaxOpenSets = 8;
inline constexpr qint64 kFragmentMemory = 33554432;
// Read buffer of one read call.
inline constexpr qsizetype kReadBuffer = 1048576;
// Chunk sets are evicted this many seconds after their first piece.
inline constexpr int kFragmentSeconds = 60;
} // namespace journal
