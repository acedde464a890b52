#include "standin/InputRequestReplies.h"

#include "standin/EventLog.h"
#include "standin/ServiceRegistry.h"

namespace inputrequestreplies
{
namespace
{
Json validationError(const std::string &message)
{
    return Json{{"data", nullptr}, {"errors", Json::array({{{"errorType", "ValidationError"}, {"message", message}}})}};
}

std::optional<std::string> violation(const Json &variables)
{
    const auto input = variables.find("input");
    if (input == variables.end() || !input->is_object())
        return "Variable 'input' has an invalid value: an input object is required.";
    for (const char *name : {"sessionId", "requestId", "requestState", "action"})
        if (!input->contains(name) || !(*input)[name].is_string())
            return std::string("Variable '") + name + "' has an invalid value: a string is required.";
    for (const auto &[name, value] : input->items()) {
        if (name == "content" && !value.is_string())
            return "Variable 'content' has an invalid value: a string is required.";
        if (name != "sessionId" && name != "requestId" && name != "requestState" && name != "action" &&
            name != "content")
            return "Variable 'input' has an invalid value: unknown field '" + name + "'.";
    }
    return std::nullopt;
}
} // namespace

void registerService(ServiceRegistry &registry)
{
    registry.addGraphQLOperation({QStringLiteral("NativeElicitation"), QStringLiteral("tavriloReplyElicitation"),
                                  [](const GraphQLCall &call) {
                                      if (auto why = violation(call.variables))
                                          return validationError(*why);
                                      call.context.log.append({{"kind", "elicitation"}, {"input", call.variables["input"]}});
                                      return Json{{"data",
                                                   {{"tavriloReplyElicitation",
                                                     {{"ok", true}, {"refusal", nullptr}, {"detail", "Reply recorded."}}}}}};
                                  }});
}
} // namespace inputrequestreplies
