// Approvals and input requests of EventProjection: the gates that wait for the user.
#include "live/EventProjection.h"

#include "live/ReadPayload.h"
#include "live/StrictNumbers.h"

#include <algorithm>

namespace
{
bool isLowerHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

std::optional<QString> optionalText(const Json &object, std::string_view key)
{
    return json::string(object, key);
}

QStringList textList(const Json &object, std::string_view key)
{
    const ReadValue value = ReadValue::of(object, key);
    return value.stringList();
}

// A record field that may arrive as a value or as the JSON text of one; unparsable text counts as
// absent.
std::optional<Json> valueOrParsedText(const Json &record, std::string_view key)
{
    const auto it = record.find(key);
    if (it == record.end())
        return std::nullopt;
    if (it->is_string())
        return json::tryParse(it->get_ref<const std::string &>());
    return *it;
}
} // namespace

bool EventProjection::Approval::hasBriefProof() const
{
    if (tool != QLatin1StringView("approve_brief"))
        return false;
    if (!turnID || turnID->isEmpty())
        return false;
    if (!revision || !isLowerHexDigest(*revision))
        return false;
    if (!round || round->isEmpty())
        return false;
    const auto value = strictnumbers::signedInteger(*round);
    if (!value || *value < 1)
        return false;
    if (acceptanceCriteria.isEmpty() || acceptanceCriteria.size() > 64)
        return false;
    return std::none_of(acceptanceCriteria.begin(), acceptanceCriteria.end(),
                        [](const QString &criterion) { return criterion.trimmed().isEmpty(); });
}

EventProjection::Approval EventProjection::liveApproval(const ToolCall &call, const ReadValue &summary)
{
    Approval approval;
    approval.id = call.id;
    approval.toolUseID = call.id;
    approval.tool = call.tool;
    approval.sessionID = call.session;
    approval.summary = describe(summary);
    return approval; // never ready: only a pending record from the platform proves an approval
}

void EventProjection::upsertApproval(Approval approval)
{
    resolveApproval(approval.toolUseID);
    approvals.append(std::move(approval));
}

void EventProjection::resolveApproval(const QString &toolUseID)
{
    approvals.removeIf([&](const Approval &approval) { return approval.toolUseID == toolUseID; });
}

void EventProjection::resolveElicitation(const QString &requestID)
{
    elicitations.removeIf([&](const Elicitation &request) { return request.requestID == requestID; });
}

void EventProjection::clearPending()
{
    approvals.clear();
    elicitations.clear();
    toolCalls.clear();
    m_toolInputs.clear();
}

std::optional<EventProjection::Approval> EventProjection::durableApproval(const Json &record, const QString &sessionID)
{
    const auto id = json::string(record, "id");
    const auto kind = json::string(record, "kind");
    if (!id || id->isEmpty() || !kind || (*kind != QLatin1StringView("brief") && *kind != QLatin1StringView("deploy")))
        return std::nullopt;
    const ReadValue pausedValue = ReadValue::of(record, "paused");
    const bool paused = pausedValue.isBoolean() && pausedValue.json->get<bool>();
    const auto decision = optionalText(record, "decision");
    const auto recordedAt = optionalText(record, "recordedAt");
    if (!paused) {
        const bool decided = decision == QLatin1StringView("approved") || decision == QLatin1StringView("declined");
        if (!decided || !recordedAt || recordedAt->isEmpty())
            return std::nullopt;
    }

    Approval approval;
    approval.id = *id;
    approval.toolUseID = *id;
    approval.tool =
        *kind == QLatin1StringView("deploy") ? QStringLiteral("approve_deploy") : QStringLiteral("approve_brief");
    approval.sessionID = sessionID;
    approval.summary = optionalText(record, "summary").value_or(QString());
    approval.detail = textList(record, "detail");
    approval.acceptanceCriteria = textList(record, "acceptanceCriteria");
    approval.turnID = optionalText(record, "turnId");
    approval.revision = optionalText(record, "revision");
    approval.round = optionalText(record, "round");
    if (paused) {
        approval.ready = approval.tool == QLatin1StringView("approve_deploy") || approval.hasBriefProof();
    } else {
        approval.decision = decision;
        approval.recordedAt = recordedAt;
    }
    return approval;
}

std::optional<EventProjection::Elicitation> EventProjection::elicitation(const QString &requestID, const Json &params,
                                                                         std::optional<Json> state,
                                                                         std::optional<QString> stateJSON)
{
    const auto mode = json::string(params, "mode");
    if (!mode || (*mode != QLatin1StringView("form") && *mode != QLatin1StringView("url")))
        return std::nullopt;
    Elicitation request;
    request.id = requestID;
    request.requestID = requestID;
    request.mode = *mode;
    request.message = json::string(params, "message").value_or(QStringLiteral("Runtime requests input"));
    if (const auto schema = params.find("requestedSchema"); schema != params.end() && schema->is_object())
        request.schema = *schema;
    if (const auto properties = request.schema.find("properties");
        properties != request.schema.end() && properties->is_object()) {
        for (const auto &[name, unused] : properties->items())
            request.fields.append(json::toQString(name));
        std::sort(request.fields.begin(), request.fields.end());
    }
    request.requestState = std::move(state);
    request.requestStateJSON = std::move(stateJSON);
    request.url = json::string(params, "url");
    return request;
}

std::optional<EventProjection::Elicitation> EventProjection::pendingElicitation(const Json &record)
{
    const auto requestID = json::string(record, "requestId");
    if (!requestID)
        return std::nullopt;
    const auto params = valueOrParsedText(record, "params");
    if (!params || !params->is_object())
        return std::nullopt;
    const auto state = valueOrParsedText(record, "requestState");
    const auto stateText = json::string(record, "requestState");
    return elicitation(*requestID, *params, state, stateText);
}

void EventProjection::takeInputRequest(const ReadPayload &payload)
{
    const auto method = payload.value("method").string();
    if (!method)
        return;
    if (*method == QLatin1StringView("elicitation/create")) {
        const auto requestID = payload.value("requestId").string();
        const ReadValue params = payload.value("params");
        if (!requestID || !params.isObject())
            return;
        std::optional<Json> state;
        if (const auto it = params.json->find("requestState"); it != params.json->end())
            state = *it;
        auto request =
            elicitation(*requestID, *params.json, std::move(state), json::string(*params.json, "requestStateJSON"));
        if (request) {
            resolveElicitation(*requestID);
            elicitations.append(*std::move(request));
        }
    } else if (*method == QLatin1StringView("elicitation/complete")) {
        if (const auto requestID = payload.value("requestId").string())
            resolveElicitation(*requestID);
    }
}
