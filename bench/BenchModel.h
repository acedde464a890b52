#pragma once

// The session model the window benchmarks measure against, as the session tests assemble it: a
// keyring in memory, a sign-in window that never opens, one app and workspace configured, so that
// nothing leaves the process.
#include "session/SessionTestSupport.h"

#include <memory>

namespace benchmodel
{
inline std::unique_ptr<HubModel> configuredModel()
{
    auto model = sessiontest::makeModel();
    model->setConfiguration(sessiontest::configuration());
    return model;
}

// Event `i` of a turn, from `agent`, of `kind` with `payload` besides the agent.
inline WorkspaceEvent turnEvent(int i, const QString &agent, const char *kind,
                                std::initializer_list<std::pair<const char *, QString>> payload)
{
    WorkspaceEvent e = sessiontest::event(QStringLiteral("e%1").arg(i), kind, payload);
    e.payload.insert(QStringLiteral("agent"), agent);
    return e;
}

// A streamed word of text: the commonest event of a turn.
inline WorkspaceEvent streamedText(int i, const QString &agent)
{
    return turnEvent(i, agent, "text", {{"text", QStringLiteral("word%1 ").arg(i)}});
}
} // namespace benchmodel
