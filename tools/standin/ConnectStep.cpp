#include "standin/ConnectStep.h"

namespace connectstep
{
QString validate(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a step must be an object");
    for (const auto &[key, value] : step.items()) {
        if (key == "match") {
            if (!value.is_object())
                return QStringLiteral("\"match\" must be an object");
        } else if (key == "times") {
            if (!value.is_number_integer() || value.get<qint64>() < 1)
                return QStringLiteral("\"times\" must be an integer from 1");
        } else if (key == "delayMs") {
            if (!value.is_number_integer() || value.get<qint64>() < 0 || value.get<qint64>() > 600'000)
                return QStringLiteral("\"delayMs\" must be an integer from 0 to 600000");
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
