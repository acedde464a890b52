#include "live/EventProjection.h"

#include "core/GraphemeText.h"
#include "live/NativePresence.h"
#include "live/PayloadInput.h"
#include "live/ReadPayload.h"
#include "live/StrictNumbers.h"

#include <QRegularExpression>

#include <cmath>

namespace
{
const QString kUnattributed = QStringLiteral("Unattributed");

bool isApprovalTool(const QString &tool)
{
    return tool == QLatin1StringView("approve_brief") || tool == QLatin1StringView("approve_deploy");
}

bool isTurnEnd(const QString &kind)
{
    return kind == QLatin1StringView("done") || kind == QLatin1StringView("turn_end") ||
           kind == QLatin1StringView("turn_completed");
}

bool isErrorCode(const QString &code)
{
    if (code.isEmpty() || code.size() > 64)
        return false;
    for (const QChar c : code)
        if (!((c >= u'A' && c <= u'Z') || c == u'_'))
            return false;
    return true;
}

// The first of `keys` that reads as text.
std::optional<QString> firstText(const ReadPayload &payload, std::initializer_list<std::string_view> keys)
{
    for (const auto key : keys)
        if (auto text = payload.value(key).string())
            return text;
    return std::nullopt;
}

} // namespace

EventProjection::EventProjection(const QList<WorkspaceEvent> &events)
{
    for (const auto &event : events)
        consume(event);
}

bool EventProjection::passesTurnFilter(const WorkspaceEvent &event, const ReadPayload &payload)
{
    std::optional<QString> turn = payload.value("turnId").string();
    if (turn && turn->isEmpty())
        turn.reset();
    if (event.kind == QLatin1StringView("metadata") && payload.raw("teamBundle")) {
        if (!turn)
            return !currentTurnID;
        if (turn == currentTurnID)
            return true;
        if (recentTurnIDs.contains(*turn))
            return false; // a turn seen before: stale
        beginTurn(*turn);
        return true;
    }
    if (!currentTurnID)
        return true;
    return turn && *turn == *currentTurnID;
}

void EventProjection::beginTurn(const QString &turnID)
{
    currentTurnID = turnID;
    recentTurnIDs.append(turnID);
    if (recentTurnIDs.size() > kMaxRecentTurns)
        recentTurnIDs.removeFirst();
    turnCompleted = false;
    latestErrorCode.reset();
    releaseAuthorized.reset();
    reviewerGrade.reset();
    positions.clear();
    reasoning.clear();
    responseOrder.clear();
    requiredRoles.clear();
    observedRoles.clear();
    approvals.clear();
    elicitations.clear();
    responses.clear();
    evaluators.clear();
    evaluatorLabels.clear();
    evaluatorDetails.clear();
    toolCalls.clear();
    m_toolInputs.clear();
    responseBoundaryOwners.clear();
    m_responseClusters.clear();
    m_reasoningBytes.clear();
    m_reasoningTotal = 0;
}

