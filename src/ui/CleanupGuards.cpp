#include "ui/CleanupGuards.h"

#include <QEvent>
#include <QWindow>

QuitGuard::Answer QuitGuard::requestQuit()
{
    const std::shared_ptr<SessionCleanup> model = m_model.lock();
    if (!model || !model->hasOwnedCleanup())
        return Answer::QuitNow;
    if (!m_terminationPending) {
        m_terminationPending = true;
        // The task holds the model and the guard's weak pointer; the model's own clean-up joins
        // any other caller's, so a quit during a close clean-up waits for the same work.
        m_cleanup = Job::start([self = QPointer<QuitGuard>(this), model](CancelToken) -> QCoro::Task<void> {
            const bool succeeded = co_await model->closeSession();
            if (!self)
                co_return;
            self->m_terminationPending = false;
            if (!succeeded)
                writeStandardErrorLine(blockedLine);
            Q_EMIT self->replied(succeeded);
        });
    }
    return Answer::QuitLater;
}

CloseGuard::CloseGuard(std::shared_ptr<SessionCleanup> model, QObject *parent)
    : QObject(parent), m_model(std::move(model))
{}

void CloseGuard::attach(QWindow *window)
{
    if (window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window)
        window->installEventFilter(this);
}

bool CloseGuard::shouldClose()
{
    if (m_cleanupApprovedClose) {
        m_cleanupApprovedClose = false;
        return askPrevious();
    }
    if (m_model && m_model->hasOwnedCleanup()) {
        if (m_pending)
            return false;
        m_pending = true;
        m_cleanup = Job::start([self = QPointer<CloseGuard>(this), model = m_model](CancelToken) -> QCoro::Task<void> {
            const bool succeeded = co_await model->closeSession();
            if (!self)
                co_return;
            if (succeeded) {
                self->m_cleanupApprovedClose = true;
                // Comes back into shouldClose(), which lets this one close through.
                if (QPointer<QWindow> window = self->m_window)
                    window->close();
                if (!self)
                    co_return;
                self->m_cleanupApprovedClose = false;
            } else {
                writeStandardErrorLine(remainsOpenLine);
            }
            self->m_pending = false;
            Q_EMIT self->cleanupFinished(succeeded);
        });
        return false;
    }
    return askPrevious();
}

bool CloseGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && watched == m_window && !shouldClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
