#pragma once

#include <QList>
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
