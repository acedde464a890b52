// A turn: its start from the task text, the live start on the platform, and the frames that reach
// the model while it runs.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/ScopedCount.h"
#include "core/ScopedFlag.h"
#include "session/EnsureCurrent.h"

#include <QUuid>

namespace
{
const QString kStartMutation = QStringLiteral(
    "mutation NativeStart($input: StartLiveTurnInput!) { startLiveTurn(input: $input) { sessionId tenantId accepted "
    "reason } }");
const QString kStopped = QStringLiteral("Runtime session stopped.");

// A stop, an interrupt or a session close has come while the turn's start was being prepared.
void throwIfStopped(qint64 generation, qint64 expected)
{
    if (generation != expected)
        throw HubError(kStopped);
}
} // namespace

QCoro::Task<void> HubModel::execute()
{
    if (m_running || m_requestInFlight || m_closingSession || m_projectOpening)
        co_return;
    // Marked before the first wait: a second press of Run that arrives while this one waits finds
    // a start on its way and sends no second (billed) start.
    const ScopedFlag requestInFlight(this, m_requestInFlight);
    QPointer self(this);
    // Every step of the preparation looks at the generation when it has waited: a stop that came
    // meanwhile found no session to close yet, and the start must not go out after it.
    const qint64 pressed = m_generation;
    try {
        co_await refreshIdentityIfNeeded();
        ensureCurrent(self);
        throwIfStopped(m_generation, pressed);
        if (!controlsConnected())
            throw HubError(
                QStringLiteral("Sign in to the configured platform control API before starting a billable session."));
        if (m_prompt.trimmed().isEmpty())
            throw HubError(QStringLiteral("Enter a task."));
        co_await closePreviousSession();
        ensureCurrent(self);
        throwIfStopped(m_generation, pressed);
        const qint64 turn = ++m_generation;
        if (const std::shared_ptr<NativeProjectHands> hands = m_hands) {
            co_await hands->beginTurn();
            ensureCurrent(self);
            throwIfStopped(m_generation, turn);
        }
        if (!m_configuration)
            throw HubError(QStringLiteral("Select an authenticated project."));
        HubConfiguration configuration = *m_configuration;
        const HubConfiguration::CanonicalProject project = configuration.canonicalProject();
        configuration.root = project.root;
        setConfiguration(std::move(configuration));
        setChangesShuttingDown(false);
        if (project.sessionID != m_sessionID)
            clearPersistedLedger();
        setSessionID(project.sessionID);

        setRunning(true);
        resetSessionView(ViewReset::turn);
        setActiveSessionID(m_sessionID);
        co_await invoke(QStringLiteral("start"));
    } catch (const std::exception &error) {
        if (self) {
            setRunning(false);
            setMessage(errorDescription(error));
        }
    }
}

void HubModel::resetSessionView(ViewReset scope)
{
    if (scope == ViewReset::session) {
        setEvents({});
        m_mergedEventIDs = {};
        setUsageByAgent({});
        clearPersistedLedger();
        setTeamRevision(std::nullopt);
    }
    setPresence({});
    setAnsweredApprovalIDs({});
    m_answeredInputRequestIDs.clear();
    setEventProjection(EventProjection());
    advancePendingInputGeneration();
    setActiveTools({});
    setSelectedSkipID({});
}

QCoro::Task<void> HubModel::invoke(QString action)
{
    if (action == QLatin1StringView("interrupt")) {
        co_await closeSession();
        co_return;
    }
    if (action != QLatin1StringView("start") || m_closingSession || !m_configuration || !m_identityToken)
        throw HubError(QStringLiteral("Sign in and select a workspace before starting a turn."));
    const ScopedCount invocation(this, [this](int delta) { changeActiveInvocations(delta); });
    const ScopedFlag requestInFlight(this, m_requestInFlight);
    QPointer self(this);
    const HubConfiguration configuration = *m_configuration;
    const QString token = *m_identityToken;
    const QString session = m_sessionID;
    const qint64 turn = m_generation;

    TokenSource refreshToken = [model = QPointer(this), session, tenant = configuration.tenantID](CancelToken cancel) {
        return sessionToken(model, session, tenant, QStringLiteral("The realtime workspace changed."),
                            std::move(cancel));
    };
    RealtimeSubscription::FrameHandler onFrame = [model = QPointer(this), session](Json frame, CancelToken cancel) {
        return deliverFrame(model, session, std::move(frame), std::move(cancel));
    };
    // Subscribed first: the turn's first frames may follow the start at once.
    co_await m_live.connect(configuration, token, session, std::move(refreshToken), std::move(onFrame));
    ensureCurrent(self);
    if (m_generation != turn) {
        // Stopped before the start went out: nothing runs on the platform, so there is no session
        // for a close to stop.
        m_live.disconnect();
        if (m_activeSessionID == session)
            setActiveSessionID(std::nullopt);
        throw HubError(kStopped);
    }

    Json variables{{"input",
                    {{"sessionId", json::toStd(m_sessionID)},
                     {"text", json::toStd(m_prompt)},
                     {"requestId", json::toStd(QUuid::createUuid().toString(QUuid::WithoutBraces).toLower())},
                     {"handsId", json::toStd(m_handsID)}}}};
    const Json data = co_await NativeLive::graphql(kStartMutation, std::move(variables), configuration, token);
    ensureCurrent(self);
    const auto answer = data.find("startLiveTurn");
    const bool accepted =
        answer != data.end() && answer->is_object() && answer->value("accepted", Json()) == Json(true) &&
        json::string(*answer, "sessionId") == session && json::string(*answer, "tenantId") == configuration.tenantID;
    if (!accepted) {
        m_live.disconnect();
        const std::optional<QString> reason =
            answer != data.end() && answer->is_object() ? json::string(*answer, "reason") : std::nullopt;
        throw HubError(reason.value_or(QStringLiteral("Turn refused by platform.")));
    }
    // Stopped while the start was on its way: the session stays owned, and the close that waits for
    // this start stops it as soon as this call has ended.
    throwIfStopped(m_generation, turn);
    co_await refreshPendingInputs();
    ensureCurrent(self);
    throwIfStopped(m_generation, turn);
    setMessage(QStringLiteral("Specialists connected."));
}

QCoro::Task<void> HubModel::deliverFrame(QPointer<HubModel> model, QString session, Json frame, CancelToken cancel)
{
    // A frame that arrives while the session closes is handed over too: frame intake records it
    // without acting on it or holding the close open.
    if (!model || cancel.cancelled() || model->m_sessionID != session)
        co_return;
    co_await model->receiveFrame(std::move(frame), std::move(cancel));
}
