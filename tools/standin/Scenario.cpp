#include "standin/Scenario.h"

#include "standin/PlatformHosts.h"
#include "standin/ScriptedStep.h"

namespace
{
// The members every section's steps share, which the scenario itself reads: "match" and "times".
QString commonMistake(const Json &step)
{
    if (!step.is_object())
        return {};
    if (step.contains("match") && !step["match"].is_object())
        return QStringLiteral("\"match\" must be an object");
    if (step.contains("times") && !scenariolimits::isInteger(step["times"], 1, scenariolimits::kMaxTimes))
        return QStringLiteral("\"times\" must be an integer from 1 to %1").arg(scenariolimits::kMaxTimes);
    return {};
}
} // namespace

std::optional<Scenario> Scenario::fromJson(const Json &document, const Sections &sections, QString *error)
{
    auto fail = [&](const QString &why) {
        *error = why;
        return std::nullopt;
    };
    if (!document.is_object())
        return fail(QStringLiteral("the scenario must be a JSON object"));

    Scenario scenario;
    for (const auto &[name, content] : document.items()) {
        const QString where = json::toQString(name);
        if (name == "hosts") {
            if (!content.is_array())
                return fail(QStringLiteral("\"hosts\" must be an array of host names"));
            if (content.size() > size_t(scenariolimits::kMaxHosts))
                return fail(QStringLiteral("\"hosts\" names at most %1 hosts").arg(scenariolimits::kMaxHosts));
            for (const auto &host : content) {
                // Plain ASCII names only: case mapping must not turn another letter into an ASCII one.
                if (!host.is_string() || !platformhosts::isDnsName(json::toQString(host.get<std::string>())))
                    return fail(QStringLiteral("\"hosts\" must be an array of host names"));
                scenario.m_extraHosts.append(json::toQString(host.get<std::string>()).toLower());
            }
            continue;
        }
        const auto section = sections.find(name);
        if (section == sections.end())
            return fail(QStringLiteral("unknown section \"%1\"").arg(where));
        if (!content.is_object())
            return fail(QStringLiteral("section \"%1\" must be an object").arg(where));
        for (const auto &[key, script] : content.items()) {
            const QString at = where + u'.' + json::toQString(key);
            if (!script.is_object())
                return fail(QStringLiteral("%1 must be an object with \"queue\" and/or \"default\"").arg(at));
            Script parsed;
            for (const auto &[member, value] : script.items()) {
                if (member == "queue") {
                    if (!value.is_array())
                        return fail(QStringLiteral("%1.queue must be an array of steps").arg(at));
                    for (size_t i = 0; i < value.size(); ++i) {
                        QString why = commonMistake(value[i]);
                        if (why.isEmpty())
                            why = section->second(value[i]);
                        if (!why.isEmpty())
                            return fail(QStringLiteral("%1.queue[%2]: %3").arg(at).arg(i).arg(why));
                        parsed.queue.push_back({value[i], value[i].value("times", qint64(1))});
                    }
                } else if (member == "default") {
                    QString why = commonMistake(value);
                    if (why.isEmpty())
                        why = section->second(value);
                    if (!why.isEmpty())
                        return fail(QStringLiteral("%1.default: %2").arg(at, why));
                    parsed.fallback = value;
                } else {
                    return fail(QStringLiteral("%1: unknown member \"%2\"").arg(at, json::toQString(member)));
                }
            }
            scenario.m_scripts[scriptKey(name, key)] = std::move(parsed);
        }
    }
    return scenario;
}

std::string Scenario::scriptKey(std::string_view section, std::string_view key)
{
    std::string joined(section);
    joined += '\0';
    joined += key;
    return joined;
}

std::optional<Json> Scenario::take(std::string_view section, std::string_view key, const Json &view)
{
    const auto it = m_scripts.find(scriptKey(section, key));
    if (it == m_scripts.end())
        return std::nullopt;
    Script &script = it->second;
    auto holds = [&](const Json &step) {
        return !step.contains("match") || scriptedstep::matches(step["match"], view);
    };
    for (auto entry = script.queue.begin(); entry != script.queue.end(); ++entry) {
        if (!holds(entry->step))
            continue;
        Json step = entry->step;
        if (--entry->remaining == 0)
            script.queue.erase(entry);
        return step;
    }
    if (script.fallback && holds(*script.fallback))
        return script.fallback;
    return std::nullopt;
}
