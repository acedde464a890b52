#include "ui/NativeJournalPresentation.h"

#include "core/GraphemeText.h"
#include "core/Json.h"
#include "live/NativePresence.h"
#include "ui/GadgetList.h"

#include <QHash>
#include <QSet>

#include <cmath>

namespace
{
const QHash<QString, QString> &titles()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("plan"), QStringLiteral("Plan update")},
        {QStringLiteral("usage"), QStringLiteral("Usage update")},
        {QStringLiteral("metadata"), QStringLiteral("Session metadata")},
        {QStringLiteral("text"), QStringLiteral("Text update")},
        {QStringLiteral("reasoning"), QStringLiteral("Reasoning update")},
        {QStringLiteral("tool_start"), QStringLiteral("Tool started")},
        {QStringLiteral("tool_end"), QStringLiteral("Tool finished")},
        {QStringLiteral("project_call"), QStringLiteral("Project request")},
        {QStringLiteral("project_result"), QStringLiteral("Project result")},
        {QStringLiteral("browser_live_view"), QStringLiteral("Browser view updated")},
        {QStringLiteral("screenshot"), QStringLiteral("Browser screenshot")},
        {QStringLiteral("hook"), QStringLiteral("Operator gate")},
        {QStringLiteral("check_release"), QStringLiteral("Release checks")},
        {QStringLiteral("session.frame.fragment"), QStringLiteral("Frame fragment")},
        {QStringLiteral("done"), QStringLiteral("Turn completed")},
        {QStringLiteral("error"), QStringLiteral("Session error")},
        {QStringLiteral("verify"), QStringLiteral("Verification update")},
        {QStringLiteral("handoff"), QStringLiteral("Specialist handoff")},
        {QStringLiteral("round"), QStringLiteral("Round update")},
        {QStringLiteral("approval"), QStringLiteral("Approval update")},
        {QStringLiteral("control"), QStringLiteral("Run control")},
        {QStringLiteral("workspace.connected"), QStringLiteral("Workspace connected")},
    };
    return table;
}

const QSet<QString> &tools()
{
    static const QSet<QString> set{
        QStringLiteral("read_file"),      QStringLiteral("list_directory"), QStringLiteral("search"),
        QStringLiteral("write_file"),     QStringLiteral("edit_file"),      QStringLiteral("approve_brief"),
        QStringLiteral("approve_deploy"), QStringLiteral("check_release"),  QStringLiteral("verify_build"),
        QStringLiteral("grade_review"),
    };
    return set;
}

const QSet<QString> &statuses()
{
    static const QSet<QString> set{
        QStringLiteral("running"), QStringLiteral("paused"),   QStringLiteral("stopped"),  QStringLiteral("completed"),
        QStringLiteral("failed"),  QStringLiteral("working"),  QStringLiteral("idle"),     QStringLiteral("ready"),
        QStringLiteral("success"), QStringLiteral("approved"), QStringLiteral("declined"), QStringLiteral("cancelled"),
    };
    return set;
}

// A JSON object read from `text`, or nothing when the text is longer than the parsing cap, is no
// JSON or is not an object. The size is measured before converting, so an oversized text costs no
// copy.
std::optional<Json> smallObject(QStringView text)
{
    if (graphemes::utf8Length(text) > NativeJournalPresentation::kMaxParsedBytes)
        return std::nullopt;
    std::optional<Json> parsed = json::tryParse(text.toUtf8());
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    return parsed;
}

std::optional<QString> stringAt(const Json &object, const char *key)
{
    return json::string(object, key);
}

// A token count worth showing: a JSON number (not a boolean, not text), finite, whole, 0 to 1e9.
std::optional<qint64> tokenCount(const Json &usage, const char *key)
{
    const auto it = usage.find(key);
    if (it == usage.end() || !it->is_number())
        return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        return value <= std::uint64_t(NativeJournalPresentation::kMaxTokens) ? std::optional<qint64>(qint64(value))
                                                                             : std::nullopt;
    }
    if (it->is_number_integer()) {
        const auto value = it->get<std::int64_t>();
        return value >= 0 && value <= qint64(NativeJournalPresentation::kMaxTokens) ? std::optional<qint64>(value)
                                                                                    : std::nullopt;
    }
    const double value = it->get<double>();
    if (!std::isfinite(value) || value < 0 || value > NativeJournalPresentation::kMaxTokens ||
        value != std::floor(value))
        return std::nullopt;
    return qint64(value);
}

