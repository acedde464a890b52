#include "standin/ProjectAnswers.h"

#include "standin/EventLog.h"
#include "standin/ServiceRegistry.h"

#include <QSet>

#include <deque>

namespace projectanswers
{
namespace
{
// Calls remembered as answered; the oldest is forgotten past this many, so a long demo stays small.
constexpr qsizetype kRememberedCalls = 100000;

Json validationError(const std::string &message)
{
    return Json{{"data", nullptr}, {"errors", Json::array({{{"errorType", "ValidationError"}, {"message", message}}})}};
}

// What the schema says of an input that does not fit TavriloProjectCallAnswerInput.
std::optional<std::string> schemaViolation(const Json &variables)
{
    const auto input = variables.find("input");
    if (input == variables.end() || !input->is_object())
        return "Variable 'input' has an invalid value: an input object is required.";
    static const char *const texts[] = {"sessionId", "toolUseId", "tool", "handsId", "status", "result"};
    for (const char *name : texts) {
        const auto it = input->find(name);
        if (it == input->end() || !it->is_string())
            return std::string("Variable '") + name + "' has an invalid value: a string is required.";
    }
    const auto changed = input->find("changed");
    if (changed == input->end() || !changed->is_array() ||
        !std::all_of(changed->begin(), changed->end(), [](const Json &path) { return path.is_string(); }))
        return "Variable 'changed' has an invalid value: a list of strings is required.";
    for (const auto &[name, value] : input->items())
        if (name != "changed" &&
            std::none_of(std::begin(texts), std::end(texts), [&](const char *n) { return name == n; }))
            return "Variable 'input' has an invalid value: unknown field '" + name + "'.";
    return std::nullopt;
}

struct Answered
{
    QSet<QString> calls;
    std::deque<QString> order;

    // Remembers the call; false when it was answered before.
    bool take(const QString &call)
    {
        if (calls.contains(call))
            return false;
        calls.insert(call);
        order.push_back(call);
        if (qsizetype(order.size()) > kRememberedCalls) {
            calls.remove(order.front());
            order.pop_front();
        }
        return true;
    }
};
} // namespace

void registerService(ServiceRegistry &registry)
{
    auto answered = std::make_shared<Answered>();
    registry.addGraphQLOperation(
        {QStringLiteral("NativeAnswer"), QStringLiteral("tavriloAnswerProjectCall"),
         [answered](const GraphQLCall &call) {
             if (auto violation = schemaViolation(call.variables))
                 return validationError(*violation);
             const Json &input = call.variables["input"];
             const std::string session = input["sessionId"];
             const std::string toolUse = input["toolUseId"];
             // A NUL cannot occur in either id's JSON text, so it separates them unambiguously.
             const bool first = answered->take(json::toQString(session + '\0' + toolUse));
             call.context.log.append({{"kind", "project_answer"},
                                      {"sessionId", session},
                                      {"toolUseId", toolUse},
                                      {"tool", input["tool"]},
                                      {"handsId", input["handsId"]},
                                      {"status", input["status"]},
                                      {"result", input["result"]},
                                      {"changed", input["changed"]},
                                      {"outcome", first ? "recorded" : "already answered"}});
             const Json answer =
                 first ? Json{{"ok", true}, {"refusal", nullptr}, {"detail", "Project call answered."}}
                       : Json{{"ok", false}, {"refusal", "CALL_ANSWERED"}, {"detail", "The call was answered before."}};
             return Json{{"data", {{"tavriloAnswerProjectCall", answer}}}};
         }});
}
} // namespace projectanswers
