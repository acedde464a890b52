#include "ui/BuildShellActions.h"

#include "core/HubError.h"
#include "session/HubModel.h"
#include "ui/HubViewState.h"
#include "workspace/NativeDocuments.h"

QCoro::Task<void> shellinput::send(Field field, Sender sender, Reporter report)
{
    const QString taken = field.text();
    field.setText(QString());
    return [](Field field, Sender sender, Reporter report, QString taken) -> QCoro::Task<void> {
        try {
            co_await sender(taken + u'\n');
        } catch (...) {
            report(errorDescription(std::current_exception()));
            // Typed text is never thrown away by a failed send; what the user typed since stays.
            if (field.text().isEmpty())
                field.setText(taken);
        }
    }(std::move(field), std::move(sender), std::move(report), taken);
}

void BuildShellActions::send()
{
    if (!model() || !viewState())
        return;
    const QPointer<HubModel> model = this->model();
    const QPointer<HubViewState> state = viewState();
    shellinput::Field field{[state] { return state ? state->shellInput() : QString(); },
                            [state](const QString &text) {
                                if (state)
                                    state->setShellInput(text);
                            }};
    shellinput::Sender sender = m_sender ? m_sender : [model](QString text) -> QCoro::Task<void> {
        if (model)
            co_await model->documents()->send(std::move(text));
    };
    shellinput::Reporter report = [model](const QString &sentence) {
        if (model)
            model->setMessage(sentence);
    };
    // The field empties now, before the job's first step runs.
    QCoro::Task<void> sending = shellinput::send(std::move(field), std::move(sender), std::move(report));
    keep(Job::start([sending = std::make_shared<QCoro::Task<void>>(std::move(sending))](CancelToken) mutable
                        -> QCoro::Task<void> { co_await std::move(*sending); }));
}

void BuildShellActions::close()
{
    if (!model())
        return;
    const QPointer<HubModel> model = this->model();
    keep(Job::start([model](CancelToken) -> QCoro::Task<void> {
        if (!model)
            co_return;
        try {
            co_await model->documents()->close();
        } catch (...) {
            if (model)
                model->setMessage(errorDescription(std::current_exception()));
        }
    }));
}
