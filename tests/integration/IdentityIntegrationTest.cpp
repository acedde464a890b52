// Identity hydration and token renewal of the session model against the stand-in: the workspace a
// token is signed for, the repair of one signed for no workspace of the account, the journal and
// project tools of the workspace, and the 120 s renewal margin.
#include "ModelAgainstStandIn.h"

#include <QFile>

using namespace standinmodel;
using testsupport::failureOf;
using testsupport::jwtClaims;

namespace
{
const QString kNoDefault =
    QStringLiteral("Select an accessible workspace; the signed session no longer has a valid default membership.");
const QString kNoWorkspace = QStringLiteral("Your account has no accessible workspace.");
const QString kScreens = QStringLiteral("Screen access does not match the selected authenticated workspace.");
const QString kChanged =
    QStringLiteral("The authenticated workspace changed. Stop and select that workspace before continuing.");

class Identity : public ModelAgainstStandIn
{
public:
    // Signs in through the hosted pages (the refresh token goes to the model's keyring) and hands
    // the model its configuration and the tokens, as sign-in does before it hydrates.
    QString signIn()
    {
        CognitoLogin login(
            m_keyring, [] { return std::make_unique<FollowingWebSession>(); }, HubNetwork::shared().session());
        const CognitoLogin::Tokens tokens = awaitFor(login.login(configuration()));
        m_cursor = standIn().logEntries().next;
        HubModel &m = model();
        if (!m.configuration())
            m.setConfiguration(configuration());
        m.setToken(tokens.accessToken);
        m.setIdentityToken(tokens.identityToken);
        return tokens.identityToken.value_or(QString());
    }

