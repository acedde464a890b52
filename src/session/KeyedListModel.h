#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// A list the window shows, row by row: each row has a key (what makes it the same row from one
// state to the next) and one value per role. A new state is applied with `sync`, which announces
// only what differs: rows that went are removed, new rows inserted where they belong, rows that
// moved are moved and rows whose values changed are reported changed. A list that only grows at
// its end and loses its oldest rows (the journal strip) uses `append` and `removeFront`.
class KeyedListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    struct Row
    {
        QString key;
        QVariantList values; // in the order of the role names

        bool operator==(const Row &) const = default;
    };

    // `roles` are the names QML reads; the first role is Qt::UserRole + 1.
    explicit KeyedListModel(QList<QByteArray> roles, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_rows.size()); }
    const QList<Row> &rows() const { return m_rows; }
    // The row at `row` as role name to value, for a delegate that shows one record.
    Q_INVOKABLE QVariantMap get(int row) const;
    // The role number of `name`, or -1.
    int role(const QByteArray &name) const;

    void sync(QList<Row> next);
    void append(Row row);
    void removeFront(qsizetype rows);
    // Replaces every row at once: for a list set whole, never for a change of a few rows.
    void reset(QList<Row> rows);

Q_SIGNALS:
    void countChanged();

private:
    void update(qsizetype row, Row next);

    QList<QByteArray> m_roles;
    QList<Row> m_rows;
};
