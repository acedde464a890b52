#include "standin/NativeDocumentOperation.h"

#include "standin/BuildShells.h"
#include "standin/EventLog.h"
#include "standin/GraphQLEndpoint.h"
#include "standin/ServiceRegistry.h"

#include "core/Deployment.h"

#include <QDateTime>

namespace nativedocument
{
namespace
{
Json validationError(const std::string &message)
{
    return Json{{"data", nullptr}, {"errors", Json::array({{{"errorType", "ValidationError"}, {"message", message}}})}};
}

Json answerOf(const QString &field, Json object)
{
    return Json{{"data", {{json::toStd(field), std::move(object)}}}};
}

Json refusal(const QString &field, const char *code, const char *detail)
{
    return answerOf(field, {{"ok", false}, {"refusal", code}, {"detail", detail}});
}

// A 4 by 3 PNG, the frame a capture returns unless a step says otherwise.
constexpr const char *kFramePNG =
    "iVBORw0KGgoAAAANSUhEUgAAAAQAAAADCAIAAAA7ljmRAAAAEElEQVR4nGOQqzgBRww4OQA4KhBpUsYmbgAAAABJRU5ErkJggg==";

// Grants last a quarter of an hour.
constexpr qint64 kBrowserGrantMs = 15 * 60 * 1000;

enum class Kind {
    string,
    nullableString,
    integer,
};

// The schema check of an input object: exactly these members, of these kinds.
std::optional<std::string> violation(const Json &variables, const std::vector<std::pair<const char *, Kind>> &members)
{
    const auto input = variables.find("input");
    if (input == variables.end() || !input->is_object())
        return "Variable 'input' has an invalid value: an input object is required.";
    for (const auto &[name, kind] : members) {
        const auto it = input->find(name);
        const bool present = it != input->end();
        const bool fits = kind == Kind::string           ? present && it->is_string()
                          : kind == Kind::nullableString ? !present || it->is_null() || it->is_string()
                                                         : present && it->is_number_integer();
        if (!fits)
            return std::string("Variable '") + name + "' has an invalid value.";
    }
    for (const auto &[name, value] : input->items()) {
        const bool known = std::any_of(members.begin(), members.end(), [&](const auto &m) { return name == m.first; });
        if (!known)
            return "Variable 'input' has an invalid value: unknown field '" + name + "'.";
    }
    return std::nullopt;
}

QString shellURL(const QString &shellID)
{
    return QStringLiteral("wss://bedrock-agentcore.us-east-1.amazonaws.com/shells/") + shellID;
}

Json openBuildShell(BuildShells &shells, const GraphQLCall &call, const QString &field)
{
    if (auto why = violation(call.variables, {{"sessionId", Kind::string}, {"shellId", Kind::nullableString}}))
        return validationError(*why);
    const Json &input = call.variables["input"];
    const QString session = json::toQString(input["sessionId"].get<std::string>());
    QString shellID;
    if (input.contains("shellId") && input["shellId"].is_string()) {
        shellID = json::toQString(input["shellId"].get<std::string>());
        const auto it = shells.shells.constFind(shellID);
        if (it == shells.shells.constEnd() || it->sessionID != session || it->released)
            return refusal(field, "SHELL_NOT_FOUND", "No open build shell of this session has that id.");
    } else {
        shellID = QStringLiteral("shell-%1").arg(++shells.granted);
        shells.shells.insert(shellID, BuildShells::Shell{session, false, 0, {}});
    }
    call.context.log.append({{"kind", "buildShell"}, {"event", "grant"}, {"shellId", json::toStd(shellID)}});
    return answerOf(field, {{"ok", true},
                            {"refusal", nullptr},
                            {"detail", "Build shell granted."},
                            {"shellId", json::toStd(shellID)},
                            {"url", json::toStd(shellURL(shellID))},
                            {"protocol", std::string(deployment::kCommandShellProtocol)}});
}

// The shell an input names, when it is an open shell of its session.
BuildShells::Shell *heldShell(BuildShells &shells, const Json &input)
{
    const auto it = shells.shells.find(json::toQString(input["shellId"].get<std::string>()));
    if (it == shells.shells.end() || it->released ||
        it->sessionID != json::toQString(input["sessionId"].get<std::string>()))
        return nullptr;
    return &*it;
}

Json resizeBuildShell(BuildShells &shells, const GraphQLCall &call, const QString &field)
{
    if (auto why = violation(call.variables, {{"sessionId", Kind::string},
                                              {"shellId", Kind::string},
                                              {"cols", Kind::integer},
                                              {"rows", Kind::integer}}))
        return validationError(*why);
    const Json &input = call.variables["input"];
    BuildShells::Shell *shell = heldShell(shells, input);
    if (!shell)
        return refusal(field, "SHELL_NOT_FOUND", "No open build shell of this session has that id.");
    const int columns = input["cols"].get<int>();
    const int rows = input["rows"].get<int>();
    shell->authorised.append({columns, rows});
    call.context.log.append({{"kind", "buildShell"},
                             {"event", "authorise"},
                             {"shellId", input["shellId"]},
                             {"cols", columns},
                             {"rows", rows}});
    return answerOf(field, {{"ok", true}, {"refusal", nullptr}, {"detail", "Resize authorised."}});
}

// The schema check of top-level string variables.
std::optional<std::string> missingString(const Json &variables, std::initializer_list<const char *> names)
{
    for (const char *name : names)
        if (!variables.contains(name) || !variables[name].is_string())
            return std::string("Variable '") + name + "' has an invalid value: a string is required.";
    return std::nullopt;
}

Json openBrowserLiveView(BuildShells &shells, const GraphQLCall &call, const QString &field)
{
    if (auto why = missingString(call.variables, {"sessionId"}))
        return validationError(*why);
    const QString browser = QStringLiteral("browser-%1").arg(++shells.browsersGranted);
    shells.browserSessions.insert(browser, json::toQString(call.variables["sessionId"].get<std::string>()));
    call.context.log.append({{"kind", "liveBrowser"}, {"event", "grant"}, {"browserSessionId", json::toStd(browser)}});
    // The fragment is the page's credential.
    const std::string url = "https://" + std::string(deployment::kLiveViewHost) + std::string(deployment::kLiveViewPath) +
                            "#token=" + json::toStd(browser) + "-secret";
    return answerOf(field, {{"ok", true},
                            {"refusal", nullptr},
                            {"detail", "Live view granted."},
                            {"url", url},
                            {"browserSessionId", json::toStd(browser)},
                            {"expiresAt", QDateTime::currentMSecsSinceEpoch() + kBrowserGrantMs}});
}

Json captureBrowserFrame(BuildShells &shells, const GraphQLCall &call, const QString &field)
{
    if (auto why = missingString(call.variables, {"sessionId", "browserSessionId"}))
        return validationError(*why);
    const QString browser = json::toQString(call.variables["browserSessionId"].get<std::string>());
    const auto it = shells.browserSessions.constFind(browser);
    if (it == shells.browserSessions.constEnd() || *it != json::toQString(call.variables["sessionId"].get<std::string>()))
        return refusal(field, "BROWSER_NOT_FOUND", "No live browser of this session has that id.");
    call.context.log.append({{"kind", "liveBrowser"}, {"event", "capture"}, {"browserSessionId", json::toStd(browser)}});
    return answerOf(field, {{"ok", true}, {"refusal", nullptr}, {"png", kFramePNG}});
}

Json closeBuildShell(BuildShells &shells, const GraphQLCall &call, const QString &field)
{
    if (auto why = violation(call.variables, {{"sessionId", Kind::string}, {"shellId", Kind::string}}))
        return validationError(*why);
    const Json &input = call.variables["input"];
    BuildShells::Shell *shell = heldShell(shells, input);
    if (!shell)
        return refusal(field, "SHELL_NOT_FOUND", "No open build shell of this session has that id.");
    shell->released = true;
    call.context.log.append({{"kind", "buildShell"}, {"event", "release"}, {"shellId", input["shellId"]}});
    return answerOf(field, {{"ok", true}, {"refusal", nullptr}, {"detail", "Build shell closed."}});
}
} // namespace

void registerService(ServiceRegistry &registry, std::shared_ptr<BuildShells> shells)
{
    // One document for every workspace tool: no fixed result field, the query names it.
    registry.addGraphQLOperation(
        {QStringLiteral("NativeDocument"), QString(), [shells](const GraphQLCall &call) {
             const QString field = graphqlendpoint::resultField(call.query);
             if (field == QLatin1String("tavriloOpenBuildShell"))
                 return openBuildShell(*shells, call, field);
             if (field == QLatin1String("tavriloResizeBuildShell"))
                 return resizeBuildShell(*shells, call, field);
             if (field == QLatin1String("tavriloCloseBuildShell"))
                 return closeBuildShell(*shells, call, field);
             if (field == QLatin1String("tavriloOpenBrowserLiveView"))
                 return openBrowserLiveView(*shells, call, field);
             if (field == QLatin1String("tavriloCaptureBrowserFrame"))
                 return captureBrowserFrame(*shells, call, field);
             return validationError("Validation error: unknown field " + json::toStd(field) + ".");
         }});
}
} // namespace nativedocument
