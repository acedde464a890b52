// Start-up and the half-second poll loop of the journal.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "session/JournalInterrupt.h"

namespace
{
// The pause between the end of one pass and the start of the next.
constexpr std::chrono::milliseconds kPollPause{500};
// Pending inputs of an active session are asked for at most this often.
constexpr qint64 kPendingSpacingSeconds = 2;
} // namespace

QCoro::Task<void> HubModel::start(CancelToken cancel)
{
    QPointer self(this);
    std::optional<HubConfiguration> configuration;
    try {
        setLayout(HubLayout::load());
        configuration.emplace(HubConfiguration::configuredEnvironment());
    } catch (const std::exception &error) {
        setMessage(errorDescription(error));
        co_return;
    }
    setConfiguration(configuration);
    // The journal belongs to a workspace: hydration opens it.
    setLog(nullptr);

    std::optional<CognitoLogin::Tokens> restored;
    try {
        restored = co_await m_login.restore(*configuration, cancel);
    } catch (const std::exception &) {
        // Counts as no stored sign-in.
    }
    if (!self || cancel.cancelled())
        co_return;
    std::optional<QString> hydrationFailure;
    if (restored && restored->identityToken) {
        setToken(restored->accessToken);
        setIdentityToken(restored->identityToken);
        try {
            co_await hydrateIdentity(*restored->identityToken, true, std::nullopt, cancel);
        } catch (const std::exception &error) {
            if (!self || cancel.cancelled())
                co_return;
            setToken(std::nullopt);
            setIdentityToken(std::nullopt);
            hydrationFailure = errorDescription(error);
        }
        if (!self || cancel.cancelled())
            co_return;
    }
    m_connectedAt = m_clock.now();
    // A failed hydration keeps its sentence on screen: the user is signed out and must learn why.
    setMessage(hydrationFailure.value_or(QStringLiteral("Your Tavrilo workspace is ready.")));
    if (const std::shared_ptr<WorkspaceLog> log = m_log) {
        // Named first: GCC 12 cannot keep an initializer list alive across a co_await.
        EventPayload connected{{QStringLiteral("client"), QStringLiteral("macos")},
                               {QStringLiteral("root"), configuration->root}};
        // Shown, and the loop still starts: like a failed read, a failed record must not leave the
        // window deaf to other clients' stops, its pending inputs and its ledger.
        co_await reportingFailure(log->append(QStringLiteral("workspace.connected"), std::move(connected)));
        if (!self)
            co_return;
    }

    while (!cancel.cancelled()) {
        co_await pollPass(cancel);
        if (!self)
            co_return;
        if (!co_await reportingFailure(m_clock.sleep(kPollPause, cancel)))
            co_return;
    }
}

QCoro::Task<void> HubModel::pollPass(CancelToken cancel)
{
    QPointer self(this);
    std::vector<WorkspaceEvent> events;
    if (const std::shared_ptr<WorkspaceLog> log = m_log) {
        // A failed read is shown and the next pass reads again: stops of other clients, pending inputs
        // and the ledger must not go quiet for the rest of the window's life.
        QString problem;
        try {
            JournalDeltas deltas = co_await log->readDeltas();
            if (!self)
                co_return;
            events = std::move(deltas.events);
            if (!deltas.problems.isEmpty())
                problem = deltas.problems.last();
        } catch (const std::exception &error) {
            if (!self)
                co_return;
            problem = errorDescription(error);
        }
        if (!problem.isEmpty() && problem != m_shownJournalProblem)
            setMessage(problem);
        m_shownJournalProblem = problem;
    }

    for (const WorkspaceEvent &event : events) {
        if (cancel.cancelled())
            co_return;
        // The running flag, session id and connection time are read afresh: a stop mirrored for an
        // earlier event of this pass has changed them.
        if (!mergeEvent(event) || !m_running || !journalinterrupt::mirrors(event, m_connectedAt, m_sessionID))
            continue;
        setRunning(false);
        ++m_generation;
        co_await reportingFailure(invoke(QStringLiteral("interrupt")));
        if (!self)
            co_return;
    }

    const QDateTime now = m_clock.now();
    if (m_activeSessionID && !m_closingSession && now >= m_nextPendingRefresh) {
        m_nextPendingRefresh = now.addSecs(kPendingSpacingSeconds);
        co_await reportingFailure(refreshPendingInputs());
        if (!self)
            co_return;
    }
    beginLedgerRefresh(false);
}

QCoro::Task<bool> HubModel::reportingFailure(QCoro::Task<void> work)
{
    QPointer self(this);
    try {
        co_await std::move(work);
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
        co_return false;
    }
    co_return bool(self);
}
