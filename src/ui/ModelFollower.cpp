#include "ui/ModelFollower.h"

#include <QMetaMethod>

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
        // Every change signal of the model, not only those of its QML properties: the presenters read
        // C++ values too (the configuration, the tokens, the running tasks) that QML never sees.
        const QMetaObject *type = model->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("modelValueChanged()"));
        for (int i = type->methodOffset(); i < type->methodCount(); ++i) {
            const QMetaMethod method = type->method(i);
            if (method.methodType() == QMetaMethod::Signal && method.parameterCount() == 0)
                m_connections.append(connect(model, method, this, slot));
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
