// The smallest forms of three operations that project selection and answer delivery rely on: the
// verified token, the session close and forgetting the persisted ledger. They do only what those
// callers need of them; identity renewal, the runtime session's stop and the ledger's refresh task
// belong to the full forms that replace this file.
#include "session/HubModel.h"

#include "core/HubError.h"

QCoro::Task<QString> HubModel::currentVerifiedToken(CancelToken cancel)
{
    cancel.throwIfCancelled();
    if (!m_identityToken)
        throw HubError(QStringLiteral("Sign in before using workspace controls."));
    // A copy: QCoro 0.8 moves from a non-const lvalue that is co_returned, which would empty the model's token.
    const QString token = *m_identityToken;
    co_return token;
}

QCoro::Task<void> HubModel::closeSession()
{
    QPointer self(this);
    ++m_projectSelectionGeneration;
    setChangesShuttingDown(true);
    setClosingSession(true);
    if (const Job opening = m_projectOpenTask; opening.isValid()) {
        opening.cancel();
        co_await opening.finished();
        if (!self)
            throw CancelledError();
    }
    // Not cancelled: the companion's deadline bounds the read.
    if (const Job reading = m_changesReadTask; reading.isValid()) {
        co_await reading.finished();
        if (!self)
            throw CancelledError();
    }
    setClosingSession(false);
}

void HubModel::clearPersistedLedger()
{
    advanceLedgerGeneration();
    setPersistedWorkspaceUsage(std::nullopt);
    setPersistedSessionUsage(std::nullopt);
    setPersistedSessionUsagePending(true);
    setNextLedgerRefresh(distantPast());
}
