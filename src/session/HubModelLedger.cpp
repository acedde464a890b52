// The persisted usage ledger: the spaced refresh of the workspace's and the session's usage
// summaries, what drops an answer that arrives too late, and the labels made from them.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "session/LedgerLabels.h"

namespace
{
const QString kUsageQuery = QStringLiteral(
    "query NativeCustomerUsage($period: String!, $tenantId: String, $sessionId: ID) { getUsageSummary(period: "
    "$period, tenantId: $tenantId, sessionId: $sessionId) { tenantId sessionId period totalInputTokens "
    "totalOutputTokens totalTokens unknownUsageRecords estimatedCostAmount estimatedCostCurrency unknownCostRecords "
    "pendingUsageRecords sessionLedgerReady agents { agentId unattributed recordCount totalInputTokens "
    "totalOutputTokens totalTokens totalCostCents estimatedCostAmount estimatedCostCurrency unknownCostRecords "
    "unknownUsageRecords } } }");

// Unforced refreshes start at most this often.
constexpr qint64 kLedgerSpacingSeconds = 15;
} // namespace

void HubModel::beginLedgerRefresh(bool force)
{
    if (m_closingSession || (!force && m_changesShuttingDown) || !controlsConnected())
        return;
    if (!m_configuration || m_configuration->tenantID.isEmpty() || m_ledgerTask.isValid())
        return;
    const QDateTime now = m_clock.now();
    if (!force && now < m_nextLedgerRefresh)
        return;
    setNextLedgerRefresh(now.addSecs(kLedgerSpacingSeconds));
    const quint64 serial = ++m_ledgerTaskSerial;
    Job job = Job::start([model = QPointer(this), serial](CancelToken token) -> QCoro::Task<void> {
        if (!model)
            co_return;
        co_await model->refreshPersistedLedger(token);
        if (model && model->m_ledgerTaskSerial == serial)
            model->setLedgerTask({});
    });
    // A refresh with nothing to do has ended already and is not kept.
    if (!job.isFinished())
        setLedgerTask(std::move(job));
}

void HubModel::clearPersistedLedger()
{
    advanceLedgerGeneration();
    // Not taken out: the handle stays until the task itself ends, so no second refresh starts before
    // the cancelled one is over.
    m_ledgerTask.cancel();
    setPersistedWorkspaceUsage(std::nullopt);
    setPersistedSessionUsage(std::nullopt);
    setPersistedSessionUsagePending(true);
    setNextLedgerRefresh(distantPast());
}

QCoro::Task<void> HubModel::stopLedgerRefresh()
{
    const Job task = m_ledgerTask;
    if (!task.isValid())
        co_return;
    QPointer self(this);
    task.cancel();
    co_await task.finished();
    if (self && m_ledgerTask == task)
        setLedgerTask({});
}

