#pragma once

#include "core/HubConfiguration.h"
#include "workspace/NativeDocuments.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

// Opening the workspace's live browser and build shell from the window: a signed-in live session is
// required, the workspace tools are bound to it, then driven. Failures end as one sentence in the
// status line; progress shows in the tools' own state.
namespace workspaceopening
{
// What opening reads and writes of the session model.
class Session
{
public:
    virtual ~Session() = default;
    virtual bool closingSession() const = 0;
    virtual const std::optional<QString> &activeSessionID() const = 0;
    virtual const std::optional<HubConfiguration> &configuration() const = 0;
    virtual const std::optional<QString> &identityToken() const = 0;
    // The project session id the tools are bound to.
    virtual const QString &sessionID() const = 0;
    virtual NativeDocuments *documents() = 0;
    // Binds the tools to `configuration` and `session` with that session's token source.
    virtual void configureDocuments(HubConfiguration configuration, QString session) = 0;
    virtual void setMessage(QString message) = 0;
};

// The terminal size the shell is opened with.
inline constexpr int kShellColumns = 100;
inline constexpr int kShellRows = 30;

// Never throw. `alive` is the object the session lives in.
QCoro::Task<void> openBrowser(Session *session, QObject *alive);
QCoro::Task<void> openShell(Session *session, QObject *alive);
} // namespace workspaceopening
