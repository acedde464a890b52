// Identity hydration: who the signed-in user is, which workspace the identity token is signed for,
// the repair of a token signed for none, the set-up of that workspace's configuration, journal and
// project tools, and keeping the identity token fresh.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "session/EnsureCurrent.h"
#include "session/IdentityClaims.h"

namespace
{
const QString kIdentityQuery = QStringLiteral(
    "query NativeIdentity { tavriloMyWorkspaces { tenantId tenantName role isDefault } tavriloEntitlement { allowed "
    "planName } tavriloMyAccess { userId } tavriloMyScreens { tenantId grant role screens { feature canView } } }");
const QString kRepairMutation =
    QStringLiteral("mutation NativeRepairWorkspace($tenantId: ID!) { tavriloSelectWorkspace(tenantId: $tenantId) { ok "
                   "refusal detail } }");

// Seconds of validity below which the identity token is renewed before a platform call.
constexpr double kRenewalMargin = 120;

// Memberships as the identity query lists them; a list that is absent or null is empty.
QList<NativeLive::Workspace> memberships(const Json &data)
{
    const auto it = data.find("tavriloMyWorkspaces");
    if (it == data.end() || it->is_null())
        return {};
    return NativeLive::Workspace::decodeList(*it);
}

// Screen access must be granted for exactly the selected workspace; what the screens say is the
// views' business.
bool screensMatch(const Json &data, const QString &tenant)
{
    const auto screens = data.find("tavriloMyScreens");
    if (screens == data.end() || !screens->is_object() || json::string(*screens, "tenantId") != tenant)
        return false;
    const auto list = screens->find("screens");
    return list != screens->end() && list->is_array() &&
           std::all_of(list->begin(), list->end(), [](const Json &entry) { return entry.is_object(); });
}

QString textOrEmpty(const Json &object, std::string_view outer, std::string_view inner)
{
    const auto it = object.find(outer);
    return it != object.end() && it->is_object() ? json::string(*it, inner).value_or(QString()) : QString();
}
} // namespace

QCoro::Task<void> HubModel::hydrateIdentity(QString token, bool allowRefresh, std::optional<QString> expectedTenant,
                                            CancelToken cancel)
{
    if (!m_configuration)
        throw HubError(QStringLiteral("Missing product configuration."));
    const HubConfiguration configuration = *m_configuration;
    QPointer self(this);
    const Json data = co_await NativeLive::graphql(kIdentityQuery, Json::object(), configuration, token, cancel);
    ensureCurrent(self, cancel);

    const QList<NativeLive::Workspace> workspaces = memberships(data);
    // The account's memberships are the platform's answer whatever this token turns out to be worth.
    setWorkspaces(workspaces);

    const std::optional<QString> tokenTenant =
        identityclaims::tenant(identityclaims::read(token, identityclaims::kHydrationUnreadable));
    const auto selected = std::find_if(workspaces.begin(), workspaces.end(), [&](const NativeLive::Workspace &w) {
        return tokenTenant && w.tenantId == *tokenTenant;
    });
    if (selected == workspaces.end() && allowRefresh) {
        co_await repairWorkspace(configuration, workspaces, expectedTenant, token, cancel);
        co_return;
    }
    if (selected == workspaces.end())
        throw HubError(QStringLiteral("Your account has no accessible workspace."));
    if (expectedTenant && *expectedTenant != selected->tenantId)
        throw HubError(QStringLiteral(
            "The renewed session has not entered the selected workspace. Sign in again before starting work."));
    if (!screensMatch(data, selected->tenantId))
        throw HubError(QStringLiteral("Screen access does not match the selected authenticated workspace."));

    HubConfiguration hydrated = m_configuration.value_or(configuration);
    hydrated.tenantID = selected->tenantId;
    const HubConfiguration::CanonicalProject project = hydrated.canonicalProject();
    hydrated.root = project.root;
    const QString user = textOrEmpty(data, "tavriloMyAccess", "userId");
    const bool changed = !m_configuration || m_configuration->tenantID != hydrated.tenantID ||
                         m_configuration->root != hydrated.root || m_userID != user;

    // The journal and project tools of the workspace are made before anything is stored: when one
    // cannot be made the model stays wholly in the workspace it was in, rather than tagging and
    // filtering events with a tenant whose journal does not exist.
    std::shared_ptr<WorkspaceLog> log = m_log;
    if (!log || changed)
        log = std::make_shared<WorkspaceLog>(hydrated);
    std::shared_ptr<NativeProjectHands> hands = m_hands;
    if (!hands || changed)
        hands = std::make_shared<NativeProjectHands>(hydrated.root);

    if (changed) {
        clearChanges();
        clearPersistedLedger();
        renewHandsID();
    }
    setSessionID(project.sessionID);
    setConfiguration(hydrated);
    setTenantName(selected->tenantName);
    setRole(selected->role);
    setPlanName(textOrEmpty(data, "tavriloEntitlement", "planName"));
    setUserID(user);
    refreshRecentProjects(false);
    setLog(log);
    m_hands = std::move(hands);

    // Named first: GCC 12 cannot keep an initializer list alive across a co_await in one expression.
    EventPayload connected{{QStringLiteral("client"), QStringLiteral("macos")},
                           {QStringLiteral("root"), hydrated.root},
                           {QStringLiteral("tenantName"), m_tenantName}};
    co_await log->append(QStringLiteral("workspace.connected"), std::move(connected));
}