Json stringObject(const EventPayload &payload)
{
    Json object = Json::object();
    for (auto it = payload.cbegin(); it != payload.cend(); ++it)
        object[it.key().toStdString()] = it.value().toStdString();
    return object;
}
} // namespace

QString NativeJournalPresentation::title(const QString &kind)
{
    return titles().value(kind);
}

NativeJournalPresentation::Entry NativeJournalPresentation::make(const QString &kind, const EventPayload &payload)
{
    static const QString sessionFrame = QStringLiteral("session.frame");

    Json frame = Json::object();
    if (kind == sessionFrame)
        if (const auto text = payload.constFind(QStringLiteral("frame")); text != payload.cend())
            if (std::optional<Json> object = smallObject(*text))
                frame = std::move(*object);

    const QString effectiveKind = stringAt(frame, "kind").value_or(kind);
    const QString kindTitle = title(effectiveKind);
    Entry entry;
    entry.headline = kindTitle.isEmpty() ? QStringLiteral("Journal update") : effectiveKind;

    Json inner;
    const auto framePayload = frame.find("payload");
    if (framePayload != frame.end() && framePayload->is_object())
        inner = *framePayload;
    else
        inner = stringObject(payload);
    if (framePayload != frame.end() && framePayload->is_string())
        if (std::optional<Json> object = smallObject(json::toQString(framePayload->get_ref<const std::string &>())))
            inner = std::move(*object);

    QStringList lines;
    if (!kindTitle.isEmpty())
        lines.append(kindTitle);
    else if (effectiveKind == sessionFrame)
        lines.append(QStringLiteral("Large frame content omitted"));
    else
        lines.append(QStringLiteral("No displayable frame metadata"));

    // A frame's own agent decides: when it is no role, the payload's agent is not asked instead.
    const std::optional<QString> agent =
        frame.contains("agent") && frame["agent"].is_string() ? stringAt(frame, "agent") : stringAt(inner, "agent");
    if (agent && NativePresence::isRole(*agent))
        lines.append(*agent);

    const std::optional<QString> tool =
        inner.contains("tool") && inner["tool"].is_string() ? stringAt(inner, "tool") : stringAt(inner, "name");
    if (tool && tools().contains(*tool))
        lines.append(*tool);

    if (const std::optional<QString> status = stringAt(inner, "status"); status && statuses().contains(*status))
        lines.append(*status);

    if (effectiveKind == QLatin1StringView("text") || effectiveKind == QLatin1StringView("reasoning"))
        if (const auto it = inner.find("text"); it != inner.end() && it->is_string())
            lines.append(QStringLiteral("%1 characters")
                             .arg(graphemes::count(json::toQString(it->get_ref<const std::string &>()))));

    const auto usageIt = inner.find("usage");
    const Json &usage = usageIt != inner.end() && usageIt->is_object() ? *usageIt : inner;
    static const std::pair<const char *, const char *> counters[] = {{"inputTokens", "input"},
                                                                     {"outputTokens", "output"}};
    for (const auto &[key, word] : counters)
        if (const std::optional<qint64> count = tokenCount(usage, key))
            lines.append(QStringLiteral("%1 %2 tokens").arg(*count).arg(QLatin1StringView(word)));

    entry.detail = detail(lines);
    return entry;
}

QString NativeJournalPresentation::detail(const QStringList &lines)
{
    return graphemes::first(lines.join(QStringLiteral(" · ")), kMaxDetailCharacters);
}

JournalBlock NativeJournalPresentation::block(const QList<WorkspaceEvent> &events)
{
    JournalBlock block;
    const qsizetype shown = std::min(events.size(), kShownRows);
    block.countText = QStringLiteral("Last %1 deltas · No cloud evidence inferred").arg(shown);
    for (qsizetype i = events.size() - 1; i >= events.size() - shown; --i) {
        const WorkspaceEvent &event = events[i];
        const Entry entry = make(event.kind, event.payload);
        block.rows.append({event.id, entry.headline, entry.detail});
    }
    return block;
}

QVariantList JournalBlock::rowValues() const
{
    return gadgetList(rows);
}
