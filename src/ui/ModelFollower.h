#pragma once

#include "session/HubModel.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The base of the views' presenter objects: follows every change the window's model announces and
// has its subclass work its value out again. A subclass announces its value only when it
// differs, so a model change the view does not read (a streamed frame, say) costs one small
// computation and no re-layout.
class ModelFollower : public QObject
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(HubModel *model READ model WRITE setModel NOTIFY modelChanged)

public:
    using QObject::QObject;

    HubModel *model() const { return m_model; }
    void setModel(HubModel *model);

Q_SIGNALS:
    void modelChanged();

protected:
    // Works the value out again from the model (absent until set) and the view state.
    virtual void refresh() = 0;
    // Stores `value` when it differs; true when it did, and the subclass announces it.
    template <typename Value> static bool replace(Value &stored, Value value)
    {
        if (stored == value)
            return false;
        stored = std::move(value);
        return true;
    }

private Q_SLOTS:
    void modelValueChanged();

private:
    QPointer<HubModel> m_model;
    QList<QMetaObject::Connection> m_connections;
};
