// Event merging: the filters an event must pass and its effects on the model, in their fixed order.
#include "session/HubModel.h"

#include "core/PropertyNotify.h"
#include "session/ListRows.h"

bool HubModel::mergeEvent(const WorkspaceEvent &event)
{
    if (!eventmerge::admits(event, m_configuration, m_sessionID) || !m_mergedEventIDs.insert(event.id))
        return false;

    changeAndAnnounce(
        m_presence, [&](NativePresence &presence) { presence.consume(event.kind, event.payload); }, this,
        &HubModel::presenceChanged);
    // Before the turn-end test: a turn end that also reports who works still leaves no turn running.
    if (event.payload.contains(QStringLiteral("working")))
        setRunning(!m_presence.working.isEmpty());
    if (eventmerge::endsTurn(event.kind))
        setRunning(false);
    if (std::optional<QString> revision = eventmerge::announcedTeamRevision(event))
        setTeamRevision(std::move(revision));
    if (event.kind == QLatin1StringView("usage")) {
        if (const auto agent = event.payload.constFind(QStringLiteral("agent")); agent != event.payload.constEnd())
            changeAndAnnounce(
                m_usageByAgent, [&](UsageByAgent &usage) { usage[*agent].apply(event); }, this,
                &HubModel::usageByAgentChanged);
    }
    changeAndAnnounce(
        m_eventProjection, [&](EventProjection &projection) { projection.consume(event); }, this,
        &HubModel::eventProjectionChanged);
    // A pending-input answer asked for before this event is stale once it arrives.
    if (eventmerge::touchesGates(event.kind))
        advancePendingInputGeneration();
    // The journal strip takes the one new row and loses the oldest, never the whole list again.
    m_eventsModel.append(listrows::event(event));
    m_eventsModel.removeFront(m_eventsModel.count() - eventmerge::kKeptEvents);
    changeAndAnnounce(
        m_events,
        [&](QList<WorkspaceEvent> &events) {
            events.append(event);
            if (events.size() > eventmerge::kKeptEvents)
                events.remove(0, events.size() - eventmerge::kKeptEvents);
        },
        this, &HubModel::eventsChanged);
    return true;
}
