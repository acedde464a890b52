#pragma once

#include "core/Json.h"
#include "session/ToolTarget.h"

#include <QString>
#include <QStringList>

// The running tool calls as one realtime frame leaves them. A start adds its call by tool-use id
// ("id", else "toolUseId") with its tool name ("name", else "tool"); an end removes its call by
// id, or, when it carries no id field at all, every call of the frame's agent at its "index". A
// repeated frame leaves the calls as they are, so this runs before the merge that drops repeats.
namespace runningtools
{
struct Outcome
{
    ToolTargets tools;
    // The ids an end named or removed: a skip selected on one of them has nothing left to skip.
    QStringList ended;
};

Outcome afterFrame(ToolTargets running, const QString &kind, const Json &payload, const QString &agent);
} // namespace runningtools
