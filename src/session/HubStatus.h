#pragma once

#include "cloud/RealtimeIntake.h"
#include "core/HubConfiguration.h"
#include "live/NativeUsage.h"
#include "session/ToolTarget.h"

#include <QLocale>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

using UsageByAgent = QMap<QString, NativeUsage>;

// The session model's yes/no gates and display lines, worked out from its state on every read.
namespace hubstatus
{
// The folder's own name of a path: "/" for the root, trailing slashes and "." or ".." steps resolved.
QString lastPathComponent(const QString &path);
// The project folder's name: of the configured root, else of the default workspace root.
QString displayProfile(const std::optional<HubConfiguration> &configuration);

// An identity token and a configured GraphQL endpoint; the workspace is not consulted.
bool controlsConnected(const std::optional<QString> &identityToken,
                       const std::optional<HubConfiguration> &configuration);
// Connected controls and a selected workspace.
bool cloudConnected(const std::optional<QString> &identityToken, const std::optional<HubConfiguration> &configuration);

// What decides whether a turn can be started.
struct RunReadiness
{
    std::optional<QString> token; // the access token
    std::optional<QString> identityToken;
    std::optional<HubConfiguration> configuration;
    bool running = false;
    bool closingSession = false;
    QString prompt;
};
bool canRun(const RunReadiness &state);

// The working specialists in seat order, leaving out seat 1; empty while no turn runs.
QStringList activeSpecialists(bool running, const QSet<QString> &working, const QStringList &roles);

// One specialist's live usage: tokens ("At least " when unconfirmed, "Usage pending" when none were
// seen) and the cost label; "— tokens · Cost unknown" without an entry. The entry is found by the
// agent name in any letter case.
QString usageLabel(const UsageByAgent &usage, const QString &agent, const QLocale &locale = QLocale());
// The session's observed tokens, summed exactly; "At least " when any entry is unconfirmed or has
// seen no tokens.
QString sessionTokenLabel(const UsageByAgent &usage);

// The realtime client's delivery counters on one line.
QString transportDiagnostic(const RealtimeCounters &counters);

// The selected running call, else the only running call, else none.
std::optional<ToolTarget> skipTarget(const ToolTargets &activeTools, const QString &selectedSkipID);

// Work the model owns that must be cleaned up before the process may end.
struct OwnedWork
{
    bool activeSession = false;
    bool projectOpenTask = false;
    bool projectOpening = false;
    bool changesReadTask = false;
    bool changesLoading = false;
    bool ledgerTask = false;
    bool cleanupTask = false;
    bool closingSession = false;
};
bool hasOwnedCleanup(const OwnedWork &work);
} // namespace hubstatus
