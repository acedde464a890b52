#include "workspace/ShellStatusRules.h"

#include <algorithm>

namespace shellstatus
{
namespace
{
const QString kFailed = QStringLiteral("Shell exited with failure");

std::optional<QString> shellIdOf(const AgentCoreShellProtocol::Status &status)
{
    return status.metadata ? status.metadata->shellId : std::nullopt;
}
} // namespace

Decision decide(const AgentCoreShellProtocol::Status &status, const std::optional<QString> &heldShellID, bool ready)
{
    const std::optional<QString> shellId = shellIdOf(status);
    const bool success = status.status == QLatin1String("Success");
    // A status naming a shell must name ours; before the connection is ready, a success must name
    // ours exactly (neither naming one counts as the same).
    if (shellId && (!heldShellID || *shellId != *heldShellID))
        return {Decision::Kind::protocolFailure, {}};
    if (!ready && success && shellId != heldShellID)
        return {Decision::Kind::protocolFailure, {}};

    const bool ends = !success || status.exited() || (!shellId && ready);
    if (!ends) {
        const bool restored = status.metadata && status.metadata->reconnected.value_or(false);
        return {Decision::Kind::connect,
                restored ? QStringLiteral("Connected · replay restored") : QStringLiteral("Connected")};
    }
    const std::optional<qint64> exitCode = status.exitCode();
    const bool failed = !success || (status.exited() && exitCode.value_or(1) != 0);
    if (!failed)
        return {Decision::Kind::ending, QStringLiteral("Shell exited")};
    if (exitCode)
        return {Decision::Kind::ending, kFailed + QStringLiteral(" (exit %1)").arg(*exitCode)};
    return {Decision::Kind::ending, kFailed};
}

std::optional<QString> endingFailureText(bool protocolFailure, int closeCode)
{
    if (closeCode == 4000)
        return QStringLiteral("Another client attached; reconnect manually");
    if (protocolFailure || closeCode == 1000 || closeCode == 1003)
        return QStringLiteral("Shell closed or protocol rejected; retry available");
    return std::nullopt;
}

std::chrono::milliseconds reconnectDelay(qint64 attempt)
{
    const qint64 doublings = std::clamp<qint64>(attempt - 1, 0, 4);
    return std::chrono::milliseconds(std::min<qint64>(500LL << doublings, 8000));
}

QString reconnectingText(qint64 attempt, int closeCode, int transportCode)
{
    return QStringLiteral("Reconnecting (%1/%2; close %3; transport %4)")
        .arg(attempt)
        .arg(kMaximumReconnects)
        .arg(closeCode)
        .arg(transportCode);
}
} // namespace shellstatus
