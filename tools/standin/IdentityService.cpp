#include "standin/IdentityService.h"

#include "standin/Scenario.h"
#include "standin/ServiceRegistry.h"
#include "standin/WorkspaceSelection.h"

#include <QByteArray>
#include <QStringList>

namespace identityservice
{
namespace
{
// Without an "identity" step the account is a member of the one workspace its token names.
constexpr const char *kDefaultTenant = "standin-workspace";
constexpr const char *kDefaultTenantName = "Stand-in workspace";

struct Account
{
    Json workspaces = Json::array();
    Json planName = "Stand-in";
    Json userId; // null: the token's subject
};

std::string textClaim(const Json &claims, const char *name)
{
    const auto it = claims.find(name);
    return it != claims.end() && it->is_string() ? it->get<std::string>() : std::string();
}

Account accountFor(const GraphQLCall &call, const Json &claims)
{
    const std::string tenant = textClaim(claims, "custom:tenant_id");
    const Json view{{"sub", textClaim(claims, "sub")}, {"tenant", tenant}};
    Account account;
    const std::optional<Json> step = call.context.scenario.take("identity", "account", view);
    if (!step) {
        account.workspaces.push_back({{"tenantId", tenant.empty() ? kDefaultTenant : tenant},
                                      {"tenantName", kDefaultTenantName},
                                      {"role", "owner"},
                                      {"isDefault", true}});
        return account;
    }
    account.workspaces = step->value("workspaces", Json::array());
    account.planName = step->value("planName", account.planName);
    account.userId = step->value("userId", Json());
    return account;
}

const Json *membership(const Account &account, const std::string &tenant)
{
    for (const Json &workspace : account.workspaces)
        if (workspace["tenantId"] == tenant)
            return &workspace;
    return nullptr;
}

Json identity(const GraphQLCall &call)
{
    const Json claims = claimsOf(call.token);
    const Account account = accountFor(call, claims);
    const std::string tenant = textClaim(claims, "custom:tenant_id");
    const std::string subject = textClaim(claims, "sub");
    // The screens of the workspace the token is signed for; none when the account cannot enter it.
    Json screens;
    if (const Json *member = membership(account, tenant))
        screens = {{"tenantId", tenant},
                   {"grant", "member"},
                   {"role", (*member)["role"]},
                   {"screens", Json::array({{{"feature", "workspace"}, {"canView", true}},
                                            {{"feature", "usage"}, {"canView", true}}})}};
    return Json{{"data",
                 {{"tavriloMyWorkspaces", account.workspaces},
                  {"tavriloEntitlement", {{"allowed", true}, {"planName", account.planName}}},
                  {"tavriloMyAccess", {{"userId", account.userId.is_null() ? Json(subject) : account.userId}}},
                  {"tavriloMyScreens", screens}}}};
}

// Both selection mutations record the workspace the user's next tokens are signed for.
Json select(const GraphQLCall &call, WorkspaceSelection &selection)
{
    const auto tenant = call.variables.find("tenantId");
    if (tenant == call.variables.end() || !tenant->is_string())
        return graphqlValidationError("Variable 'tenantId' has an invalid value: an ID is required.");
    const Json claims = claimsOf(call.token);
    const Account account = accountFor(call, claims);
    const std::string wanted = tenant->get<std::string>();
    Json answer;
    if (membership(account, wanted)) {
        selection.select(textClaim(claims, "sub"), wanted);
        answer = {{"ok", true}, {"refusal", nullptr}, {"detail", "Workspace selected."}};
    } else {
        answer = {{"ok", false}, {"refusal", "WORKSPACE_NOT_MEMBER"}, {"detail", "The account is not a member."}};
    }
    return Json{{"data", {{"tavriloSelectWorkspace", answer}}}};
}
} // namespace

Json claimsOf(const QString &token)
{
    const QStringList parts = token.split(u'.');
    if (parts.size() != 3)
        return Json::object();
    const auto decoded = QByteArray::fromBase64Encoding(parts[1].toLatin1(),
                                                        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    if (!decoded)
        return Json::object();
    std::optional<Json> claims = json::tryParse(*decoded);
    return claims && claims->is_object() ? *claims : Json::object();
}

QString validateAccount(const Json &step)
{
    if (!step.is_object())
        return QStringLiteral("an identity account must be an object");
    for (const auto &[key, value] : step.items()) {
        if (key == "match" || key == "times")
            continue;
        if (key == "planName" || key == "userId") {
            if (!value.is_string() && !value.is_null())
                return QStringLiteral("identity account member %1 must be a string or null").arg(json::toQString(key));
        } else if (key == "workspaces") {
            if (!value.is_array() || qsizetype(value.size()) > scenariolimits::kMaxWorkspaces)
                return QStringLiteral("identity workspaces must be an array of at most %1 memberships")
                    .arg(scenariolimits::kMaxWorkspaces);
            for (const Json &workspace : value) {
                if (!workspace.is_object())
                    return QStringLiteral("an identity workspace must be an object");
                for (const char *text : {"tenantId", "tenantName", "role"})
                    if (!workspace.contains(text) || !workspace[text].is_string())
                        return QStringLiteral("identity workspace member %1 must be a string")
                            .arg(QLatin1StringView(text));
                if (!workspace.contains("isDefault") || !workspace["isDefault"].is_boolean())
                    return QStringLiteral("identity workspace member isDefault must be true or false");
            }
        } else {
            return QStringLiteral("unknown identity account member %1").arg(json::toQString(key));
        }
    }
    return {};
}

void registerService(ServiceRegistry &registry, std::shared_ptr<WorkspaceSelection> selection)
{
    registry.addScenarioSection("identity", validateAccount);
    registry.addGraphQLOperation({QStringLiteral("NativeIdentity"), QStringLiteral("tavriloMyWorkspaces"), identity});
    for (const char *name : {"NativeSelectWorkspace", "NativeRepairWorkspace"})
        registry.addGraphQLOperation({QString::fromLatin1(name), QStringLiteral("tavriloSelectWorkspace"),
                                      [selection](const GraphQLCall &call) { return select(call, *selection); }});
}
} // namespace identityservice
