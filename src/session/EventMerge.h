#pragma once

#include "core/HubConfiguration.h"
#include "core/WorkspaceEvent.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The rules by which a workspace event enters the session model: whose events are taken, which
// repeats are dropped, and which kinds end a turn or touch the gates.
namespace eventmerge
{
// Ids remembered for de-duplication, and events kept for the window.
inline constexpr qsizetype kRememberedIDs = 4096;
inline constexpr qsizetype kKeptEvents = 200;

// The filters before de-duplication, in order: a configuration is set; the event carries its
// application and workspace; an event that is no "command." and has a payload names no other
// session ("session_id", else "sessionId").
bool admits(const WorkspaceEvent &event, const std::optional<HubConfiguration> &configuration,
            const QString &sessionID);

// "done", "turn_end", "turn_completed" and "error".
bool endsTurn(const QString &kind);
// The kinds after which a pending-input answer asked for earlier is stale: tool and hook activity,
// verification, turn ends, errors and the live browser.
bool touchesGates(const QString &kind);
// The team revision a "metadata" event announces: for the "tavrilo-team" bundle, 64 lower-case
// hexadecimal digits; nothing otherwise.
std::optional<QString> announcedTeamRevision(const WorkspaceEvent &event);

// The ids of the last kRememberedIDs merged events, oldest first, with a set for lookups: the two
// always hold the same ids, each once.
class EventIdRing
{
public:
    // Remembers `id` and returns true, forgetting the oldest id past the cap; false, changing
    // nothing, when `id` is remembered already.
    bool insert(const QString &id);
    bool contains(const QString &id) const { return m_ids.contains(id); }
    qsizetype size() const { return m_order.size(); }

private:
    QSet<QString> m_ids;
    QList<QString> m_order;
};
} // namespace eventmerge
