#pragma once

#include "cloud/AgentCoreShellProtocol.h"

#include <QString>

#include <chrono>
#include <optional>

// What the build shell makes of the command channel's statuses and failures: pure rules, apart from
// the connection that acts on them.
namespace shellstatus
{
struct Decision
{
    enum class Kind {
        // The status does not fit the held shell: the channel's protocol failed.
        protocolFailure,
        // The shell (re)connected: `text` is the new shell status.
        connect,
        // The shell ended: `text` is the final shell status.
        ending,
    };
    Kind kind;
    QString text;
};

// A status received while `heldShellID` is held and the connection is `ready` (after its first
// connect status) or not.
Decision decide(const AgentCoreShellProtocol::Status &status, const std::optional<QString> &heldShellID, bool ready);

// The shell status of a connection failure that ends the shell (a protocol failure, or the close
// codes 1000, 1003 and 4000); none for a failure worth reconnecting after.
std::optional<QString> endingFailureText(bool protocolFailure, int closeCode);

// At most this many reconnects follow one another.
inline constexpr qint64 kMaximumReconnects = 5;
// The wait before reconnect `attempt` (1 to 5): 0.5 s doubling, at most 8 s.
std::chrono::milliseconds reconnectDelay(qint64 attempt);
QString reconnectingText(qint64 attempt, int closeCode, int transportCode);
} // namespace shellstatus
