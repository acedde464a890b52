#pragma once

#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "live/NativePresence.h"
#include "platform/MemoryKeyring.h"
#include "platform/WebAuthSession.h"
#include "session/HubModel.h"

#include <QDateTime>
#include <QString>

#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace sessiontest
{
inline const QString kApp = QStringLiteral("hub-test");
inline const QString kTenant = QStringLiteral("tenant-a");

// A sign-in window that never opens: nothing here signs in through one.
class NoSignInWindow : public WebAuthSession
{
public:
    bool start(Request, Completion) override { return false; }
    void cancel() override {}
};

// A model assembled from the memory keyring and a sign-in window that never opens, on `clock`.
inline std::unique_ptr<HubModel> makeModel(HubClock clock = {})
{
    HubModel::Dependencies dependencies{
        std::make_shared<MemoryKeyring>(), [] { return std::make_unique<NoSignInWindow>(); }, {}};
    dependencies.clock = std::move(clock);
    return std::make_unique<HubModel>(std::move(dependencies));
}

// A configuration of kApp with the default GraphQL endpoint, `root` as project and kTenant selected.
inline HubConfiguration configuration(const QString &root = QStringLiteral("/srv/projects/atlas"))
{
    HubConfiguration configuration(
        HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), kApp}, {QStringLiteral("TAVRILO_WORKSPACE_ROOT"), root}});
    configuration.tenantID = kTenant;
    return configuration;
}

// An identity token (JWT-shaped; the hub reads its claims without checking a signature) signed for
// `tenant` and valid for an hour.
inline QString identityToken(const QString &tenant = kTenant)
{
    const Json claims{{"custom:tenant_id", tenant.toStdString()},
                      {"exp", QDateTime::currentSecsSinceEpoch() + 3600},
                      {"sub", "user-1"}};
    const QByteArray payload =
        json::dump(claims).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("header.") + QString::fromLatin1(payload) + QStringLiteral(".signature");
}

// An event of kApp and kTenant.
inline WorkspaceEvent event(const QString &id, const char *kind,
                            std::initializer_list<std::pair<const char *, QString>> payload = {})
{
    WorkspaceEvent e;
    e.id = id;
    e.timestamp = QStringLiteral("2026-05-01T10:00:00Z");
    e.appID = kApp;
    e.tenantID = kTenant;
    e.kind = QString::fromUtf8(kind);
    for (const auto &[key, value] : payload)
        e.payload.insert(QString::fromUtf8(key), value);
    return e;
}

// A usage summary of kTenant (of `session` when given) that the ledger accepts: one row per role and
// the unattributed row, adding up to the totals. Each role row holds `perRole` tokens; the
// unattributed row `unattributed` tokens in `unattributedRecords` receipts.
inline Json ledgerSummary(std::optional<QString> session, int perRole = 10, int unattributed = 0,
                          int unattributedRecords = 0, qint64 pendingRecords = 0, bool ready = true)
{
    Json agents = Json::array();
    auto row = [](Json agentId, int tokens, int records) {
        return Json{{"agentId", agentId},
                    {"unattributed", agentId.is_null()},
                    {"recordCount", std::to_string(records)},
                    {"totalInputTokens", std::to_string(tokens)},
                    {"totalOutputTokens", "0"},
                    {"totalTokens", std::to_string(tokens)},
                    {"totalCostCents", nullptr},
                    {"estimatedCostAmount", "0.5"},
                    {"estimatedCostCurrency", "USD"},
                    {"unknownCostRecords", 0},
                    {"unknownUsageRecords", 0}};
    };
    const QStringList &roles = NativePresence::roles();
    for (const QString &role : roles)
        agents.push_back(row(role.toStdString(), perRole, 1));
    agents.push_back(row(Json(), unattributed, unattributedRecords));
    const std::string total = std::to_string(perRole * int(roles.size()) + unattributed);
    return Json{{"tenantId", kTenant.toStdString()},
                {"sessionId", session ? Json(session->toStdString()) : Json()},
                {"period", ""},
                {"totalInputTokens", total},
                {"totalOutputTokens", "0"},
                {"totalTokens", total},
                {"unknownUsageRecords", 0},
                {"estimatedCostAmount", 1.25},
                {"estimatedCostCurrency", "USD"},
                {"unknownCostRecords", 0},
                {"pendingUsageRecords", pendingRecords},
                {"sessionLedgerReady", ready},
                {"agents", agents}};
}

// Table cases print as their names in test output.
template <typename Case>
requires requires(const Case &c)
{
    c.name;
}
void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}
} // namespace sessiontest
