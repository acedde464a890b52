#include "standin/ConnectStep.h"

#include "standin/Scenario.h"

namespace connectstep
{
QString validate(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a step must be an object");
    for (const auto &[key, value] : step.items()) {
        if (key == "match" || key == "times") {
            continue; // checked by the scenario itself
        } else if (key == "delayMs") {
            if (!scenariolimits::isInteger(value, 0, scenariolimits::kMaxDelayMs))
                return QStringLiteral("\"delayMs\" must be an integer from 0 to %1").arg(scenariolimits::kMaxDelayMs);
        } else if (key == "fault") {
            if (value != "refuse" && value != "drop")
                return QStringLiteral("\"fault\" must be \"refuse\" or \"drop\"");
        } else {
            return QStringLiteral("unknown step member \"%1\"").arg(json::toQString(key));
        }
    }
    return {};
}
} // namespace connectstep
