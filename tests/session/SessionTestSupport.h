#pragma once

#include "core/HubConfiguration.h"
#include "core/WorkspaceEvent.h"
#include "platform/MemoryKeyring.h"
#include "platform/WebAuthSession.h"
#include "session/HubModel.h"

#include <QString>

#include <initializer_list>
#include <memory>
#include <ostream>
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

// A model assembled from the memory keyring and a sign-in window that never opens.
inline std::unique_ptr<HubModel> makeModel()
{
    return std::make_unique<HubModel>(HubModel::Dependencies{
        std::make_shared<MemoryKeyring>(), [] { return std::make_unique<NoSignInWindow>(); }, {}});
}

// A configuration of kApp with the default GraphQL endpoint, `root` as project and kTenant selected.
inline HubConfiguration configuration(const QString &root = QStringLiteral("/srv/projects/atlas"))
{
    HubConfiguration configuration(
        HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), kApp}, {QStringLiteral("TAVRILO_WORKSPACE_ROOT"), root}});
    configuration.tenantID = kTenant;
    return configuration;
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
