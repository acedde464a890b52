#include "ui/ModelFollower.h"

#include <QMetaProperty>

void ModelFollower::setModel(HubModel *model)
{
    // The same model again changes nothing; but a model that was destroyed still has its connections
    // dropped here.
    if (m_model == model && (model || m_connections.isEmpty()))
        return;
    for (const QMetaObject::Connection &connection : std::exchange(m_connections, {}))
        disconnect(connection);
    m_model = model;
    if (model) {
        const QMetaObject *type = model->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("modelValueChanged()"));
        for (int i = type->propertyOffset(); i < type->propertyCount(); ++i) {
            const QMetaProperty property = type->property(i);
            // Several values share one signal; one connection each is enough.
            if (!property.hasNotifySignal())
                continue;
            const QMetaObject::Connection connection =
                connect(model, property.notifySignal(), this, slot, Qt::UniqueConnection);
            if (connection)
                m_connections.append(connection);
        }
        // A model that goes first leaves the view with the values of no model.
        m_connections.append(connect(model, &QObject::destroyed, this, [this] { setModel(nullptr); }));
    }
    refresh();
    Q_EMIT modelChanged();
}

void ModelFollower::modelValueChanged()
{
    refresh();
}
