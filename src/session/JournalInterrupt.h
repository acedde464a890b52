#pragma once

#include "core/WorkspaceEvent.h"

#include <QDateTime>
#include <QString>

#include <optional>

// Which stops written into the shared journal by another client this window follows.
namespace journalinterrupt
{
// An internet date-time: "YYYY-MM-DDTHH:MM:SS", optionally a fraction of 1 to 9 digits, then "Z"
// or an offset "+HH:MM" / "-HH:MM". A time without a zone names no instant and is not accepted;
// nor is any other text.
std::optional<QDateTime> parseTimestamp(const QString &text);

// Whether a merged journal event is a stop of the running turn that this window must mirror: a
// "command.interrupt" stamped at or after `connectedAt` whose payload is empty, or which another
// client than this platform's ("macos") wrote and which names no other session than `sessionID`.
bool mirrors(const WorkspaceEvent &event, const QDateTime &connectedAt, const QString &sessionID);
} // namespace journalinterrupt
