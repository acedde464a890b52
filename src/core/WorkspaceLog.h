#pragma once

#include "core/HubConfiguration.h"
#include "core/JournalReader.h"
#include "core/JournalWriter.h"
#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "core/async/SerialExecutor.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

// The local event journal that every process of one application id shares:
// an actor whose operations run one at a time on its own serial executor while the caller, on the
// main thread, awaits them. Its files live in "/tmp/tavrilo/<app id>"; no descriptor stays open
// between calls, and "events.lock" orders the writers and readers of all processes.
class WorkspaceLog
{
public:
    // Copies the configuration and sets up and checks the folder (on the calling thread: a few
    // system calls). Throws HubError ("Unsafe shared workspace directory: " and the path, or the
    // platform's error of creating or securing a folder).
    explicit WorkspaceLog(const HubConfiguration &configuration);
    WorkspaceLog(const WorkspaceLog &) = delete;
    WorkspaceLog &operator=(const WorkspaceLog &) = delete;

    // Arguments are taken by value: the caller's objects may be gone before the work runs.
    QCoro::Task<void> append(QString kind, EventPayload payload);
    QCoro::Task<void> appendEvent(WorkspaceEvent event);
    // One raw realtime session frame, stored exactly as received.
    QCoro::Task<void> appendFrame(QByteArray frame);
    // A decoded frame, stored as its compact JSON text.
    QCoro::Task<void> appendFrame(Json frame);
    // The records appended since the previous call; see JournalDeltas for the sentences of damaged
    // input that was dropped without losing the rest.
    QCoro::Task<JournalDeltas> readDeltas();

    const HubConfiguration &configuration() const { return m_configuration; }
    const QString &directory() const { return m_writer.folder().directory(); }

private:
    HubConfiguration m_configuration;
    JournalWriter m_writer;
    JournalReader m_reader; // touched only on m_executor
    // Last: destroyed first, its destructor runs the work already queued while the rest still lives.
    SerialExecutor m_executor;
};