QCoro::Task<void> HubModel::repairWorkspace(HubConfiguration configuration, QList<NativeLive::Workspace> workspaces,
                                            std::optional<QString> expectedTenant, QString token, CancelToken cancel)
{
    if (m_captureCredentialsOnly)
        throw HubError(
            QStringLiteral("Capture requires an already hydrated signed workspace claim from the account producer."));
    auto target = std::find_if(workspaces.begin(), workspaces.end(), [&](const NativeLive::Workspace &w) {
        return expectedTenant && w.tenantId == *expectedTenant;
    });
    if (target == workspaces.end())
        target = std::find_if(workspaces.begin(), workspaces.end(),
                              [](const NativeLive::Workspace &w) { return w.isDefault; });
    if (target == workspaces.end() && workspaces.size() == 1)
        target = workspaces.begin();
    if (target == workspaces.end())
        throw HubError(QStringLiteral(
            "Select an accessible workspace; the signed session no longer has a valid default membership."));
    const QString tenant = target->tenantId;

    QPointer self(this);
    Json variables{{"tenantId", json::toStd(tenant)}};
    const Json data = co_await NativeLive::graphql(kRepairMutation, std::move(variables), configuration, token, cancel);
    ensureCurrent(self, cancel);
    const auto answer = data.find("tavriloSelectWorkspace");
    if (answer == data.end() || !answer->is_object() || answer->value("ok", Json()) != Json(true))
        throw HubError(QStringLiteral("The platform refused recovery to an accessible workspace."));

    const std::optional<CognitoLogin::Tokens> renewed = co_await m_login.restore(configuration, cancel);
    ensureCurrent(self, cancel);
    if (!renewed || !renewed->identityToken)
        throw HubError(QStringLiteral("Sign in again to renew the accessible workspace claim."));
    co_await hydrateIdentity(*renewed->identityToken, false, tenant, cancel);
    ensureCurrent(self, cancel);
    // The renewed tokens are the model's only once their workspace is set up.
    setToken(renewed->accessToken);
    setIdentityToken(renewed->identityToken);
}

QCoro::Task<void> HubModel::refreshIdentityIfNeeded(CancelToken cancel)
{
    if (!m_configuration || !m_identityToken)
        throw HubError(QStringLiteral("Sign in before using the platform."));
    const std::optional<double> expiry = identityclaims::expiry(identityclaims::read(*m_identityToken));
    const double now = double(m_clock.now().toMSecsSinceEpoch()) / 1000.0;
    if (expiry && *expiry > now + kRenewalMargin)
        co_return;
    if (m_captureCredentialsOnly)
        throw HubError(QStringLiteral("Capture credentials need renewal by the parent account process; native "
                                      "capture never refreshes stored sessions."));
    QPointer self(this);
    const std::optional<CognitoLogin::Tokens> renewed = co_await m_login.restore(*m_configuration, cancel);
    ensureCurrent(self, cancel);
    if (!renewed || !renewed->identityToken)
        throw HubError(QStringLiteral("Your session expired. Sign in again."));
    // Checked against the workspace as it is now, after the wait.
    const std::optional<QString> tenant = identityclaims::tenant(identityclaims::read(*renewed->identityToken));
    if (!tenant || !m_configuration || *tenant != m_configuration->tenantID)
        throw HubError(
            QStringLiteral("The authenticated workspace changed. Stop and select that workspace before continuing."));
    setToken(renewed->accessToken);
    setIdentityToken(renewed->identityToken);
}

QCoro::Task<QString> HubModel::currentVerifiedToken(CancelToken cancel)
{
    QPointer self(this);
    co_await refreshIdentityIfNeeded(cancel);
    ensureCurrent(self, cancel);
    if (!m_identityToken)
        throw HubError(QStringLiteral("Sign in before using workspace controls."));
    // A copy: QCoro's promise moves from an lvalue handed to co_return, and this one is the model's.
    co_return QString(*m_identityToken);
}

void HubModel::configureDocuments(HubConfiguration configuration, QString session)
{
    TokenSource tokens = workspaceTokenSource(session, configuration.tenantID);
    m_documents.configure(std::move(configuration), std::move(session), std::move(tokens));
}

TokenSource HubModel::workspaceTokenSource(QString session, QString tenant)
{
    // The coroutine takes copies: the closure may be replaced while a call waits.
    return [model = QPointer(this), session, tenant](CancelToken cancel) {
        return sessionToken(model, session, tenant, QStringLiteral("The workspace tool session changed."),
                            std::move(cancel));
    };
}

QCoro::Task<QString> HubModel::sessionToken(QPointer<HubModel> model, QString session, QString tenant, QString changed,
                                            CancelToken cancel)
{
    const auto moved = [&] {
        return !model || model->m_sessionID != session || !model->m_configuration ||
               model->m_configuration->tenantID != tenant;
    };
    if (moved())
        throw HubError(changed);
    co_await model->refreshIdentityIfNeeded(cancel);
    // The renewal waited: a token signed meanwhile for another session or workspace is not this call's.
    if (moved())
        throw HubError(changed);
    if (!model->m_identityToken)
        throw HubError(QStringLiteral("Sign in before using workspace controls."));
    // A copy: QCoro's promise moves from an lvalue handed to co_return, and this one is the model's.
    co_return QString(*model->m_identityToken);
}

void HubModel::renewHandsID()
{
    m_handsID = newHandsID();
    m_projectAnswers.clear();
    m_projectCallTombstones.clear();
    m_projectCallsInFlight.clear();
}
