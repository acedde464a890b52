// Sign-in, the workspace switch and profile navigation of the session model against the stand-in.
#include "ModelAgainstStandIn.h"

#include "project/NativeProjects.h"

using namespace standinmodel;
using testsupport::jwtClaims;

namespace
{
const NativeLive::Workspace kCobaltWorkspace{kCobalt, QStringLiteral("Cobalt"), QStringLiteral("owner"), false};

class SignIn : public ModelAgainstStandIn
{
public:
    static QString tenantOf(const std::optional<QString> &token)
    {
        return QString::fromStdString(jwtClaims(token.value_or(QString())).value("custom:tenant_id", ""));
    }

    std::size_t authorizations() const
    {
        std::size_t count = 0;
        for (const Json &entry : standIn().logEntries(m_cursor).entries)
            count += entry["kind"] == "signin" && entry["step"] == "authorize";
        return count;
    }
};

TEST_F(SignIn, SignsInThroughTheHostedPagesAndHydrates)
{
    start();
    HubModel &m = model();
    m.setChangesShuttingDown(true);
    awaitFor(m.signIn());
    EXPECT_EQ(m.message(), QStringLiteral("Signed in to your Tavrilo workspace."));
    EXPECT_EQ(tenantOf(m.identityToken()), kAtlas);
    EXPECT_EQ(m.configuration()->tenantID, kAtlas);
    EXPECT_FALSE(m.changesShuttingDown());
    // The usage ledger of the workspace signed in to is asked for. (Whether the sign-in or the poll
    // loop's next pass starts it depends on timing: the loop pauses a few milliseconds here.)
    EXPECT_TRUE(waitUntil([&] { return !requests("NativeCustomerUsage").empty(); }));
    EXPECT_EQ(authorizations(), 1u);
}

TEST_F(SignIn, ASecondSignInWhileOneRunsDoesNothing)
{
    start();
    HubModel &m = model();
    // The code exchange waits, so the first sign-in is still running when the second is asked for.
    useScenario(
        kAtlas, Json(),
        {{"https",
          {{"signInToken", {{"queue", {{{"match", {{"grant_type", "authorization_code"}}}, {"delayMs", 300}}}}}}}}});
    const auto first = launch(m.signIn());
    awaitFor(m.signIn());
    EXPECT_FALSE(*first);
    ASSERT_TRUE(waitUntil([&] { return *first; }));
    EXPECT_EQ(authorizations(), 1u);
    EXPECT_EQ(m.message(), QStringLiteral("Signed in to your Tavrilo workspace."));
}

TEST_F(SignIn, ASignInWithoutIdentityTokenSaysSo)
{
    start();
    useScenario(
        kAtlas, Json(),
        {{"https", {{"signInToken", {{"default", {{"body", {{"access_token", "a"}, {"refresh_token", "r"}}}}}}}}}});
    awaitFor(model().signIn());
    EXPECT_EQ(model().message(), QStringLiteral("Sign-in returned no identity token."));
    EXPECT_FALSE(model().identityToken());
}

TEST_F(SignIn, WithoutConfigurationASignInOnlySignsOut)
{
    HubModel &m = model();
    m.setToken(QStringLiteral("access"));
    m.setIdentityToken(QStringLiteral("identity"));
    const QString before = m.message();
    awaitFor(m.signIn());
    EXPECT_FALSE(m.token());
    EXPECT_FALSE(m.identityToken());
    EXPECT_EQ(m.message(), before);
    EXPECT_EQ(authorizations(), 0u);
}

TEST_F(SignIn, ASignInWhoseSessionCloseFailsKeepsTheTokens)
{
    HubModel &m = signedIn();
    const std::optional<QString> token = m.identityToken();
    useScenario(kAtlas, Json(),
                {{"graphql", {{"NativeStop", {{"default", {{"answer", {{"ok", false}, {"refusal", "BUSY"}}}}}}}}}});
    m.setActiveSessionID(QStringLiteral("S-1"));
    awaitFor(m.signIn());
    EXPECT_EQ(m.message(), QStringLiteral("Control refused: BUSY"));
    EXPECT_EQ(m.cleanupFailure(), QStringLiteral("Session cleanup failed. Retry Stop or close. Control refused: BUSY"));
    EXPECT_EQ(m.identityToken(), token);
    EXPECT_EQ(authorizations(), 0u);
}

// The switch changes the workspace the platform signs the user's tokens for, and the model starts
// afresh in it: its own journal, no events, no ledger of the old workspace.
TEST_F(SignIn, SwitchesToAnotherWorkspaceOfTheAccount)
{
    HubModel &m = signedIn();
    const std::shared_ptr<WorkspaceLog> atlasLog = m.log();
    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("note"), QStringLiteral("atlas")}});
    ASSERT_TRUE(waitUntil([&] { return !m.events().isEmpty(); }));

    awaitFor(m.selectWorkspace(kCobaltWorkspace));
    EXPECT_EQ(m.message(), QStringLiteral("Workspace changed to Cobalt"));
    EXPECT_EQ(m.configuration()->tenantID, kCobalt);
    EXPECT_EQ(m.tenantName(), QStringLiteral("Cobalt"));
    EXPECT_EQ(tenantOf(m.identityToken()), kCobalt);
    EXPECT_EQ(tenantOf(m.token()), QString()); // the access token names no workspace
    EXPECT_NE(m.log(), atlasLog);
    EXPECT_EQ(m.log()->configuration().tenantID, kCobalt);
    EXPECT_FALSE(m.controlInFlight());
    EXPECT_FALSE(m.changesShuttingDown());
    const std::vector<Json> selections = requests("NativeSelectWorkspace");
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0]["variables"], (Json{{"tenantId", "tenant-c"}}));

    // Atlas's events are no longer the window's; Cobalt's are.
    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("note"), QStringLiteral("atlas")}});
    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("note"), QStringLiteral("cobalt")}}, kCobalt);
    ASSERT_TRUE(waitUntil([&] {
        return !m.events().isEmpty() &&
               m.events().constLast().payload.value(QStringLiteral("note")) == QStringLiteral("cobalt");
    }));
    for (const WorkspaceEvent &event : m.events())
        EXPECT_EQ(event.tenantID, kCobalt) << event.kind.toStdString();
}

