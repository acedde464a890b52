#include "standin/LiveTurn.h"

#include "standin/IdentityService.h"
#include "standin/LiveSessions.h"
#include "standin/Scenario.h"
#include "standin/ServiceRegistry.h"

namespace scenariolimits
{
// Open gates and input requests of one scripted turn.
inline constexpr qsizetype kMaxTurnGates = 1000;
} // namespace scenariolimits

namespace liveturn
{
namespace
{
QString validateTurn(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("a turn step must be an object");
    for (const auto &[key, value] : step.items()) {
        if (key == "match" || key == "times")
            continue;
        if (key == "accepted" || key == "browserAvailable") {
            if (!value.is_boolean())
                return QStringLiteral("turn member %1 must be true or false").arg(json::toQString(key));
        } else if (key == "reason") {
            if (!value.is_string() && !value.is_null())
                return QStringLiteral("turn member reason must be a string or null");
        } else if (key == "sessionId" || key == "tenantId") {
            if (!value.is_string() && !value.is_null())
                return QStringLiteral("turn member %1 must be a string or null").arg(json::toQString(key));
        } else if (key == "browserHolder") {
            if (value != "agent" && value != "customer")
                return QStringLiteral("turn browserHolder must be \"agent\" or \"customer\"");
        } else if (key == "approvals" || key == "elicitations") {
            if (!value.is_array() || qsizetype(value.size()) > scenariolimits::kMaxTurnGates)
                return QStringLiteral("turn %1 must be an array of at most %2 objects")
                    .arg(json::toQString(key))
                    .arg(scenariolimits::kMaxTurnGates);
            for (const Json &entry : value)
                if (!entry.is_object())
                    return QStringLiteral("turn %1 must be an array of objects").arg(json::toQString(key));
        } else {
            return QStringLiteral("unknown turn member %1").arg(json::toQString(key));
        }
    }
    return {};
}

// The platform starts the turn of the session the hub names, in the workspace its token is signed
// for, unless the scenario says otherwise.
Json start(const GraphQLCall &call, LiveSessions &sessions)
{
    const auto input = call.variables.find("input");
    if (input == call.variables.end() || !input->is_object())
        return graphqlValidationError("Variable 'input' has an invalid value: an input object is required.");
    for (const char *name : {"sessionId", "text", "requestId", "handsId"})
        if (!input->contains(name) || !(*input)[name].is_string())
            return graphqlValidationError(std::string("Variable '") + name +
                                          "' has an invalid value: a string is required.");
    const std::string session = (*input)["sessionId"];
    const Json claims = identityservice::claimsOf(call.token);
    const std::string tenant = claims.value("custom:tenant_id", std::string());
    const Json view{
        {"sessionId", session}, {"tenantId", tenant}, {"text", (*input)["text"]}, {"handsId", (*input)["handsId"]}};
    const Json step = call.context.scenario.take("turn", "*", view).value_or(Json::object());

    const bool accepted = step.value("accepted", true);
    if (accepted) {
        LiveSessions::Session started;
        started.tenant = tenant;
        started.handsID = (*input)["handsId"];
        started.approvals = step.value("approvals", Json::array());
        started.elicitations = step.value("elicitations", Json::array());
        started.browserAvailable = step.value("browserAvailable", false);
        started.browserHolder = step.value("browserHolder", started.browserHolder);
        sessions.start(session, std::move(started));
    }
    const auto overridden = [&](const char *key, const std::string &own) {
        return step.contains(key) ? step[key] : Json(own);
    };
    return Json{{"data",
                 {{"startLiveTurn",
                   {{"sessionId", overridden("sessionId", session)},
                    {"tenantId", overridden("tenantId", tenant)},
                    {"accepted", accepted},
                    {"reason", step.value("reason", Json())}}}}}};
}

Json pending(const GraphQLCall &call, const LiveSessions &sessions)
{
    const auto session = call.variables.find("sessionId");
    if (session == call.variables.end() || !session->is_string())
        return graphqlValidationError("Variable 'sessionId' has an invalid value: an ID is required.");
    const LiveSessions::Session *live = sessions.find(*session);
    if (!live)
        return Json{{"data", {{"tavriloRunControls", nullptr}, {"tavriloPendingElicitations", Json::array()}}}};
    return Json{{"data",
                 {{"tavriloRunControls",
                   {{"browserAvailable", live->browserAvailable},
                    {"browserHolder", live->browserHolder},
                    {"approvals", live->approvals}}},
                  {"tavriloPendingElicitations", live->elicitations}}}};
}
} // namespace

void registerService(ServiceRegistry &registry, std::shared_ptr<LiveSessions> sessions)
{
    registry.addScenarioSection("turn", validateTurn);
    registry.addGraphQLOperation({QStringLiteral("NativeStart"), QStringLiteral("startLiveTurn"),
                                  [sessions](const GraphQLCall &call) { return start(call, *sessions); }});
    registry.addGraphQLOperation({QStringLiteral("NativePending"), QStringLiteral("tavriloRunControls"),
                                  [sessions](const GraphQLCall &call) { return pending(call, *sessions); }});
}
} // namespace liveturn
