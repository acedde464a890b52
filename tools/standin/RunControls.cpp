#include "standin/RunControls.h"

#include "standin/LiveSessions.h"
#include "standin/ServiceRegistry.h"

#include <QHash>

namespace runcontrols
{
namespace
{
struct Control
{
    const char *operation;
    const char *field;
    // Members of the input object (or, for stop, of the variables themselves) that the schema
    // requires as strings, and those it allows as optional strings.
    std::vector<const char *> required;
    std::vector<const char *> optional;
    bool topLevel = false;
    const char *detail;
};

const std::vector<Control> &controls()
{
    static const std::vector<Control> table = {
        {"NativeStop", "tavriloStopRun", {"sessionId"}, {}, true, "Run stop requested."},
        {"NativeInterject", "tavriloInterject", {"sessionId", "text"}, {}, false, "Interjection queued."},
        {"NativeApproval",
         "tavriloRecordApproval",
         {"sessionId", "toolUseId", "decision"},
         {"expectedTurnId", "expectedRevision"},
         false,
         "Approval recorded."},
        {"NativeBrowser", "tavriloSetBrowserControl", {"sessionId", "holder"}, {}, false, "Browser control set."},
        {"NativeRunState", "tavriloSetRunState", {"sessionId", "state"}, {"reason"}, false, "Run state set."},
        {"NativeSkip",
         "tavriloSkipStep",
         {"sessionId", "toolUseId", "tool"},
         {"reason"},
         false,
         "Step skip requested."},
    };
    return table;
}

// The schema check: what a GraphQL server says about variables that do not fit the declared input.
std::optional<std::string> schemaViolation(const Control &control, const Json &variables)
{
    const Json *input = &variables;
    if (!control.topLevel) {
        const auto it = variables.find("input");
        if (it == variables.end() || !it->is_object())
            return "Variable 'input' has an invalid value: an input object is required.";
        input = &*it;
    }
    for (const char *name : control.required) {
        const auto it = input->find(name);
        if (it == input->end() || !it->is_string())
            return std::string("Variable '") + name + "' has an invalid value: a string is required.";
    }
    for (const auto &[name, value] : input->items()) {
        const bool known =
            std::any_of(control.required.begin(), control.required.end(), [&](const char *n) { return name == n; }) ||
            std::any_of(control.optional.begin(), control.optional.end(), [&](const char *n) { return name == n; });
        if (!known && !control.topLevel)
            return "Variable 'input' has an invalid value: unknown field '" + name + "'.";
        if (known && !value.is_string())
            return "Variable '" + name + "' has an invalid value: a string is required.";
    }
    return std::nullopt;
}
} // namespace

void registerService(ServiceRegistry &registry, std::shared_ptr<LiveSessions> sessions)
{
    // Interjections queued per session, for the "queued" count of the answer.
    auto queued = std::make_shared<QHash<QString, qint64>>();
    for (const Control &control : controls()) {
        registry.addGraphQLOperation({QString::fromLatin1(control.operation), QString::fromLatin1(control.field),
                                      [&control, queued, sessions](const GraphQLCall &call) {
                                          if (auto violation = schemaViolation(control, call.variables))
                                              return graphqlValidationError(*violation);
                                          // Every selected field is present, null when it has no value, as GraphQL
                                          // answers.
                                          Json answer{{"ok", true}, {"refusal", nullptr}, {"detail", control.detail}};
                                          if (std::string_view(control.field) == "tavriloInterject") {
                                              const Json &input = call.variables["input"];
                                              const qint64 count =
                                                  ++(*queued)[json::toQString(input["sessionId"].get<std::string>())];
                                              answer["queued"] = count;
                                              answer["round"] = "1";
                                          }
                                          if (sessions)
                                              sessions->controlAccepted(control.field, call.variables);
                                          return Json{{"data", {{control.field, answer}}}};
                                      }});
    }
}
} // namespace runcontrols