void EventProjection::consume(const WorkspaceEvent &event)
{
    const ReadPayload payload(event.payload);
    if (!passesTurnFilter(event, payload))
        return;
    const QString &kind = event.kind;

    bool appliedError = false;
    if (kind == QLatin1StringView("done"))
        turnCompleted = true;
    if (kind == QLatin1StringView("error")) {
        const ReadValue final = payload.value("final");
        if (!(final.isBoolean() && !final.json->get<bool>())) {
            turnCompleted = false;
            releaseAuthorized = false;
            QString code = payload.value("code").string().value_or(QString());
            latestErrorCode = isErrorCode(code) ? code : QStringLiteral("UNKNOWN");
            appliedError = true;
        }
    }

    const QString *rawAgent = payload.raw("agent");
    const QString &agent = rawAgent ? *rawAgent : kUnattributed;
    const std::optional<QString> session = firstText(payload, {"session_id", "sessionId", "runtimeSessionId"});
    const PayloadInput input(payload);

    takePositions(event.id, agent, input, payload);

    // Free text (answers, reasoning, streamed tool input) is taken as it arrived: a chunk of it may
    // happen to read as JSON ("42", "\"quoted\"", "null") and must not be changed or dropped.
    if (kind == QLatin1StringView("reasoning"))
        if (const QString *text = payload.raw("text"))
            appendReasoning(*text);
    if (kind == QLatin1StringView("usage") || kind == QLatin1StringView("tool_start"))
        if (NativePresence::isRole(agent))
            responseBoundaryOwners.insert(agent);
    if (kind == QLatin1StringView("text"))
        if (const QString *text = payload.raw("text"); text && !text->isEmpty() && NativePresence::isRole(agent))
            appendResponse(agent, *text);

    if (const ReadValue content = payload.value("content"); content.isArray()) {
        const bool allObjects = std::all_of(content.json->begin(), content.json->end(),
                                            [](const Json &block) { return block.is_object(); });
        if (allObjects) {
            for (const Json &block : *content.json) {
                const auto nested = block.find("reasoningContent");
                if (nested != block.end() && nested->is_object())
                    appendReasoning(*nested);
                else if (json::string(block, "type") == QLatin1StringView("reasoningContent"))
                    appendReasoning(block);
            }
        }
    }
    if (const ReadValue nested = payload.value("reasoningContent"); nested.isObject())
        appendReasoning(*nested.json);

    const ReadValue index = payload.value("index");
    const QString key =
        agent + QLatin1Char(':') + (index.isNumber() ? strictnumbers::plainText(*index.json) : QStringLiteral("0"));

    if (kind == QLatin1StringView("tool_start")) {
        const auto id = firstText(payload, {"id", "toolUseId"});
        const auto tool = firstText(payload, {"tool", "name"});
        if (id && tool) {
            ToolCall call{*id, *tool, QByteArray(), session};
            toolCalls.insert(key, call);
            m_toolInputs.remove(key);
            if (isApprovalTool(*tool))
                upsertApproval(liveApproval(call, input.firstPresent({"brief", "summary", "reason"})));
        }
    }
    if (const QString *delta = payload.raw("inputDelta"))
        takeToolInput(key, *delta);
    if (kind == QLatin1StringView("verify"))
        if (const auto toolUse = payload.value("toolUseId").string(); toolUse && payload.raw("decision"))
            resolveApproval(*toolUse);
    if (kind == QLatin1StringView("tool_end")) {
        if (const auto id = firstText(payload, {"id", "toolUseId"})) {
            resolveApproval(*id);
        } else if (const auto call = toolCalls.constFind(key); call != toolCalls.constEnd()) {
            resolveApproval(call->id);
        }
        toolCalls.remove(key);
        m_toolInputs.remove(key);
    }
    takeInputRequest(payload);
    if (kind == QLatin1StringView("verify") || kind == QLatin1StringView("check_release"))
        takeRelease(payload, input);
    if (appliedError || isTurnEnd(kind))
        clearPending();
}

void EventProjection::takePositions(const QString &eventID, const QString &agent, const PayloadInput &input,
                                    const ReadPayload &payload)
{
    if (const auto position = input.value("position").string()) {
        positions.removeIf([&](const Position &p) { return p.owner == agent; });
        positions.append(Position{eventID, agent, *position, describe(input.value("confidence")),
                                  describe(input.value("depends_on")), describe(input.value("conflicts_with"))});
    }
    const ReadValue reconciliation = payload.value("reconciliation");
    if (!reconciliation.isArray())
        return;
    for (const Json &entry : *reconciliation.json)
        if (!entry.is_object())
            return; // only a list of objects is walked
    for (const Json &entry : *reconciliation.json) {
        const auto owner = json::string(entry, "owner");
        const auto position = json::string(entry, "position");
        const ReadValue confidence = ReadValue::of(entry, "confidence");
        const ReadValue dependsOn = ReadValue::of(entry, "depends_on");
        const ReadValue conflictsWith = ReadValue::of(entry, "conflicts_with");
        if (entry.empty() || !owner || !position || !confidence.isNumber() || !dependsOn.isStringList() ||
            !conflictsWith.isStringList())
            continue;
        const double value = confidence.json->get<double>();
        if (!std::isfinite(value) || value < 0 || value > 1)
            continue;
        positions.removeIf([&](const Position &p) { return p.owner == *owner; });
        positions.append(Position{eventID + QLatin1Char(':') + *owner, *owner, *position,
                                  strictnumbers::plainText(*confidence.json), describe(dependsOn),
                                  describe(conflictsWith)});
    }
}

