#include "session/EventMerge.h"

#include <QRegularExpression>

bool eventmerge::admits(const WorkspaceEvent &event, const std::optional<HubConfiguration> &configuration,
                        const QString &sessionID)
{
    if (!configuration)
        return false;
    if (event.appID != configuration->appID || event.tenantID != configuration->tenantID)
        return false;
    // Commands pass whatever session they name: the poll loop applies its own test to interrupts.
    if (event.kind.startsWith(QLatin1StringView("command.")) || event.payload.isEmpty())
        return true;
    auto session = event.payload.constFind(QStringLiteral("session_id"));
    if (session == event.payload.constEnd())
        session = event.payload.constFind(QStringLiteral("sessionId"));
    return session == event.payload.constEnd() || *session == sessionID;
}

bool eventmerge::endsTurn(const QString &kind)
{
    return kind == QLatin1StringView("done") || kind == QLatin1StringView("turn_end") ||
           kind == QLatin1StringView("turn_completed") || kind == QLatin1StringView("error");
}

bool eventmerge::touchesGates(const QString &kind)
{
    return endsTurn(kind) || kind == QLatin1StringView("hook") || kind == QLatin1StringView("verify") ||
           kind == QLatin1StringView("tool_start") || kind == QLatin1StringView("tool_end") ||
           kind == QLatin1StringView("browser_live_view");
}

std::optional<QString> eventmerge::announcedTeamRevision(const WorkspaceEvent &event)
{
    static const QRegularExpression revision(QStringLiteral("\\A[a-f0-9]{64}\\z"));
    if (event.kind != QLatin1StringView("metadata") ||
        event.payload.value(QStringLiteral("teamBundle")) != QLatin1StringView("tavrilo-team"))
        return std::nullopt;
    const auto value = event.payload.constFind(QStringLiteral("teamRevision"));
    if (value == event.payload.constEnd() || !revision.match(*value).hasMatch())
        return std::nullopt;
    return *value;
}

bool eventmerge::EventIdRing::insert(const QString &id)
{
    if (m_ids.contains(id))
        return false;
    m_ids.insert(id);
    m_order.append(id);
    if (m_order.size() > kRememberedIDs)
        m_ids.remove(m_order.takeFirst());
    return true;
}