    static QString tenantOf(const std::optional<QString> &token)
    {
        return QString::fromStdString(jwtClaims(token.value_or(QString())).value("custom:tenant_id", ""));
    }
};

struct HydrationCase
{
    const char *name = "";
    QString signedFor{}; // the workspace of the token
    Json identity{};     // the account's memberships; null: Atlas (default) and Cobalt
    Json graphql{};      // scripted GraphQL answers
    bool allowRefresh = true;
    std::optional<QString> expectedTenant{};
    QString hydratedTenant{}; // empty: the hydration fails
    QString failure{};
    std::optional<QString> repairedTo{}; // the workspace the repair asked for
    bool capture = false;
    QString token{}; // replaces the signed-in token when given
};

class Hydration : public Identity, public ::testing::WithParamInterface<HydrationCase>
{
};

TEST_P(Hydration, SelectsTheTokensWorkspaceOrRepairs)
{
    const HydrationCase &c = GetParam();
    Json extra = Json::object();
    if (!c.graphql.is_null())
        extra["graphql"] = c.graphql;
    useScenario(c.signedFor, c.identity, extra);
    const QString signedIn = signIn();
    const QString token = c.token.isEmpty() ? signedIn : c.token;
    HubModel &m = model();
    m.setCaptureCredentialsOnly(c.capture);

    const QString outcome = failureOf([&] { awaitFor(m.hydrateIdentity(token, c.allowRefresh, c.expectedTenant)); });
    const std::vector<Json> repairs = requests("NativeRepairWorkspace");
    if (c.repairedTo) {
        ASSERT_EQ(repairs.size(), 1u);
        EXPECT_EQ(repairs[0]["variables"], (Json{{"tenantId", c.repairedTo->toStdString()}}));
    } else {
        EXPECT_TRUE(repairs.empty());
    }
    if (!c.hydratedTenant.isEmpty()) {
        EXPECT_EQ(outcome, QStringLiteral("(no failure)"));
        EXPECT_EQ(m.configuration()->tenantID, c.hydratedTenant);
        // A repaired session holds the renewed tokens, signed for the workspace it entered.
        EXPECT_EQ(tenantOf(m.identityToken()), c.hydratedTenant);
        EXPECT_TRUE(m.log());
        return;
    }
    EXPECT_EQ(outcome, c.failure);
    EXPECT_TRUE(m.configuration()->tenantID.isEmpty());
    EXPECT_FALSE(m.log());
    EXPECT_EQ(m.identityToken(), signedIn);
}

const Json kTwoWithoutDefault{
    {"workspaces", {membership(kAtlas, "Atlas", false), membership(kCobalt, "Cobalt", false)}}};
const QString kGone = QStringLiteral("tenant-gone");

Json identityData(Json screens, Json workspaces = Json::array({membership(kAtlas, "Atlas", true)}))
{
    return {{"NativeIdentity",
             {{"default",
               {{"data",
                 {{"tavriloMyWorkspaces", workspaces},
                  {"tavriloEntitlement", {{"allowed", true}, {"planName", nullptr}}},
                  {"tavriloMyAccess", {{"userId", nullptr}}},
                  {"tavriloMyScreens", screens}}}}}}}};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Hydration,
    ::testing::Values(
        HydrationCase{.name = "TheTokensWorkspace", .signedFor = kAtlas, .hydratedTenant = kAtlas},
        HydrationCase{
            .name = "RepairsToTheDefault",
            .signedFor = kGone,
            .identity = {{"workspaces", {membership(kAtlas, "Atlas", false), membership(kCobalt, "Cobalt", true)}}},
            .hydratedTenant = kCobalt,
            .repairedTo = kCobalt},
        HydrationCase{.name = "RepairsToTheExpected",
                      .signedFor = kGone,
                      .expectedTenant = kCobalt,
                      .hydratedTenant = kCobalt,
                      .repairedTo = kCobalt},
        HydrationCase{.name = "AnExpectedNonMemberFallsBackToTheDefault",
                      .signedFor = kGone,
                      .expectedTenant = QStringLiteral("tenant-z"),
                      .hydratedTenant = kAtlas,
                      .repairedTo = kAtlas},
        HydrationCase{.name = "RepairsToTheOnlyMember",
                      .signedFor = kGone,
                      .identity = {{"workspaces", {membership(kCobalt, "Cobalt", false)}}},
                      .hydratedTenant = kCobalt,
                      .repairedTo = kCobalt},
        HydrationCase{
            .name = "NoRepairTarget", .signedFor = kGone, .identity = kTwoWithoutDefault, .failure = kNoDefault},
        HydrationCase{.name = "NoMembershipsToRepairTo",
                      .signedFor = kAtlas,
                      .identity = {{"workspaces", Json::array()}},
                      .failure = kNoDefault},
        HydrationCase{.name = "NoMembershipsWithoutRepair",
                      .signedFor = kAtlas,
                      .identity = {{"workspaces", Json::array()}},
                      .allowRefresh = false,
                      .failure = kNoWorkspace},
        HydrationCase{.name = "WithoutRepairAnotherWorkspaceIsNone",
                      .signedFor = kGone,
                      .allowRefresh = false,
                      .failure = kNoWorkspace},
        HydrationCase{.name = "NullMembershipsCountAsNone",
                      .signedFor = kAtlas,
                      .graphql = identityData(nullptr, nullptr),
                      .allowRefresh = false,
                      .failure = kNoWorkspace},
        HydrationCase{.name = "TheRepairIsRefused",
                      .signedFor = kGone,
                      .graphql = {{"NativeRepairWorkspace", {{"default", {{"answer", {{"ok", false}}}}}}}},
                      .failure = QStringLiteral("The platform refused recovery to an accessible workspace."),
                      .repairedTo = kAtlas},
        HydrationCase{.name = "TheRepairIsAnsweredWithoutAnObject",
                      .signedFor = kGone,
                      .graphql = {{"NativeRepairWorkspace", {{"default", {{"answer", nullptr}}}}}},
                      .failure = QStringLiteral("The platform refused recovery to an accessible workspace."),
                      .repairedTo = kAtlas},
        HydrationCase{.name = "CaptureNeverRepairs",
                      .signedFor = kGone,
                      .failure = QStringLiteral(
                          "Capture requires an already hydrated signed workspace claim from the account producer."),
                      .capture = true},
        HydrationCase{.name = "AnotherWorkspaceThanExpected",
                      .signedFor = kAtlas,
                      .allowRefresh = false,
                      .expectedTenant = kCobalt,
                      .failure = QStringLiteral("The renewed session has not entered the selected workspace. Sign in "
                                                "again before starting work.")},
        HydrationCase{.name = "ScreensOfAnotherWorkspace",
                      .signedFor = kAtlas,
                      .graphql = identityData({{"tenantId", "tenant-x"}, {"screens", Json::array()}}),
                      .failure = kScreens},
        HydrationCase{.name = "ScreensThatAreNoListOfObjects",
                      .signedFor = kAtlas,
                      .graphql = identityData({{"tenantId", "tenant-a"}, {"screens", {1}}}),
                      .failure = kScreens},
        HydrationCase{.name = "ScreensOfAnyContentPass",
                      .signedFor = kAtlas,
                      .graphql = identityData({{"tenantId", "tenant-a"}, {"screens", {{{"anything", 1}}}}}),
                      .hydratedTenant = kAtlas},
        HydrationCase{.name = "MalformedToken",
                      .signedFor = kAtlas,
                      .failure = QStringLiteral("Malformed identity token."),
                      .token = QStringLiteral("a..b")},
        HydrationCase{.name = "UnreadableClaims",
                      .signedFor = kAtlas,
                      .failure = QStringLiteral("Identity token claims are unreadable."),
                      .token = QStringLiteral("a.WzFd.b")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Identity, AHydrationWithoutConfigurationAsksNothing)
{
    EXPECT_EQ(failureOf([&] { awaitFor(model().hydrateIdentity(QStringLiteral("a.b.c"), true, std::nullopt)); }),
              QStringLiteral("Missing product configuration."));
    EXPECT_TRUE(requests("NativeIdentity").empty());
}

TEST_F(Identity, ARepairWhoseRenewalHasNoIdentityTokenKeepsTheOldTokens)
{
    useScenario(kGone);
    const QString token = signIn();
    useScenario(kGone, Json(), {{"https", {{"signInToken", {{"default", {{"body", {{"access_token", "a"}}}}}}}}}});
    EXPECT_EQ(failureOf([&] { awaitFor(model().hydrateIdentity(token, true, std::nullopt)); }),
              QStringLiteral("Sign in again to renew the accessible workspace claim."));
    EXPECT_EQ(model().identityToken(), token);
}

// The same workspace, folder and user keep the journal, the project tools and the ledger; another
// user starts afresh.
TEST_F(Identity, HydratingAgainKeepsTheWorkspaceToolsUnlessTheUserChanged)
{
    const QString token = signIn();
    HubModel &m = model();
    awaitFor(m.hydrateIdentity(token, true, std::nullopt));
    const std::shared_ptr<WorkspaceLog> log = m.log();
    const qint64 ledger = m.ledgerGeneration();
    awaitFor(m.hydrateIdentity(token, true, std::nullopt));
    EXPECT_EQ(m.log(), log);
    EXPECT_EQ(m.ledgerGeneration(), ledger);

    useScenario(kAtlas, {{"workspaces", {membership(kAtlas, "Atlas", true)}}, {"userId", "someone-else"}});
    awaitFor(m.hydrateIdentity(token, true, std::nullopt));
    EXPECT_NE(m.log(), log);
    EXPECT_EQ(m.ledgerGeneration(), ledger + 1);
    EXPECT_EQ(m.userID(), QStringLiteral("someone-else"));
}

// The journal of the new workspace is made before anything is stored: when it cannot be made, the
// model stays wholly in the workspace it was in.
TEST_F(Identity, AWorkspaceWhoseJournalCannotBeMadeChangesNothing)
{
    HubModel &m = model();
    awaitFor(m.hydrateIdentity(signIn(), true, std::nullopt));
    const std::shared_ptr<WorkspaceLog> log = m.log();
    const QString session = m.sessionID();

    useScenario(kCobalt);
    const QString cobaltToken = signIn();
    const QString folder = QStringLiteral("/tmp/tavrilo/") + m_appID;
    ASSERT_TRUE(QFile::rename(folder, folder + QStringLiteral(".moved")));
    ASSERT_TRUE(QFile::link(folder + QStringLiteral(".moved"), folder));
    const QString outcome = failureOf([&] { awaitFor(m.hydrateIdentity(cobaltToken, false, kCobalt)); });
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QFile::rename(folder + QStringLiteral(".moved"), folder));

    EXPECT_EQ(outcome, QStringLiteral("Unsafe shared workspace directory: ") + folder);
    EXPECT_EQ(m.configuration()->tenantID, kAtlas);
    EXPECT_EQ(m.tenantName(), QStringLiteral("Atlas"));
    EXPECT_EQ(m.sessionID(), session);
    EXPECT_EQ(m.log(), log);
    EXPECT_EQ(m.log()->configuration().tenantID, kAtlas);
}

struct MarginCase
{
    const char *name;
    qint64 secondsLeft;
    bool renewed;
};

class RenewalMargin : public Identity, public ::testing::WithParamInterface<MarginCase>
{
};

TEST_P(RenewalMargin, RenewsAt120SecondsOrLess)
{
    HubModel &m = model();
    const QString token = signIn();
    awaitFor(m.hydrateIdentity(token, true, std::nullopt));
    const qint64 expiry = jwtClaims(token)["exp"].get<qint64>();
    m_time->now = QDateTime::fromSecsSinceEpoch(expiry - GetParam().secondsLeft, Qt::UTC);
    const qint64 cursor = standIn().logEntries().next;
    EXPECT_FALSE(awaitFor(m.currentVerifiedToken()).isEmpty());
    const auto grants = standIn().waitForEntry(
        cursor, [](const Json &e) { return e["kind"] == "signin" && e["grant_type"] == "refresh_token"; }, 0s);
    EXPECT_EQ(grants.has_value(), GetParam().renewed);
    EXPECT_EQ(m.identityToken() != token, GetParam().renewed);
    EXPECT_EQ(awaitFor(m.currentVerifiedToken()), *m.identityToken());
}

INSTANTIATE_TEST_SUITE_P(Cases, RenewalMargin,
                         ::testing::Values(MarginCase{"Kept", 121, false}, MarginCase{"RenewedAtTheMargin", 120, true},
                                           MarginCase{"RenewedWhenExpired", -5, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// A renewed token signed for another workspace than the one the model works in is refused, and the
// tokens of the workspace stay.
TEST_F(Identity, ARenewedTokenForAnotherWorkspaceIsRefused)
{
    HubModel &m = model();
    const QString token = signIn();
    awaitFor(m.hydrateIdentity(token, true, std::nullopt));
    const std::optional<QString> access = m.token();
    useScenario(kCobalt);
    m_time->now = QDateTime::fromSecsSinceEpoch(jwtClaims(token)["exp"].get<qint64>(), Qt::UTC);
    EXPECT_EQ(failureOf([&] { awaitFor(m.refreshIdentityIfNeeded()); }), kChanged);
    EXPECT_EQ(m.identityToken(), token);
    EXPECT_EQ(m.token(), access);
}

struct RefreshFailureCase
{
    const char *name;
    std::function<void(Identity &)> arrange;
    QString failure;
};

class RefreshFailure : public Identity, public ::testing::WithParamInterface<RefreshFailureCase>
{
};

TEST_P(RefreshFailure, IsTheRenewalsSentence)
{
    GetParam().arrange(*this);
    EXPECT_EQ(failureOf([&] { awaitFor(model().refreshIdentityIfNeeded()); }), GetParam().failure);
}

// An identity token that expired a minute ago, of a sign-in whose refresh token the model's
// keyring does not hold.
void expiredForeignToken(Identity &t)
{
    CognitoLogin other(
        std::make_shared<MemoryKeyring>(), [] { return std::make_unique<FollowingWebSession>(); },
        HubNetwork::shared().session());
    const CognitoLogin::Tokens tokens = awaitFor(other.login(t.configuration()));
    HubConfiguration configuration = t.configuration();
    configuration.tenantID = kAtlas;
    t.model().setConfiguration(configuration);
    t.model().setIdentityToken(tokens.identityToken);
    t.m_time->now = QDateTime::fromSecsSinceEpoch(jwtClaims(*tokens.identityToken)["exp"].get<qint64>() + 60, Qt::UTC);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefreshFailure,
    ::testing::Values(
        RefreshFailureCase{"SignedOut", [](Identity &t) { t.model().setConfiguration(t.configuration()); },
                           QStringLiteral("Sign in before using the platform.")},
        RefreshFailureCase{"WithoutConfiguration",
                           [](Identity &t) { t.model().setIdentityToken(QStringLiteral("a.b.c")); },
                           QStringLiteral("Sign in before using the platform.")},
        RefreshFailureCase{"NothingToRenewWith", expiredForeignToken,
                           QStringLiteral("Your session expired. Sign in again.")},
        RefreshFailureCase{"CaptureNeverRenews",
                           [](Identity &t) {
                               expiredForeignToken(t);
                               t.model().setCaptureCredentialsOnly(true);
                           },
                           QStringLiteral("Capture credentials need renewal by the parent account process; native "
                                          "capture never refreshes stored sessions.")},
        RefreshFailureCase{"UnreadableToken",
                           [](Identity &t) {
                               t.model().setConfiguration(t.configuration());
                               t.model().setIdentityToken(QStringLiteral("a.A.b"));
                           },
                           QStringLiteral("Unreadable identity token.")},
        RefreshFailureCase{"MalformedToken",
                           [](Identity &t) {
                               t.model().setConfiguration(t.configuration());
                               t.model().setIdentityToken(QStringLiteral("a.b"));
                           },
                           QStringLiteral("Malformed identity token.")}),
    [](const auto &info) { return std::string(info.param.name); });

// The workspace tools authenticate with the model's token for as long as the model stays in the
// session and workspace they were bound to.
TEST_F(Identity, TheWorkspaceToolsTokenFollowsTheSessionAndWorkspace)
{
    HubModel &m = model();
    awaitFor(m.hydrateIdentity(signIn(), true, std::nullopt));
    const QString session = m.sessionID();
    const TokenSource tokens = m.workspaceTokenSource(session, kAtlas);
    EXPECT_EQ(awaitFor(tokens({})), *m.identityToken());

    const QString changed = QStringLiteral("The workspace tool session changed.");
    EXPECT_EQ(failureOf([&] { awaitFor(m.workspaceTokenSource(session, kCobalt)({})); }), changed);
    m.setSessionID(QStringLiteral("another"));
    EXPECT_EQ(failureOf([&] { awaitFor(tokens({})); }), changed);
    m.setSessionID(session);
    EXPECT_EQ(awaitFor(tokens({})), *m.identityToken());

    // The model moves to another session while the token is renewed: the renewed token is not
    // handed to the tools of the session they were bound to.
    m_time->now = QDateTime::fromSecsSinceEpoch(jwtClaims(*m.identityToken())["exp"].get<qint64>(), Qt::UTC);
    auto renewing = tokens({});
    m.setSessionID(QStringLiteral("another"));
    EXPECT_EQ(failureOf([&] { awaitFor(std::move(renewing)); }), changed);
    m.setSessionID(session);

    m_model.reset();
    EXPECT_EQ(failureOf([&] { awaitFor(tokens({})); }), changed);
}
} // namespace
