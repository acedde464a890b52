#pragma once

#include "workspace/ShellTranscript.h"

#include <QAbstractListModel>
#include <QString>

#include <deque>

// The build shell's transcript as the window shows it: one row per line (role "text"). A line the
// shell has finished (ended by a line feed) never changes again, so the transcript reaches a view
// append-only: finished lines are rows inserted at the end, the line still being written (which a
// carriage return or a backspace may rewrite) is the last row, changed in place, and the rows the
// transcript's cap has cut off go from the front. A view re-reads only the rows that changed.
class ShellLines : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { TextRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Brings the rows up to `transcript` as it is now. Between two calls the transcript only grows
    // and cuts its front, unless it was cleared, which `clear()` says first.
    void sync(const ShellTranscript &transcript);
    // No rows: the transcript was cleared for a new shell.
    void clear();

private:
    void removeCutRows(qint64 cut);

    std::deque<QString> m_rows;
    // The transcript offset just past each finished row's line feed, counted in the bytes ever
    // appended; the open row, when there is one, is the last row and has none.
    std::deque<qint64> m_ends;
    bool m_hasOpen = false;
    // Where the open line starts: everything before it is in finished rows.
    qint64 m_finishedUpTo = 0;
};
