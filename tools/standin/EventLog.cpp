#include "standin/EventLog.h"

EventLog::EventLog(const QString &filePath) : m_file(filePath)
{
    m_clock.start();
    // The file is a courtesy copy: the stand-in runs on without it when it cannot be written.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

qint64 EventLog::append(Json entry)
{
    const qint64 index = size();
    entry["index"] = index;
    entry["ms"] = m_clock.elapsed();
    if (m_file.isOpen()) {
        m_file.write(json::dump(entry) + '\n');
        m_file.flush();
    }
    m_entries.push_back(std::move(entry));
    return index;
}

Json EventLog::since(qint64 from) const
{
    Json entries = Json::array();
    for (qint64 i = std::max<qint64>(from, 0); i < size(); ++i)
        entries.push_back(m_entries[size_t(i)]);
    return entries;
}
