// Realtime frame intake: the one point where a live frame changes the model.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/ScopedCount.h"
#include "core/async/Spawn.h"
#include "session/EnsureCurrent.h"
#include "session/EventMerge.h"
#include "session/RunningTools.h"

namespace
{
bool endsTurnHere(const QString &kind)
{
    return kind == QLatin1StringView("done") || kind == QLatin1StringView("turn_end") ||
           kind == QLatin1StringView("turn_completed");
}

// A frame that asks for the pending inputs: an approval gate opened, or a verification decided.
bool touchesPendingInputs(const QString &kind, const Json &payload)
{
    if (kind == QLatin1StringView("hook"))
        return json::string(payload, "phase") == QLatin1StringView("approval_pending");
    return kind == QLatin1StringView("verify") && payload.contains("decision");
}

// The event payload: the frame's own, with the agent, this model's session and the turn set.
Json eventPayload(const Json &frame, const QString &session)
{
    const auto own = frame.find("payload");
    Json payload = own != frame.end() && own->is_object() ? *own : Json::object();
    if (const auto agent = frame.find("agent"); agent != frame.end())
        payload["agent"] = *agent;
    else
        payload.erase("agent");
    payload["session_id"] = json::toStd(session);
    if (const auto turn = json::string(frame, "turnId"))
        payload["turnId"] = json::toStd(*turn);
    return payload;
}
} // namespace

QCoro::Task<void> HubModel::receiveFrame(Json frame, CancelToken cancel)
{
    // A frame that arrives while the session closes is kept, merged and journaled, so the journal of
    // a stopped turn holds its last frames; but it acts on nothing (no pending-input query, no project
    // call), and the close does not wait for it.
    const bool recordOnly = m_closingSession;
    std::optional<ScopedCount> invocation;
    if (!recordOnly)
        invocation.emplace(this, [this](int delta) { changeActiveInvocations(delta); });
    QPointer self(this);
    const std::optional<QString> kindText = json::string(frame, "kind");
    if (!m_configuration || !m_identityToken || !kindText)
        co_return;
    const QString kind = *kindText;
    const HubConfiguration configuration = *m_configuration;
    const Json payload = eventPayload(frame, m_sessionID);
    const QString agent = json::string(frame, "agent").value_or(QString());

    // Running tool calls, before the merge: a repeated frame still keeps them right.
    runningtools::Outcome tools = runningtools::afterFrame(m_activeTools, kind, payload, agent);
    if (!(tools.tools == m_activeTools))
        setActiveTools(std::move(tools.tools));
    if (tools.ended.contains(m_selectedSkipID))
        setSelectedSkipID({});

    const EventPayload text = WorkspaceEvent::stringPayload(payload);
    Json copy = frame;
    copy["tenantId"] = json::toStd(configuration.tenantID);
    copy["sessionId"] = json::toStd(m_sessionID);
    WorkspaceEvent event;
    event.id = WorkspaceEvent::projectionID(copy, WorkspaceEvent::newID());
    event.timestamp = json::string(frame, "ts").value_or(m_clock.now().toUTC().toString(Qt::ISODate));
    event.appID = configuration.appID;
    event.tenantID = configuration.tenantID;
    event.kind = kind;
    event.payload = text;
    // Only a new event is journaled: a repeated frame is already there, once.
    if (mergeEvent(event)) {
        if (const std::shared_ptr<WorkspaceLog> log = m_log) {
            copy["journalEventId"] = json::toStd(event.id);
            co_await log->appendFrame(std::move(copy));
            ensureCurrent(self);
        }
    }

    if (!recordOnly && touchesPendingInputs(kind, payload)) {
        co_await refreshPendingInputs();
        ensureCurrent(self);
    }
    if (kind == QLatin1StringView("project_call") && !recordOnly && !m_closingSession && !cancel.cancelled()) {
        co_await handleProjectCall(frame, payload, configuration, cancel);
        ensureCurrent(self);
    }
    if (endsTurnHere(kind)) {
        setRunning(false);
        setActiveTools({});
        setSelectedSkipID({});
        // The turn's changes are read afresh, with the selection as it is when the read starts. Not
        // awaited: the frame does not wait for the companion, whose read is the model's own task.
        QMetaObject::invokeMethod(
            this,
            [this] {
                spawn(this, refreshChanges(m_selectedChangePath),
                      [this](QString sentence) { setMessage(std::move(sentence)); });
            },
            Qt::QueuedConnection);
    }
    if (kind == QLatin1StringView("browser_live_view")) {
        const auto available = payload.find("available");
        if (available != payload.end() && available->is_boolean()) {
            setBrowserSessionPresent(available->get<bool>());
            if (!available->get<bool>()) {
                m_documents.invalidateBrowser();
                setBrowserHolder(QStringLiteral("agent"));
            }
        }
    }
    if (endsTurnHere(kind)) {
        setBrowserSessionPresent(false);
        setBrowserHolder(QStringLiteral("agent"));
        m_documents.invalidateBrowser();
    }
    if (kind == QLatin1StringView("transport_error"))
        setMessage(text.value(QStringLiteral("message"), QStringLiteral("Realtime connection lost.")));
}
