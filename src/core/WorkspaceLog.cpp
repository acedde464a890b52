#include "core/WorkspaceLog.h"

WorkspaceLog::WorkspaceLog(const HubConfiguration &configuration)
    : m_configuration(configuration),
      m_writer(JournalFolder::setUp(configuration.appID), configuration.appID, configuration.tenantID),
      m_reader(m_writer.folder(), configuration.appID, configuration.tenantID),
      m_executor(QStringLiteral("WorkspaceLog"))
{
}

QCoro::Task<void> WorkspaceLog::append(QString kind, EventPayload payload)
{
    co_await m_executor.run([this, kind = std::move(kind), payload = std::move(payload)] { m_writer.append(kind, payload); });
}

QCoro::Task<void> WorkspaceLog::appendEvent(WorkspaceEvent event)
{
    co_await m_executor.run([this, event = std::move(event)] { m_writer.appendEvent(event); });
}

QCoro::Task<void> WorkspaceLog::appendFrame(QByteArray frame)
{
    co_await m_executor.run([this, frame = std::move(frame)] { m_writer.appendFrame(frame); });
}

QCoro::Task<void> WorkspaceLog::appendFrame(Json frame)
{
    co_await m_executor.run([this, frame = std::move(frame)] { m_writer.appendFrame(json::dump(frame)); });
}

QCoro::Task<JournalDeltas> WorkspaceLog::readDeltas()
{
    co_return co_await m_executor.run([this] { return m_reader.readDeltas(); });
}