struct SwitchFailureCase
{
    const char *name;
    NativeLive::Workspace workspace;
    Json extra; // scenario sections added after start-up
    QString message;
    bool selectionSent;
    bool signedOut; // both tokens are gone
};

class SwitchFailure : public SignIn, public ::testing::WithParamInterface<SwitchFailureCase>
{
};

TEST_P(SwitchFailure, IsReportedInTheStatusLine)
{
    const SwitchFailureCase &c = GetParam();
    HubModel &m = signedIn();
    useScenario(kAtlas, Json(), c.extra);
    awaitFor(m.selectWorkspace(c.workspace));
    EXPECT_EQ(m.message(), c.message);
    EXPECT_EQ(requests("NativeSelectWorkspace").size(), c.selectionSent ? 1u : 0u);
    EXPECT_EQ(!m.identityToken() && !m.token(), c.signedOut);
    EXPECT_FALSE(m.controlInFlight());
    EXPECT_EQ(m.configuration()->tenantID, kAtlas);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SwitchFailure,
    ::testing::Values(
        SwitchFailureCase{"NotAMember",
                          {QStringLiteral("tenant-z"), QStringLiteral("Zinc"), QStringLiteral("owner"), false},
                          Json::object(),
                          QStringLiteral("Workspace is not in the authenticated membership list."),
                          false,
                          false},
        SwitchFailureCase{"RefusedWithReason",
                          kCobaltWorkspace,
                          {{"graphql",
                            {{"NativeSelectWorkspace",
                              {{"default", {{"answer", {{"ok", false}, {"refusal", "Cobalt is archived."}}}}}}}}}},
                          QStringLiteral("Cobalt is archived."),
                          true,
                          false},
        SwitchFailureCase{"RefusedWithoutReason",
                          kCobaltWorkspace,
                          {{"graphql", {{"NativeSelectWorkspace", {{"default", {{"answer", {{"ok", "yes"}}}}}}}}}},
                          QStringLiteral("Workspace selection was refused."),
                          true,
                          false},
        SwitchFailureCase{"RenewedWithoutIdentityToken",
                          kCobaltWorkspace,
                          {{"https", {{"signInToken", {{"default", {{"body", {{"access_token", "a"}}}}}}}}}},
                          QStringLiteral("Sign in again to enter the selected workspace."),
                          true,
                          true},
        // The platform says yes but records nothing: the renewed token is still Atlas's.
        SwitchFailureCase{"RenewedForTheOldWorkspace",
                          kCobaltWorkspace,
                          {{"graphql", {{"NativeSelectWorkspace", {{"default", {{"answer", {{"ok", true}}}}}}}}}},
                          QStringLiteral("The renewed session has not entered the selected workspace. Sign in again "
                                         "before starting work."),
                          true,
                          true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SignIn, NoSwitchWhileASessionControlRuns)
{
    HubModel &m = signedIn();
    m.setControlInFlight(true);
    awaitFor(m.selectWorkspace(kCobaltWorkspace));
    EXPECT_EQ(m.message(), QStringLiteral("Wait for the current session control to finish."));
    EXPECT_TRUE(requests("NativeSelectWorkspace").empty());
    EXPECT_FALSE(m.changesShuttingDown());
}

// Entering the workspace records the project as the latest; leaving it closes the session first.
TEST_F(SignIn, EntersTheWorkspaceAndReturnsToTheProfiles)
{
    HubModel &m = signedIn();
    m.setProjectOpening(true);
    m.selectExistingProfile();
    EXPECT_FALSE(m.selectedProfile());
    m.setProjectOpening(false);

    m.setChangesShuttingDown(true);
    m.selectExistingProfile();
    EXPECT_TRUE(m.selectedProfile());
    EXPECT_FALSE(m.changesShuttingDown());
    ASSERT_FALSE(m.recentProjects().isEmpty());
    EXPECT_EQ(m.recentProjects().constFirst().directory, projectPath());
    EXPECT_EQ(NativeProjects::recent(m_appID, m.userID(), kAtlas, std::nullopt).constFirst().directory, projectPath());

    m.setActiveSessionID(QStringLiteral("S-2"));
    awaitFor(m.returnToProfiles());
    EXPECT_FALSE(m.selectedProfile());
    EXPECT_FALSE(m.activeSessionID());
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
    const std::vector<Json> stops = requests("NativeStop");
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0]["variables"], (Json{{"sessionId", "S-2"}}));
}

TEST_F(SignIn, AReturnWhoseStopIsRefusedStaysInTheWorkspace)
{
    HubModel &m = signedIn();
    m.selectExistingProfile();
    useScenario(kAtlas, Json(),
                {{"graphql", {{"NativeStop", {{"default", {{"answer", {{"ok", false}, {"refusal", "BUSY"}}}}}}}}}});
    m.setActiveSessionID(QStringLiteral("S-3"));
    awaitFor(m.returnToProfiles());
    EXPECT_TRUE(m.selectedProfile());
    EXPECT_EQ(m.activeSessionID(), QStringLiteral("S-3"));
    EXPECT_EQ(m.message(), QStringLiteral("Session cleanup failed. Retry Stop or close. Control refused: BUSY"));
    EXPECT_FALSE(m.closingSession());
    EXPECT_TRUE(m.hasOwnedCleanup());
}
} // namespace
