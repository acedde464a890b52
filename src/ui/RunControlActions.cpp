#include "ui/RunControlActions.h"

#include "core/async/Resumer.h"
#include "session/HubModel.h"

#include <coroutine>

namespace
{
// Suspends and resumes from the next pass of the thread's event loop.
class EventLoopHop
{
public:
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        m_resumer.wake();
    }
    void await_resume() const noexcept {}

private:
    Resumer m_resumer;
};
} // namespace

QCoro::Task<void> stopcheck::stopNotedSession(Target target, CancelToken token)
{
    const QString noted = target.sessionID();
    co_await EventLoopHop();
    if (token.cancelled())
        co_return;
    if (target.sessionID() != noted) {
        target.report(QString::fromLatin1(kMismatch));
        co_return;
    }
    try {
        co_await target.close();
    } catch (...) {
        // The clean-up has already put its failure in the status line.
    }
}

void RunControlActions::stop()
{
    if (!model())
        return;
    const QPointer<HubModel> model = this->model();
    stopcheck::Target target{
        [model] { return model ? model->sessionID() : QString(); },
        [model](const QString &sentence) {
            if (model)
                model->setMessage(sentence);
        },
        [model]() -> QCoro::Task<void> {
            if (model)
                co_await model->closeSession();
        },
    };
    keep(Job::start([target = std::move(target)](CancelToken token) {
        return stopcheck::stopNotedSession(target, std::move(token));
    }));
}

void RunControlActions::togglePause()
{
    if (!model())
        return;
    const QPointer<HubModel> model = this->model();
    keep(Job::start([model](CancelToken) -> QCoro::Task<void> {
        if (!model)
            co_return;
        const QString state = model->operatorPaused() ? QStringLiteral("running") : QStringLiteral("paused");
        co_await model->sendControl(NativeControls::Command::runState(model->sessionID(), state));
    }));
}