void EventProjection::appendReasoning(const QString &text)
{
    if (text.isEmpty())
        return;
    if (m_reasoningBytes.size() != reasoning.size()) {
        // The list was changed from outside: count it again.
        m_reasoningBytes.clear();
        m_reasoningTotal = 0;
        for (const QString &block : std::as_const(reasoning)) {
            m_reasoningBytes.append(graphemes::utf8Length(block));
            m_reasoningTotal += m_reasoningBytes.back();
        }
    }
    reasoning.append(text);
    m_reasoningBytes.append(graphemes::utf8Length(text));
    m_reasoningTotal += m_reasoningBytes.back();
    while (!reasoning.isEmpty() && (reasoning.size() > kMaxReasoningBlocks || m_reasoningTotal > kMaxReasoningBytes)) {
        reasoning.removeFirst();
        m_reasoningTotal -= m_reasoningBytes.takeFirst();
    }
}

void EventProjection::appendReasoning(const Json &object)
{
    const auto nested = object.find("reasoningText");
    if (nested != object.end() && nested->is_object()) {
        if (const auto text = json::string(*nested, "text")) {
            appendReasoning(*text);
            return;
        }
    }
    if (const auto text = json::string(object, "text"))
        appendReasoning(*text);
}

void EventProjection::appendResponse(const QString &agent, const QString &text)
{
    QString &stored = responses[agent];
    const bool boundary = responseBoundaryOwners.remove(agent);
    const auto counted = m_responseClusters.constFind(agent);
    const qsizetype clusters =
        counted != m_responseClusters.constEnd() && counted->length == stored.size() ? counted->clusters : -1;
    static const graphemes::Tail tail(kMaxResponseCharacters);
    qsizetype kept = 0;
    if (boundary && !stored.isEmpty())
        kept = tail.append(stored, clusters, QString(QStringLiteral("\n\n") + text));
    else
        kept = tail.append(stored, clusters, text);
    m_responseClusters.insert(agent, Counted{stored.size(), kept});
    responseOrder.removeOne(agent);
    responseOrder.append(agent);
}

