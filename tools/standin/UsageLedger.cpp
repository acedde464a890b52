#include "standin/UsageLedger.h"

#include "standin/ServiceRegistry.h"

#include "core/TavriloRoleContract.h"

namespace usageledger
{
namespace
{
Json emptyRow(const Json &agentId)
{
    return {{"agentId", agentId},      {"unattributed", agentId.is_null()}, {"recordCount", "0"},
            {"totalInputTokens", "0"}, {"totalOutputTokens", "0"},          {"totalTokens", "0"},
            {"totalCostCents", "0"},   {"estimatedCostAmount", "0"},        {"estimatedCostCurrency", "USD"},
            {"unknownCostRecords", 0}, {"unknownUsageRecords", 0}};
}

// A ledger with nothing recorded yet: one row per role of the team and the unattributed row, all
// zero, and the session's ledger ready.
Json summary(const GraphQLCall &call)
{
    const Json &variables = call.variables;
    if (!variables.contains("period") || !variables["period"].is_string())
        return graphqlValidationError("Variable 'period' has an invalid value: a string is required.");
    for (const char *optional : {"tenantId", "sessionId"})
        if (variables.contains(optional) && !variables[optional].is_string() && !variables[optional].is_null())
            return graphqlValidationError(std::string("Variable '") + optional + "' has an invalid value.");
    Json agents = Json::array();
    for (const QString &role : TavriloRoleContract::roles())
        agents.push_back(emptyRow(json::toStd(role)));
    agents.push_back(emptyRow(Json()));
    const Json answer{{"tenantId", variables.value("tenantId", Json())},
                      {"sessionId", variables.value("sessionId", Json())},
                      {"period", variables["period"]},
                      {"totalInputTokens", "0"},
                      {"totalOutputTokens", "0"},
                      {"totalTokens", "0"},
                      {"unknownUsageRecords", 0},
                      {"estimatedCostAmount", 0},
                      {"estimatedCostCurrency", "USD"},
                      {"unknownCostRecords", 0},
                      {"pendingUsageRecords", 0},
                      {"sessionLedgerReady", true},
                      {"agents", agents}};
    return Json{{"data", {{"getUsageSummary", answer}}}};
}
} // namespace

void registerService(ServiceRegistry &registry)
{
    registry.addGraphQLOperation({QStringLiteral("NativeCustomerUsage"), QStringLiteral("getUsageSummary"), summary});
}
} // namespace usageledger
