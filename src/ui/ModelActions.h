#pragma once

#include "core/async/Job.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class HubModel;
class HubViewState;

// The base of the views' action objects, the doers beside the presenters (ModelFollower): holds the
// window's model and view state as QML hands them over (`SomeActions { model: root.model;
// viewState: root.viewState }`), and keeps the tasks its actions start, so that they end with the
// view that started them. An action does nothing while what it reads is unset.
class ModelActions : public QObject
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(HubModel *model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(HubViewState *viewState READ viewState WRITE setViewState NOTIFY viewStateChanged)

public:
    using QObject::QObject;
    ~ModelActions() override;

    HubModel *model() const;
    void setModel(HubModel *model);
    HubViewState *viewState() const;
    void setViewState(HubViewState *state);

Q_SIGNALS:
    void modelChanged();
    void viewStateChanged();

protected:
    // Keeps `job` until it has finished or this object goes.
    void keep(Job job);

private:
    QPointer<HubModel> m_model;
    QPointer<HubViewState> m_viewState;
    QList<Job> m_jobs;
};
