#include "workspace/ShellLines.h"

#include <algorithm>

int ShellLines::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ShellLines::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= m_rows.size() || role != TextRole)
        return {};
    return m_rows[size_t(index.row())];
}

QHash<int, QByteArray> ShellLines::roleNames() const
{
    return {{TextRole, "text"}};
}

void ShellLines::clear()
{
    beginResetModel();
    m_rows.clear();
    m_ends.clear();
    m_hasOpen = false;
    m_finishedUpTo = 0;
    endResetModel();
}

void ShellLines::removeCutRows(qint64 cut)
{
    // A row partly cut stays whole: a view never shows half a line.
    size_t gone = 0;
    while (gone < m_ends.size() && m_ends[gone] <= cut)
        ++gone;
    if (gone == 0)
        return;
    beginRemoveRows({}, 0, int(gone) - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + qsizetype(gone));
    m_ends.erase(m_ends.begin(), m_ends.begin() + qsizetype(gone));
    endRemoveRows();
}

void ShellLines::sync(const ShellTranscript &transcript)
{
    const QByteArrayView text = transcript.utf8();
    const qint64 cut = transcript.cutBytes();
    const qint64 end = cut + text.size();
    const qint64 openStart = std::max(end - transcript.lastLineBytes(), cut);

    // The lines finished since the last call; those wholly cut meanwhile were never shown.
    qint64 from = std::max(m_finishedUpTo, cut);
    std::vector<std::pair<QString, qint64>> finished;
    while (from < openStart) {
        const QByteArrayView rest = text.sliced(from - cut, openStart - from);
        const qsizetype feed = rest.indexOf('\n');
        const qsizetype length = feed < 0 ? rest.size() : feed;
        from += length + 1;
        finished.emplace_back(QString::fromUtf8(rest.first(length)), std::min(from, openStart));
    }
    m_finishedUpTo = std::max(m_finishedUpTo, openStart);

    if (!finished.empty()) {
        auto next = finished.begin();
        if (m_hasOpen) {
            // The open line is the first that was finished.
            const int row = int(m_rows.size()) - 1;
            m_ends.push_back(next->second);
            if (m_rows.back() != next->first) {
                m_rows.back() = std::move(next->first);
                Q_EMIT dataChanged(index(row), index(row), {TextRole});
            }
            m_hasOpen = false;
            ++next;
        }
        if (next != finished.end()) {
            const int first = int(m_rows.size());
            beginInsertRows({}, first, first + int(finished.end() - next) - 1);
            for (; next != finished.end(); ++next) {
                m_rows.push_back(std::move(next->first));
                m_ends.push_back(next->second);
            }
            endInsertRows();
        }
    }
    removeCutRows(cut);

    const QString open = QString::fromUtf8(text.sliced(openStart - cut));
    if (open.isEmpty()) {
        // An erased line shows as no line, as a line feed that opens none.
        if (m_hasOpen) {
            const int row = int(m_rows.size()) - 1;
            beginRemoveRows({}, row, row);
            m_rows.pop_back();
            m_hasOpen = false;
            endRemoveRows();
        }
    } else if (m_hasOpen) {
        if (m_rows.back() != open) {
            m_rows.back() = open;
            const int row = int(m_rows.size()) - 1;
            Q_EMIT dataChanged(index(row), index(row), {TextRole});
        }
    } else {
        const int row = int(m_rows.size());
        beginInsertRows({}, row, row);
        m_rows.push_back(open);
        m_hasOpen = true;
        endInsertRows();
    }
}
