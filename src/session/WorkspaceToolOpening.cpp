#include "session/WorkspaceToolOpening.h"

#include "core/HubError.h"

#include <QPointer>

namespace workspaceopening
{
namespace
{
// Binds the tools when a signed-in live session exists; otherwise shows `refusal`.
bool configure(Session *session, const QString &refusal)
{
    if (session->closingSession() || !session->activeSessionID() || !session->configuration() ||
        !session->identityToken()) {
        session->setMessage(refusal);
        return false;
    }
    session->configureDocuments(*session->configuration(), session->sessionID());
    return true;
}
} // namespace

QCoro::Task<void> openBrowser(Session *session, QObject *alive)
{
    if (!configure(session, QStringLiteral("Start a signed-in session before opening browser tools.")))
        co_return;
    const QPointer<QObject> self(alive);
    std::exception_ptr failure;
    try {
        co_await session->documents()->openBrowser();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && self)
        session->setMessage(errorDescription(failure));
}

QCoro::Task<void> openShell(Session *session, QObject *alive)
{
    if (!configure(session, QStringLiteral("Start a signed-in session before opening shell tools.")))
        co_return;
    const QPointer<QObject> self(alive);
    const QPointer<NativeDocuments> documents(session->documents());
    std::exception_ptr failure;
    try {
        co_await documents->openShell();
        // A shell that opened but failed its first resize stays open.
        if (self && documents)
            co_await documents->resize(kShellColumns, kShellRows);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && self)
        session->setMessage(errorDescription(failure));
}
} // namespace workspaceopening