QCoro::Task<void> HubModel::refreshPersistedLedger(CancelToken cancel)
{
    if (!m_configuration || m_configuration->tenantID.isEmpty() || !m_identityToken)
        co_return;
    const HubConfiguration configuration = *m_configuration;
    const qint64 generation = m_ledgerGeneration;
    const QString session = m_sessionID;
    const QString user = m_userID;
    QPointer self(this);
    // An answer counts only for the user, workspace, session and ledger generation it was asked for.
    const auto current = [&] {
        return self && !cancel.cancelled() && !m_closingSession && m_ledgerGeneration == generation &&
               m_configuration && m_configuration->tenantID == configuration.tenantID && m_sessionID == session &&
               m_userID == user;
    };
    bool workspaceStored = false;
    try {
        co_await refreshIdentityIfNeeded(cancel);
        if (!self)
            co_return;
        if (!m_identityToken)
            throw HubError(QStringLiteral("Sign in before using workspace controls."));
        const QString token = *m_identityToken;
        if (!current())
            co_return;
        NativeLedgerUsage workspace = co_await readPersistedUsage(configuration, token, std::nullopt, cancel);
        if (!current())
            co_return;
        if (workspace.tenantId != configuration.tenantID || workspace.sessionId)
            throw HubError(QStringLiteral("The persisted usage workspace could not be confirmed."));
        setPersistedWorkspaceUsage(std::move(workspace));
        workspaceStored = true;
        NativeLedgerUsage sessionUsage = co_await readPersistedUsage(configuration, token, session, cancel);
        if (!current())
            co_return;
        if (sessionUsage.tenantId != configuration.tenantID || !sessionUsage.sessionId ||
            sessionUsage.sessionId->isEmpty())
            throw HubError(QStringLiteral("The persisted usage session could not be confirmed."));
        const bool ready = sessionUsage.sessionLedgerReady;
        setPersistedSessionUsage(std::move(sessionUsage));
        setPersistedSessionUsagePending(!ready);
    } catch (...) {
        // No failure reaches the status line: the labels show what is left.
        if (!current())
            co_return;
        if (!workspaceStored)
            setPersistedWorkspaceUsage(std::nullopt);
        setPersistedSessionUsage(std::nullopt);
        setPersistedSessionUsagePending(true);
    }
}

QCoro::Task<NativeLedgerUsage> HubModel::readPersistedUsage(HubConfiguration configuration, QString token,
                                                            std::optional<QString> session, CancelToken cancel)
{
    cancel.throwIfCancelled();
    const Json variables{{"period", ""},
                         {"tenantId", json::toStd(configuration.tenantID)},
                         {"sessionId", session ? Json(json::toStd(*session)) : Json()}};
    const Json data = co_await NativeLive::graphql(kUsageQuery, variables, configuration, token, cancel);
    cancel.throwIfCancelled();
    const auto summary = data.find("getUsageSummary");
    if (summary == data.end() || !summary->is_object())
        throw HubError(QStringLiteral("Persisted Tavrilo usage is unavailable."));
    NativeLedgerUsage usage = NativeLedgerUsage::decode(*summary);
    if (!usage.valid())
        throw HubError(QStringLiteral("Persisted Tavrilo usage could not be confirmed."));
    co_return usage;
}

QString HubModel::workspaceLedgerLabel() const
{
    return ledgerlabels::workspaceLabel(
        {controlsConnected(), m_persistedWorkspaceUsage, m_persistedSessionUsage, m_persistedSessionUsagePending});
}

QString HubModel::sessionLedgerLabel() const
{
    return ledgerlabels::sessionLabel(
        {controlsConnected(), m_persistedWorkspaceUsage, m_persistedSessionUsage, m_persistedSessionUsagePending});
}

QString HubModel::persistedCostLabel() const
{
    return ledgerlabels::costLabel(
        {controlsConnected(), m_persistedWorkspaceUsage, m_persistedSessionUsage, m_persistedSessionUsagePending});
}

std::optional<QString> HubModel::unattributedLedgerLabel() const
{
    return ledgerlabels::unattributedLabel(m_persistedSessionUsage);
}

std::optional<QString> HubModel::pendingAttributionLabel() const
{
    return ledgerlabels::pendingAttributionLabel(m_persistedSessionUsage);
}

std::optional<NativeAgentLedgerUsage> HubModel::persistedAgentUsage(const std::optional<QString> &agentID) const
{
    return ledgerlabels::agentUsage(m_persistedSessionUsage, agentID);
}

QString HubModel::persistedAgentHelp(const QString &agentID) const
{
    // The live line names the specialist without its role prefix ("tavrilo_").
    return ledgerlabels::agentHelp(persistedAgentUsage(agentID), usageLabel(agentID.mid(8)));
}

Json HubModel::ledgerCaptureEvidence() const
{
    return ledgerlabels::captureEvidence(m_persistedWorkspaceUsage, m_persistedSessionUsage,
                                         m_persistedSessionUsagePending);
}
