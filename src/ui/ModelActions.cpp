#include "ui/ModelActions.h"

#include "session/HubModel.h"
#include "ui/HubViewState.h"

ModelActions::~ModelActions() = default;

HubModel *ModelActions::model() const
{
    return m_model;
}

void ModelActions::setModel(HubModel *model)
{
    if (m_model == model)
        return;
    m_model = model;
    Q_EMIT modelChanged();
}

HubViewState *ModelActions::viewState() const
{
    return m_viewState;
}

void ModelActions::setViewState(HubViewState *state)
{
    if (m_viewState == state)
        return;
    m_viewState = state;
    Q_EMIT viewStateChanged();
}

void ModelActions::keep(Job job)
{
    m_jobs.removeIf([](const Job &done) { return done.isFinished(); });
    m_jobs.append(std::move(job));
}
