// Session close: the one road out of a session. Local work stops at once; a session started on the
// platform is stopped there by one clean-up task, which later closes join.
#include "session/HubModel.h"

#include "cloud/NativeControls.h"
#include "core/HubError.h"
#include "core/PropertyNotify.h"
#include "core/async/NextEmission.h"
#include "session/EnsureCurrent.h"

namespace
{
const QString kFailurePrefix = QStringLiteral("Session cleanup failed. Retry Stop or close. ");
} // namespace

QCoro::Task<void> HubModel::closeSession()
{
    // A turn whose start is being prepared is stopped too: the start sees the generation move at
    // its next step and goes no further (it sends no start, or leaves its session to this close).
    ++m_generation;
    return closePreviousSession();
}

QCoro::Task<void> HubModel::closePreviousSession()
{
    QPointer self(this);
    ++m_projectSelectionGeneration;
    setChangesShuttingDown(true);
    setClosingSession(true);
    if (const Job opening = m_projectOpenTask; opening.isValid()) {
        opening.cancel();
        co_await opening.finished();
        ensureCurrent(self);
    }
    co_await stopLedgerRefresh();
    ensureCurrent(self);
    if (const Job reading = m_changesReadTask; reading.isValid()) {
        co_await reading.finished();
        ensureCurrent(self);
    }

    if (const Job running = m_cleanupTask; running.isValid()) {
        // A clean-up of an earlier close is under way: this close ends as it ends.
        co_await running.finished();
        ensureCurrent(self);
        // That clean-up may have ended before this close marked the session closing.
        setClosingSession(false);
        if (running.error())
            std::rethrow_exception(running.error());
        co_return;
    }

    if (!m_activeSessionID) {
        setBrowserSessionPresent(false);
        setBrowserHolder(QStringLiteral("agent"));
        m_documents.invalidateBrowser();
        setClosingSession(false);
        co_return;
    }

    // Before any wait: a verification build of the session must not outlive the decision to stop.
    if (m_hands)
        m_hands->verificationGroup.cancel();
    setCleanupFailure(std::nullopt);
    setMessage(QStringLiteral("Stopping the runtime session before leaving\u2026"));
    const Job cleanup = Job::start([model = QPointer(this)](CancelToken) -> QCoro::Task<void> {
        if (!model)
            co_return;
        try {
            co_await model->cleanUpSession();
        } catch (...) {
            if (model)
                model->setClosingSession(false);
            throw;
        }
    });
    setCleanupTask(cleanup);
    co_await cleanup.finished();
    ensureCurrent(self);
    if (m_cleanupTask == cleanup)
        setCleanupTask({});
    if (const std::exception_ptr error = cleanup.error()) {
        const QString failure = kFailurePrefix + errorDescription(error);
        setCleanupFailure(failure);
        setMessage(failure);
        std::rethrow_exception(error);
    }
}

QCoro::Task<void> HubModel::cleanUpSession()
{
    QPointer self(this);
    if (const Job reading = m_changesReadTask; reading.isValid()) {
        co_await reading.finished();
        ensureCurrent(self);
    }
    // The stop goes out only once no turn start, pending-input refresh, frame handler or run control
    // is left that could still act on the session.
    while (m_activeInvocations >= 1 || m_controlInFlight) {
        // Named first: GCC 12 cannot keep an initializer list alive across a co_await in one expression.
        NextEmission<HubModel> settled(this, {&HubModel::activeInvocationsChanged, &HubModel::controlInFlightChanged});
        co_await std::move(settled);
        ensureCurrent(self);
    }

    if (!m_activeSessionID) {
        setClosingSession(false);
        co_return;
    }
    const QString session = *m_activeSessionID;
    if (!m_configuration || !m_identityToken)
        throw HubError(
            QStringLiteral("The active session requires its authenticated platform connection to stop safely."));
    const HubConfiguration configuration = *m_configuration;
    const QString tokenBefore = *m_identityToken;

    co_await refreshIdentityIfNeeded();
    ensureCurrent(self);
    configureDocuments(configuration, session);
    co_await m_documents.close();
    ensureCurrent(self);

    co_await NativeControls::execute(NativeControls::Command::stop(session), configuration,
                                     m_identityToken.value_or(tokenBefore));
    ensureCurrent(self);

    co_await m_live.disconnectAndWait();
    ensureCurrent(self);

    setActiveSessionID(std::nullopt);
    setRunning(false);
    setBrowserSessionPresent(false);
    setBrowserHolder(QStringLiteral("agent"));
    // The finished turn's positions, reasoning and answers stay on screen; its gates go.
    changeAndAnnounce(
        m_eventProjection, [](EventProjection &projection) { projection.clearPending(); }, this,
        &HubModel::eventProjectionChanged);
    advancePendingInputGeneration();
    setOperatorPaused(false);
    setActiveTools({});
    setSelectedSkipID({});
    // The generation moved when the close began: the late results of the stopped turn are dropped
    // since then.
    setMessage(QStringLiteral("Runtime session stopped."));
    setClosingSession(false);
}

void HubModel::setCleanupTask(Job task)
{
    m_cleanupTask = std::move(task);
    Q_EMIT hasOwnedCleanupChanged();
}

void HubModel::changeActiveInvocations(int delta)
{
    m_activeInvocations += delta;
    Q_EMIT activeInvocationsChanged();
}
