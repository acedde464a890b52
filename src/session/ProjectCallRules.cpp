#include "session/ProjectCallRules.h"

#include "core/HubError.h"

#include <QCryptographicHash>

#include <cmath>

namespace projectcalls
{
namespace
{
std::optional<QString> text(const Json &object, std::string_view key, qsizetype shortest, qsizetype longest)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    const auto &utf8 = it->get_ref<const std::string &>();
    if (qsizetype(utf8.size()) < shortest || qsizetype(utf8.size()) > longest)
        return std::nullopt;
    return json::toQString(utf8);
}
} // namespace

const QString &historySentence()
{
    static const QString sentence = QStringLiteral(
        "Project-call history reached its safety limit. Further local tools are refused in this workspace view.");
    return sentence;
}

const QString &budgetSentence()
{
    static const QString sentence =
        QStringLiteral("Project answers await confirmation. Retry after pending results settle.");
    return sentence;
}

const QString &changedReplaySentence()
{
    static const QString sentence =
        QStringLiteral("A changed project-call replay was refused; the original local work was not repeated.");
    return sentence;
}

const QString &unconfirmedSentence()
{
    static const QString sentence =
        QStringLiteral("Project result could not be confirmed. Its cached outcome is retained for this session.");
    return sentence;
}

std::optional<Call> admit(const Json &frame, const Json &payload, const Context &context)
{
    if (!frame.is_object() || !payload.is_object())
        return std::nullopt;
    Call call;
    const auto session = json::string(frame, "sessionId");
    const auto tenant = json::string(frame, "tenantId");
    const auto hands = json::string(payload, "handsId");
    if (!session || *session != context.sessionID || !tenant || *tenant != context.tenantID || !hands ||
        *hands != context.handsID)
        return std::nullopt;
    const auto toolUse = text(payload, "toolUseId", 1, kLongestID);
    const auto turn = text(frame, "turnId", 1, kLongestID);
    const auto tool = text(payload, "tool", 0, kLongestTool);
    if (!toolUse || !turn || !tool)
        return std::nullopt;
    const auto deadline = payload.find("deadline");
    if (deadline == payload.end() || !deadline->is_number() || !context.hasHands)
        return std::nullopt;
    call.deadline = deadline->get<double>();
    if (!std::isfinite(call.deadline) || !(context.now < call.deadline))
        return std::nullopt;

    call.sessionID = *session;
    call.tenantID = *tenant;
    call.turnID = *turn;
    call.toolUseID = *toolUse;
    call.tool = *tool;
    call.handsID = *hands;
    const auto agent = frame.find("agent");
    call.agent = agent == frame.end() ? Json(nullptr) : *agent;
    call.agentText = call.agent.is_string() ? json::toQString(call.agent.get<std::string>()) : QString();
    return call;
}

QString callKey(const Call &call)
{
    const Json identity =
        Json::array({json::toStd(call.sessionID), json::toStd(call.turnID), json::toStd(call.toolUseID)});
    return QString::fromLatin1(QCryptographicHash::hash(json::dump(identity), QCryptographicHash::Sha256).toHex());
}

QByteArray requestDigest(const Json &agent, const Json &payload)
{
    // The JSON objects keep their keys sorted at every level, so equal content writes equal text.
    const Json request{{"agent", agent}, {"payload", payload}};
    return QCryptographicHash::hash(json::dump(request), QCryptographicHash::Sha256);
}

void prune(QHash<QString, ProjectAnswer> &answers, QHash<QString, ProjectCallTombstone> &tombstones,
           const QString &sessionID, double now)
{
    answers.removeIf([&](const auto &entry) {
        const ProjectAnswer &answer = entry.value();
        return answer.sessionID != sessionID || answer.recorded || !(now < answer.deadline);
    });
    tombstones.removeIf([&](const auto &entry) { return entry.value().sessionID != sessionID; });
}

void checkLimits(const QHash<QString, ProjectAnswer> &answers, const QHash<QString, ProjectCallTombstone> &tombstones,
                 const QSet<QString> &inFlight)
{
    if (tombstones.size() >= kHistoryLimit)
        throw HubError(historySentence());
    qint64 total = 0;
    for (const QString &key : inFlight)
        if (!answers.contains(key))
            total += kReservation;
    for (const ProjectAnswer &answer : answers)
        total += answer.payloadBytes();
    if (total > kAnswerBudget)
        throw HubError(budgetSentence());
}

const QString &answerDocument()
{
    static const QString document = QStringLiteral("mutation NativeAnswer($input: TavriloProjectCallAnswerInput!) { "
                                                   "tavriloAnswerProjectCall(input: $input) { ok refusal detail } }");
    return document;
}

Json answerVariables(const Call &call, const ProjectAnswer &answer)
{
    Json changed = Json::array();
    for (const QString &path : answer.changed)
        changed.push_back(json::toStd(path));
    return Json{{"input",
                 {{"sessionId", json::toStd(call.sessionID)},
                  {"toolUseId", json::toStd(call.toolUseID)},
                  {"tool", json::toStd(call.tool)},
                  {"handsId", json::toStd(call.handsID)},
                  {"status", json::toStd(answer.status)},
                  {"result", json::toStd(answer.result)},
                  {"changed", std::move(changed)}}}};
}

Verdict judge(const Json &data)
{
    const auto reply = data.is_object() ? data.find("tavriloAnswerProjectCall") : data.end();
    if (!data.is_object() || reply == data.end() || !reply->is_object())
        return Verdict::retry;
    if (const auto ok = reply->find("ok"); ok != reply->end() && ok->is_boolean() && ok->get<bool>())
        return Verdict::recorded;
    const std::optional<QString> refusal = json::string(*reply, "refusal");
    if (refusal == QLatin1String("CALL_ANSWERED"))
        return Verdict::recorded;
    if (!refusal || refusal == QLatin1String("FAILED") || refusal == QLatin1String("PLATFORM_UNAVAILABLE"))
        return Verdict::retry;
    return Verdict::refused;
}
} // namespace projectcalls
