#include "standin/CommandChannel.h"

#include "standin/BuildShells.h"
#include "standin/NativeDocumentOperation.h"
#include "standin/PlatformHosts.h"
#include "standin/Scenario.h"
#include "standin/ServiceRegistry.h"
#include "standin/ShellConnection.h"

namespace commandchannel
{
namespace
{
using scenariolimits::isInteger;
using scenariolimits::isSendableCloseCode;

// Why a send action is invalid (empty when it is valid); `bytes` gets at most what it sends.
QString validateAction(const Json &action, double &bytes)
{
    if (!action.is_object())
        return QStringLiteral("a send action must be an object");
    int kinds = 0;
    double size = 0;
    for (const auto &[member, value] : action.items()) {
        const QString name = json::toQString(member);
        if (member == "stdout" || member == "stderr" || member == "text" || member == "frame") {
            if (!value.is_string() || qint64(value.get_ref<const std::string &>().size()) > kMaxMessageBytes)
                return QStringLiteral("\"%1\" must be a string of at most %2 bytes").arg(name).arg(kMaxMessageBytes);
            size = double(value.get_ref<const std::string &>().size()) + 1;
            ++kinds;
        } else if (member == "status") {
            if (!value.is_object())
                return QStringLiteral("\"status\" must be an object");
            size = double(json::dump(value).size()) + 1;
            ++kinds;
        } else if (member == "heartbeat" || member == "closeMessage" || member == "drop") {
            if (value != true)
                return QStringLiteral("\"%1\" must be true").arg(name);
            size = 1;
            ++kinds;
        } else if (member == "size") {
            if (!isInteger(value, 1, kMaxMessageBytes))
                return QStringLiteral("\"size\" must be an integer from 1 to %1").arg(kMaxMessageBytes);
            size = double(value.get<qint64>());
            ++kinds;
        } else if (member == "close") {
            if (!isSendableCloseCode(value))
                return QStringLiteral("\"close\" must be a close code an endpoint may send (1000 to 1003, 1007 to "
                                      "1011, 3000 to 4999)");
            ++kinds;
        } else if (member == "channel") {
            if (!isInteger(value, 0, 255))
                return QStringLiteral("\"channel\" must be a byte");
        } else if (member == "repeat") {
            if (!isInteger(value, 1, kMaxRepeat))
                return QStringLiteral("\"repeat\" must be an integer from 1 to %1").arg(kMaxRepeat);
        } else if (member == "delayMs") {
            if (!isInteger(value, 0, scenariolimits::kMaxDelayMs))
                return QStringLiteral("\"delayMs\" must be an integer from 0 to %1").arg(scenariolimits::kMaxDelayMs);
        } else {
            return QStringLiteral("unknown send member \"%1\"").arg(name);
        }
    }
    if (kinds != 1)
        return QStringLiteral("a send action has exactly one of \"stdout\", \"stderr\", \"frame\", \"status\", "
                              "\"heartbeat\", \"closeMessage\", \"text\", \"size\", \"close\", \"drop\"");
    if (action.contains("channel") && !action.contains("size"))
        return QStringLiteral("\"channel\" goes with \"size\"");
    bytes += size * double(action.value("repeat", qint64(1)));
    return {};
}
} // namespace

QString validate(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a commandChannel step must be an object");
    double bytes = 0;
    for (const auto &[member, value] : step.items()) {
        if (member == "match" || member == "times") {
            continue; // checked by the scenario itself
        } else if (member == "connect" || member == "echo") {
            if (!value.is_boolean())
                return QStringLiteral("\"%1\" must be true or false").arg(json::toQString(member));
        } else if (member == "send") {
            if (!value.is_array())
                return QStringLiteral("\"send\" must be an array of send actions");
            for (std::size_t i = 0; i < value.size(); ++i)
                if (const QString why = validateAction(value[i], bytes); !why.isEmpty())
                    return QStringLiteral("send[%1]: %2").arg(i).arg(why);
        } else {
            return QStringLiteral("unknown member \"%1\"").arg(json::toQString(member));
        }
    }
    if (bytes > double(kStepBytes))
        return QStringLiteral("the step sends more than %1 bytes").arg(kStepBytes);
    return {};
}

void registerService(ServiceRegistry &registry)
{
    auto shells = std::make_shared<BuildShells>();
    registry.addScenarioSection("commandChannel", validate);
    registry.addWebSocketRoute(
        {QStringLiteral("commandChannel"),
         platformhosts::isCommandChannelHost,
         QRegularExpression(QRegularExpression::anchoredPattern(QStringLiteral("/shells/[A-Za-z0-9_-]+"))),
         {},
         [shells](QWebSocket *socket, ServiceContext &context) { new ShellConnection(socket, context, shells); }});
    nativedocument::registerService(registry, shells);
}
} // namespace commandchannel
