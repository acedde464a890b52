// Interactive sign-in and the switch to another workspace of the account. Both close the session the
// model owns first, end by hydrating the identity, and report only in the status line.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/ScopedFlag.h"

namespace
{
const QString kSelectMutation =
    QStringLiteral("mutation NativeSelectWorkspace($tenantId: ID!) { tavriloSelectWorkspace(tenantId: $tenantId) { "
                   "ok refusal detail } }");
} // namespace

QCoro::Task<void> HubModel::signIn()
{
    // One hosted sign-in at a time: a second would take the first one's sign-in window away.
    if (m_signingIn)
        co_return;
    const ScopedFlag signingIn(this, m_signingIn);
    QPointer self(this);

    setRecentProjects({});
    setProjectSelectionNotice({});
    if (!co_await reportingFailure(closeSession()))
        co_return;
    clearPersistedLedger();
    setToken(std::nullopt);
    setIdentityToken(std::nullopt);
    if (!m_configuration)
        co_return;
    try {
        const CognitoLogin::Tokens tokens = co_await m_login.login(*m_configuration);
        if (!self)
            co_return;
        if (!tokens.identityToken)
            throw HubError(QStringLiteral("Sign-in returned no identity token."));
        setToken(tokens.accessToken);
        setIdentityToken(tokens.identityToken);
        co_await hydrateIdentity(*tokens.identityToken, true, std::nullopt);
        if (!self)
            co_return;
        setChangesShuttingDown(false);
        beginLedgerRefresh(false);
        setMessage(QStringLiteral("Signed in to your Tavrilo workspace."));
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
    }
}

QCoro::Task<void> HubModel::selectWorkspace(NativeLive::Workspace workspace)
{
    if (m_controlInFlight || m_closingSession) {
        setMessage(QStringLiteral("Wait for the current session control to finish."));
        co_return;
    }
    QPointer self(this);
    if (!co_await reportingFailure(closeSession()))
        co_return;
    // No run control can be sent while the workspace changes under it.
    const ScopedFlag inFlight(this, [this](bool on) { setControlInFlight(on); });
    try {
        const bool member = std::any_of(m_workspaces.begin(), m_workspaces.end(), [&](const NativeLive::Workspace &w) {
            return w.tenantId == workspace.tenantId;
        });
        if (!m_configuration || !m_identityToken || !member)
            throw HubError(QStringLiteral("Workspace is not in the authenticated membership list."));
        co_await refreshIdentityIfNeeded();
        if (!self)
            co_return;
        if (!m_configuration || !m_identityToken)
            throw HubError(QStringLiteral("Sign in before using the platform."));
        const HubConfiguration configuration = *m_configuration;
        Json variables{{"tenantId", json::toStd(workspace.tenantId)}};
        const Json data =
            co_await NativeLive::graphql(kSelectMutation, std::move(variables), configuration, *m_identityToken);
        if (!self)
            co_return;
        const auto answer = data.find("tavriloSelectWorkspace");
        if (answer == data.end() || !answer->is_object() || answer->value("ok", Json()) != Json(true)) {
            const std::optional<QString> refusal =
                answer != data.end() && answer->is_object() ? json::string(*answer, "refusal") : std::nullopt;
            throw HubError(refusal.value_or(QStringLiteral("Workspace selection was refused.")));
        }
        // Tokens signed for the old workspace are useless now; until the renewal succeeds the user is
        // signed out of the platform.
        setIdentityToken(std::nullopt);
        setToken(std::nullopt);
        const std::optional<CognitoLogin::Tokens> renewed = co_await m_login.restore(configuration);
        if (!self)
            co_return;
        if (!renewed || !renewed->identityToken)
            throw HubError(QStringLiteral("Sign in again to enter the selected workspace."));
        co_await hydrateIdentity(*renewed->identityToken, false, workspace.tenantId);
        if (!self)
            co_return;

        setIdentityToken(renewed->identityToken);
        setToken(renewed->accessToken);
        refreshRecentProjects(false);
        resetSessionView(ViewReset::session);
        renewHandsID();
        setChangesShuttingDown(false);
        setMessage(QStringLiteral("Workspace changed to ") + m_tenantName);
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
    }
}
