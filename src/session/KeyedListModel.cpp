#include "session/KeyedListModel.h"

#include <QSet>

KeyedListModel::KeyedListModel(QList<QByteArray> roles, QObject *parent)
    : QAbstractListModel(parent), m_roles(std::move(roles))
{
    connect(this, &QAbstractItemModel::rowsInserted, this, &KeyedListModel::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &KeyedListModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &KeyedListModel::countChanged);
}

int KeyedListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant KeyedListModel::data(const QModelIndex &index, int role) const
{
    const qsizetype column = role - Qt::UserRole - 1;
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) || column < 0 ||
        column >= m_roles.size())
        return {};
    return m_rows.at(index.row()).values.value(column);
}

QHash<int, QByteArray> KeyedListModel::roleNames() const
{
    QHash<int, QByteArray> names;
    for (qsizetype i = 0; i < m_roles.size(); ++i)
        names.insert(Qt::UserRole + 1 + int(i), m_roles.at(i));
    return names;
}

int KeyedListModel::role(const QByteArray &name) const
{
    const qsizetype column = m_roles.indexOf(name);
    return column < 0 ? -1 : Qt::UserRole + 1 + int(column);
}

QVariantMap KeyedListModel::get(int row) const
{
    QVariantMap record;
    if (row < 0 || row >= m_rows.size())
        return record;
    for (qsizetype i = 0; i < m_roles.size(); ++i)
        record.insert(QString::fromUtf8(m_roles.at(i)), m_rows.at(row).values.value(i));
    return record;
}

void KeyedListModel::update(qsizetype row, Row next)
{
    Row &current = m_rows[row];
    if (current.values == next.values)
        return;
    QList<int> changed;
    for (qsizetype i = 0; i < m_roles.size(); ++i)
        if (current.values.value(i) != next.values.value(i))
            changed.append(Qt::UserRole + 1 + int(i));
    current = std::move(next);
    const QModelIndex at = index(int(row));
    Q_EMIT dataChanged(at, at, changed);
}

void KeyedListModel::sync(QList<Row> next)
{
    // Rows whose key is gone, back to front so that the indexes ahead stay put.
    QSet<QString> kept;
    kept.reserve(next.size());
    for (const Row &row : next)
        kept.insert(row.key);
    for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
        if (kept.contains(m_rows.at(i).key))
            continue;
        qsizetype first = i;
        while (first > 0 && !kept.contains(m_rows.at(first - 1).key))
            --first;
        beginRemoveRows({}, int(first), int(i));
        m_rows.remove(first, i - first + 1);
        endRemoveRows();
        i = first;
    }
    // Then, in the new order: a row in place is updated, a row further down is moved up, a new row
    // is inserted.
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (i < m_rows.size() && m_rows.at(i).key == next.at(i).key) {
            update(i, std::move(next[i]));
            continue;
        }
        qsizetype found = -1;
        for (qsizetype j = i + 1; j < m_rows.size(); ++j)
            if (m_rows.at(j).key == next.at(i).key) {
                found = j;
                break;
            }
        if (found >= 0) {
            beginMoveRows({}, int(found), int(found), {}, int(i));
            m_rows.move(found, i);
            endMoveRows();
            update(i, std::move(next[i]));
        } else {
            beginInsertRows({}, int(i), int(i));
            m_rows.insert(i, std::move(next[i]));
            endInsertRows();
        }
    }
    // Rows left over past the end (a key that appeared twice before and once now).
    if (m_rows.size() > next.size()) {
        beginRemoveRows({}, int(next.size()), int(m_rows.size() - 1));
        m_rows.resize(next.size());
        endRemoveRows();
    }
}

void KeyedListModel::append(Row row)
{
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_rows.append(std::move(row));
    endInsertRows();
}

void KeyedListModel::removeFront(qsizetype rows)
{
    rows = std::min(rows, m_rows.size());
    if (rows <= 0)
        return;
    beginRemoveRows({}, 0, int(rows - 1));
    m_rows.remove(0, rows);
    endRemoveRows();
}

void KeyedListModel::reset(QList<Row> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}