void EventProjection::takeToolInput(const QString &key, const QString &delta)
{
    const auto call = toolCalls.find(key);
    if (call == toolCalls.end())
        return;
    ToolInputProgress &progress = m_toolInputs[key];
    // Once a piece did not fit, the stored input ends there: a later, smaller piece appended
    // after the refused one would splice a text the agent never sent.
    if (progress.cut)
        return;
    const QByteArray bytes = delta.toUtf8();
    const bool fits = call->input.size() + bytes.size() <= kMaxToolInputBytes;
    if (fits)
        call->input.append(bytes);
    else
        progress.cut = true;

    // Only an approval needs its input as a value, and only once the input can be a whole object:
    // the scan follows it piece by piece, so a long input costs time in its length, not in its
    // square. The piece that did not fit is looked at on a copy of the scan.
    if (!isApprovalTool(call->tool))
        return;
    const bool wasClosed = progress.scan.state() == StreamedObjectScan::State::Closed;
    StreamedObjectScan scan = progress.scan;
    const auto state = scan.feed(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (fits)
        progress.scan = scan;
    if (state != StreamedObjectScan::State::Closed)
        return;
    if (!wasClosed) {
        // Closed by this piece: parse once. Later pieces can only add white space, which changes
        // nothing the parser sees.
        const auto parsed = json::tryParse(fits ? call->input : call->input + bytes);
        progress.isObject = parsed && parsed->is_object();
        progress.summary.reset();
        if (progress.isObject) {
            for (const char *name : {"brief", "summary", "reason"}) {
                if (const auto it = parsed->find(name); it != parsed->end()) {
                    progress.summary = *it;
                    break;
                }
            }
        }
    }
    if (progress.isObject)
        upsertApproval(liveApproval(*call, progress.summary ? ReadValue{&*progress.summary, nullptr} : ReadValue{}));
}

QString EventProjection::describe(const ReadValue &value)
{
    if (value.isStringList()) {
        const QStringList texts = value.stringList();
        return texts.isEmpty() ? QStringLiteral("None") : texts.join(QStringLiteral(", "));
    }
    if (auto text = value.string())
        return *std::move(text);
    if (value.isNumber())
        return strictnumbers::plainText(*value.json);
    return QStringLiteral("\u2014");
}

QString EventProjection::responseExcerpt(const QString &agent, qsizetype limit) const
{
    const QString stored = responses.value(agent);
    limit = std::max<qsizetype>(limit, 0);

    // Fenced blocks out, each from one ``` to the next, across lines; an unclosed fence stays.
    QString text;
    text.reserve(stored.size());
    const QLatin1StringView fence("```");
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = stored.indexOf(fence, from);
        const qsizetype close = open < 0 ? -1 : stored.indexOf(fence, open + 3);
        if (close < 0) {
            text.append(QStringView(stored).sliced(from));
            break;
        }
        text.append(QStringView(stored).sliced(from, open - from));
        from = close + 3;
    }

    static const QRegularExpression memberName(QStringLiteral("^\"[^\"]+\"\\s*:"));
    QStringList kept;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        qsizetype b = 0;
        qsizetype e = line.size();
        while (b < e && (line[b] == u' ' || line[b] == u'\t'))
            ++b;
        while (e > b && (line[e - 1] == u' ' || line[e - 1] == u'\t'))
            --e;
        const QStringView trimmed = line.sliced(b, e - b);
        if (trimmed.isEmpty() || trimmed == u"{" || trimmed == u"}" || trimmed == u"[" || trimmed == u"]")
            continue;
        if (memberName.match(trimmed).hasMatch())
            continue;
        kept.append(line.toString());
    }
    const QString joined = kept.join(QLatin1Char(' ')).trimmed();
    if (joined.isEmpty())
        return stored.isEmpty() ? QString() : QStringLiteral("Technical detail available in Full update.");

    const auto cuts = graphemes::boundaries(joined);
    const auto clusters = qsizetype(cuts.size());
    if (clusters <= limit)
        return joined;
    const auto isSpaceAt = [&](qsizetype offset) { return joined.at(offset).isSpace(); };
    if (turnCompleted) {
        const qsizetype end = limit == 0 ? 0 : cuts[size_t(limit - 1)];
        // Cut before the last white-space character among the first `limit` ones.
        qsizetype cut = end;
        for (qsizetype i = limit - 1; i >= 0; --i) {
            const qsizetype start = i == 0 ? 0 : cuts[size_t(i - 1)];
            if (isSpaceAt(start)) {
                cut = start;
                break;
            }
        }
        return joined.first(cut).trimmed() + QStringLiteral(" \u2026");
    }
    const qsizetype begin = clusters - limit == 0 ? 0 : cuts[size_t(clusters - limit - 1)];
    qsizetype cut = begin;
    for (qsizetype i = clusters - limit; i < clusters; ++i) {
        const qsizetype start = i == 0 ? 0 : cuts[size_t(i - 1)];
        if (isSpaceAt(start)) {
            cut = start;
            break;
        }
    }
    return QStringLiteral("\u2026 ") + joined.sliced(cut).trimmed();
}
