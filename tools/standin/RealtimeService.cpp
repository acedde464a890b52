#include "standin/RealtimeService.h"

#include "standin/PlatformHosts.h"
#include "standin/RealtimeConnection.h"
#include "standin/Scenario.h"
#include "standin/ServiceRegistry.h"

#include <QWebSocket>

#include <algorithm>
#include <cmath>

namespace realtimeservice
{
namespace
{
using scenariolimits::isInteger;
using scenariolimits::isSendableCloseCode;

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
        const QString name = json::toQString(member);
        if (member == "frame" || member == "message") {
            if (!value.is_object())
                return QStringLiteral("\"%1\" must be an object").arg(name);
        } else if (member == "text") {
            if (!value.is_string())
                return QStringLiteral("\"text\" must be a string");
        } else if (member == "drop" || member == "textPayload" || member == "binary") {
            if (!value.is_boolean())
                return QStringLiteral("\"%1\" must be true or false").arg(name);
        } else if (member == "close") {
            if (!isSendableCloseCode(value))
                return QStringLiteral("\"close\" must be a close code an endpoint may send (1000 to 1003, 1007 to "
                                      "1011, 3000 to 4999)");
        } else if (member == "repeat") {
            if (!isInteger(value, 1, kMaxRepeat))
                return QStringLiteral("\"repeat\" must be an integer from 1 to %1").arg(kMaxRepeat);
        } else if (member == "padTo") {
            if (!isInteger(value, 0, kMaxPadTo))
                return QStringLiteral("\"padTo\" must be a byte count of at most %1").arg(kMaxPadTo);
        } else if (member == "delayMs") {
            if (!isInteger(value, 0, scenariolimits::kMaxDelayMs))
                return QStringLiteral("\"delayMs\" must be an integer from 0 to %1").arg(scenariolimits::kMaxDelayMs);
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
                } else if (key == "seed") {
                    if (!isInteger(option, 1, 0xFFFF'FFFFLL))
                        return QStringLiteral("\"chunked.seed\" must be an integer from 1 to 4294967295");
                } else if (key == "sliceBytes") {
                    if (!isInteger(option, 1, kMaxSliceBytes))
                        return QStringLiteral("\"chunked.sliceBytes\" must be an integer from 1 to %1")
                            .arg(kMaxSliceBytes);
                } else if (key != "id") {
                    return QStringLiteral("\"chunked\": unknown member \"%1\"").arg(json::toQString(key));
                }
            }
        } else {
            return QStringLiteral("unknown send member \"%1\"").arg(name);
        }
    }
    if ((action.contains("chunked") || action.contains("textPayload")) && !action.contains("frame"))
        return QStringLiteral("\"chunked\" and \"textPayload\" need a \"frame\"");
    return {};
}

double dumpedSize(const Json &value)
{
    return double(json::dump(value).size());
}

// At most what one send action puts on the wire. Frames are counted with room for the "data"
// envelope and the identity filled in from the subscription; a JSON text payload with room for
// escaping every character (at most six bytes each).
Cost costOfAction(const Json &action, qsizetype fillBytes)
{
    constexpr double kEnvelope = 160;
    double messageBytes = 0;
    double messages = 1;
    if (action.contains("text")) {
        messageBytes = double(action["text"].get_ref<const std::string &>().size());
    } else if (action.contains("message")) {
        messageBytes = dumpedSize(action["message"]);
    } else if (action.contains("frame")) {
        const Json &frame = action["frame"];
        double frameBytes = dumpedSize(frame) + double(fillBytes);
        if (action.value("textPayload", false) && frame.contains("payload"))
            frameBytes += 5 * dumpedSize(frame["payload"]) + 2;
        messageBytes = frameBytes + kEnvelope;
        if (action.contains("chunked")) {
            const Json &options = action["chunked"];
            const double slice = double(options.value("sliceBytes", qint64(12000)));
            double identity = kEnvelope + double(fillBytes) + dumpedSize(options["id"]);
            for (const char *key : {"tenantId", "sessionId", "turnId", "seq"})
                identity += frame.contains(key) ? dumpedSize(frame[key]) : 0;
            messages = std::ceil(frameBytes / slice) * (options.value("duplicate", false) ? 2 : 1);
            messageBytes = identity + 4 * std::ceil(slice / 3);
        }
    } else {
        return {}; // "drop" and "close" end the connection
    }
    messageBytes = std::max(messageBytes, double(action.value("padTo", qint64(0))));
    const double repeat = double(action.value("repeat", qint64(1)));
    return {messages * repeat, messages * repeat * messageBytes};
}
} // namespace

qint64 connectionTimeoutMs(const Json &step)
{
    return step.value("connectionTimeoutMs", kDefaultConnectionTimeoutMs);
}

qint64 keepAliveMs(const Json &step)
{
    if (step.contains("keepAliveMs"))
        return step["keepAliveMs"].get<qint64>();
    return std::clamp(connectionTimeoutMs(step) / 5, kMinKeepAliveMs, qint64(60'000));
}

Cost costOf(const Json &step, qsizetype fillBytes)
{
    Cost total;
    for (const char *list : {"beforeAck", "send"}) {
        for (const auto &action : step.value(list, Json::array())) {
            const Cost cost = costOfAction(action, fillBytes);
            total.messages += cost.messages;
            total.bytes += cost.bytes;
        }
    }
    return total;
}

QString validate(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a realtime step must be an object");
    for (const auto &[member, value] : step.items()) {
        if (member == "match" || member == "times") {
            continue; // checked by the scenario itself
        } else if (member == "handshake") {
            if (!value.is_string() ||
                (value != "accept" && value != "refuse" && value != "connection_error" && value != "silent"))
                return QStringLiteral("\"handshake\" is \"accept\", \"refuse\", \"connection_error\" or \"silent\"");
        } else if (member == "keepAliveMs") {
            if (!isInteger(value, 0, kMaxPeriodMs) ||
                (value.get<qint64>() > 0 && value.get<qint64>() < kMinKeepAliveMs))
                return QStringLiteral("\"keepAliveMs\" must be 0 (no keep-alive) or an integer from %1 to %2")
                    .arg(kMinKeepAliveMs)
                    .arg(kMaxPeriodMs);
        } else if (member == "connectionTimeoutMs") {
            if (!isInteger(value, 1, kMaxPeriodMs))
                return QStringLiteral("\"connectionTimeoutMs\" must be an integer from 1 to %1").arg(kMaxPeriodMs);
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
    const Cost cost = costOf(step, 0);
    if (cost.bytes > double(kStepBytes) || cost.messages > double(kStepMessages))
        return QStringLiteral("the step sends more than %1 messages or %2 bytes").arg(kStepMessages).arg(kStepBytes);
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

void registerService(ServiceRegistry &registry, std::shared_ptr<const LiveSessions> sessions)
{
    registry.addScenarioSection("realtime", validate);
    registry.addWebSocketRoute(
        {QStringLiteral("realtime"),
         platformhosts::isRealtimeHost,
         QRegularExpression(QRegularExpression::anchoredPattern(QStringLiteral("/(?:.*/)?realtime"))),
         {QStringLiteral("graphql-ws")},
         [sessions](QWebSocket *socket, ServiceContext &context) {
             new RealtimeConnection(socket, context, sessions);
         }});
}
} // namespace realtimeservice
