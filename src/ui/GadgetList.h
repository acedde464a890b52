#pragma once

#include "session/KeyedListModel.h"

#include <QByteArray>
#include <QList>
#include <QMetaProperty>
#include <QString>
#include <QVariant>
#include <QVariantList>

// A list of gadgets as QML reads it: a JavaScript array of value types.
template <typename T> QVariantList gadgetList(const QList<T> &items)
{
    QVariantList values;
    values.reserve(items.size());
    for (const T &item : items)
        values.append(QVariant::fromValue(item));
    return values;
}

// A gadget's properties as the roles of a `KeyedListModel`, in declaration order, so a delegate
// reads each field as a role of its own and a change of one field is announced for that role only.
template <typename T> QList<QByteArray> gadgetRoles()
{
    const QMetaObject &meta = T::staticMetaObject;
    QList<QByteArray> roles;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        roles.append(meta.property(i).name());
    return roles;
}

// One gadget as a row under `gadgetRoles<T>()`.
template <typename T> KeyedListModel::Row gadgetRow(QString key, const T &item)
{
    const QMetaObject &meta = T::staticMetaObject;
    KeyedListModel::Row row{std::move(key), {}};
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        row.values.append(meta.property(i).readOnGadget(&item));
    return row;
}

// Gadgets as the rows of a `KeyedListModel`, each keyed by its `key` member.
template <typename T> QList<KeyedListModel::Row> keyedRows(const QList<T> &items, QString T::*key)
{
    QList<KeyedListModel::Row> rows;
    rows.reserve(items.size());
    for (const T &item : items)
        rows.append(gadgetRow(item.*key, item));
    return rows;
}
