#include "standin/RealtimeService.h"

#include "standin/PlatformHosts.h"
#include "standin/RealtimeConnection.h"
#include "standin/ServiceRegistry.h"

#include <QWebSocket>

namespace realtimeservice
{
namespace
{
QString validateAction(const Json &action)
{
    if (!action.is_object())
        return QStringLiteral("a send action must be an object");
    int kinds = 0;
    for (const char *kind : {"frame", "message", "text", "drop", "close"})
        kinds += action.contains(kind) ? 1 : 0;
    if (kinds != 1)
        return QStringLiteral("a send action has exactly one of \"frame\", \"message\", \"text\", \"drop\", \"close\"");
    for (const auto &[member, value] : action.items()) {
        if (member == "frame" || member == "message") {
            if (!value.is_object())
                return QStringLiteral("\"%1\" must be an object").arg(json::toQString(member));
        } else if (member == "text") {
            if (!value.is_string())
                return QStringLiteral("\"text\" must be a string");
        } else if (member == "drop" || member == "textPayload" || member == "binary") {
            if (!value.is_boolean())
                return QStringLiteral("\"%1\" must be true or false").arg(json::toQString(member));
        } else if (member == "close" || member == "repeat" || member == "padTo" || member == "delayMs") {
            if (!value.is_number_integer() || value.get<qint64>() < (member == "repeat" ? 1 : 0))
                return QStringLiteral("\"%1\" must be a non-negative integer").arg(json::toQString(member));
        } else if (member == "chunked") {
            if (!value.is_object() || !value.contains("id") || !value["id"].is_string())
                return QStringLiteral("\"chunked\" must be an object with a string \"id\"");
            for (const auto &[key, option] : value.items()) {
                if (key == "order") {
                    if (!option.is_string() || (option != "inOrder" && option != "reverse" && option != "shuffle"))
                        return QStringLiteral("\"chunked.order\" is \"inOrder\", \"reverse\" or \"shuffle\"");
                } else if (key == "duplicate") {
                    if (!option.is_boolean())
                        return QStringLiteral("\"chunked.duplicate\" must be true or false");
                } else if (key == "seed" || key == "sliceBytes") {
                    if (!option.is_number_integer() || option.get<qint64>() < 1)
                        return QStringLiteral("\"chunked.%1\" must be a positive integer").arg(json::toQString(key));
                } else if (key != "id") {
                    return QStringLiteral("\"chunked\": unknown member \"%1\"").arg(json::toQString(key));
                }
            }
        } else {
            return QStringLiteral("unknown send member \"%1\"").arg(json::toQString(member));
        }
    }
    if ((action.contains("chunked") || action.contains("textPayload")) && !action.contains("frame"))
        return QStringLiteral("\"chunked\" and \"textPayload\" need a \"frame\"");
    return {};
}
} // namespace

QString validate(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a realtime step must be an object");
    for (const auto &[member, value] : step.items()) {
        if (member == "match") {
            if (!value.is_object())
                return QStringLiteral("\"match\" must be an object");
        } else if (member == "times") {
            if (!value.is_number_integer() || value.get<qint64>() < 1)
                return QStringLiteral("\"times\" must be an integer from 1");
        } else if (member == "handshake") {
            if (!value.is_string() ||
                (value != "accept" && value != "refuse" && value != "connection_error" && value != "silent"))
                return QStringLiteral("\"handshake\" is \"accept\", \"refuse\", \"connection_error\" or \"silent\"");
        } else if (member == "keepAliveMs") {
            if (!value.is_number_integer() || value.get<qint64>() < 1)
                return QStringLiteral("\"keepAliveMs\" must be a positive integer");
        } else if (member == "beforeAck" || member == "send") {
            if (!value.is_array())
                return QStringLiteral("\"%1\" must be an array of send actions").arg(json::toQString(member));
            for (std::size_t i = 0; i < value.size(); ++i)
                if (const QString why = validateAction(value[i]); !why.isEmpty())
                    return QStringLiteral("%1[%2]: %3").arg(json::toQString(member)).arg(i).arg(why);
        } else {
            return QStringLiteral("unknown member \"%1\"").arg(json::toQString(member));
        }
    }
    return {};
}

std::vector<Json> chunkFrames(const Json &announced, const QByteArray &bytes, const std::string &id,
                              qsizetype sliceBytes)
{
    const int total = int((bytes.size() + sliceBytes - 1) / sliceBytes);
    std::vector<Json> result;
    for (int index = 0; index < total; ++index) {
        Json chunk = Json::object();
        for (const char *key : {"tenantId", "sessionId", "turnId", "seq"})
            if (announced.contains(key))
                chunk[key] = announced[key];
        chunk["kind"] = "frame_chunk";
        chunk["payload"] = {{"id", id},
                            {"encoding", "base64"},
                            {"index", index},
                            {"total", total},
                            {"data", bytes.mid(index * sliceBytes, sliceBytes).toBase64().toStdString()}};
        result.push_back(std::move(chunk));
    }
    return result;
}

void registerService(ServiceRegistry &registry)
{
    registry.addScenarioSection("realtime", validate);
    registry.addWebSocketRoute(
        {QStringLiteral("realtime"),
         platformhosts::isRealtimeHost,
         QRegularExpression(QRegularExpression::anchoredPattern(QStringLiteral("/(?:.*/)?realtime"))),
         {QStringLiteral("graphql-ws")},
         [](QWebSocket *socket, ServiceContext &context) { new RealtimeConnection(socket, context); }});
}
} // namespace realtimeservice
