#include "session/RunningTools.h"

namespace runningtools
{
Outcome afterFrame(ToolTargets running, const QString &kind, const Json &payload, const QString &agent)
{
    Outcome outcome{std::move(running), {}};
    const bool start = kind == QLatin1StringView("tool_start");
    const bool end = kind == QLatin1StringView("tool_end");
    if (!start && !end)
        return outcome;
    // An "id" that is present but empty is not replaced by "toolUseId": the call has no usable id.
    std::optional<QString> callID = json::string(payload, "id");
    if (!callID)
        callID = json::string(payload, "toolUseId");
    const std::optional<qint64> index = json::integer(payload, "index");
    if (callID && !callID->isEmpty()) {
        if (start) {
            std::optional<QString> tool = json::string(payload, "name");
            if (!tool)
                tool = json::string(payload, "tool");
            if (tool && !tool->isEmpty())
                outcome.tools.insert(*callID, ToolTarget{*callID, *tool, agent, index});
        } else {
            outcome.tools.remove(*callID);
            outcome.ended.append(*callID);
        }
    }
    if (end && !payload.contains("id") && !payload.contains("toolUseId") && index) {
        for (auto it = outcome.tools.begin(); it != outcome.tools.end();) {
            if (it->agent == agent && it->index == index) {
                outcome.ended.append(it.key());
                it = outcome.tools.erase(it);
            } else {
                ++it;
            }
        }
    }
    return outcome;
}
} // namespace runningtools
