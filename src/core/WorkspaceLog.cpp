#include "core/WorkspaceLog.h"

// The work is a named local rather than a temporary inside the co_await expression: GCC 12 destroys
// a temporary with non-trivial captures there twice.

WorkspaceLog::WorkspaceLog(const HubConfiguration &configuration)
    : m_configuration(configuration),
      m_writer(JournalFolder::setUp(configuration.appID), configuration.appID, configuration.tenantID),
      m_reader(m_writer.folder(), configuration.appID, configuration.tenantID),
      m_executor(QStringLiteral("WorkspaceLog"))
{}

QCoro::Task<void> WorkspaceLog::append(QString kind, EventPayload payload)
{
    auto work = [this, kind = std::move(kind), payload = std::move(payload)] { m_writer.append(kind, payload); };
    co_await m_executor.run(std::move(work));
}

QCoro::Task<void> WorkspaceLog::appendEvent(WorkspaceEvent event)
{
    auto work = [this, event = std::move(event)] { m_writer.appendEvent(event); };
    co_await m_executor.run(std::move(work));
}

QCoro::Task<void> WorkspaceLog::appendFrame(QByteArray frame)
{
    auto work = [this, frame = std::move(frame)] { m_writer.appendFrame(frame); };
    co_await m_executor.run(std::move(work));
}

QCoro::Task<void> WorkspaceLog::appendFrame(Json frame)
{
    auto work = [this, frame = std::move(frame)] { m_writer.appendFrame(json::dump(frame)); };
    co_await m_executor.run(std::move(work));
}

QCoro::Task<JournalDeltas> WorkspaceLog::readDeltas()
{
    auto work = [this] { return m_reader.readDeltas(); };
    co_return co_await m_executor.run(std::move(work));
}
