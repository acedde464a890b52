// Start-up and the poll loop of the session model against the stand-in: signed out and signed in,
// a failed hydration, the journal shared with other processes, and a journal that cannot be read.
#include "ModelAgainstStandIn.h"

#include <QFile>

using namespace standinmodel;

namespace
{
class Startup : public ModelAgainstStandIn
{
protected:
    bool merged(const char *note)
    {
        const QList<WorkspaceEvent> &events = model().events();
        return std::any_of(events.begin(), events.end(), [&](const WorkspaceEvent &event) {
            return event.payload.value(QStringLiteral("note")) == QLatin1StringView(note);
        });
    }
};

TEST_F(Startup, SignedInItHydratesTheWorkspaceAndJournalsTheConnection)
{
    storeSignIn();
    start();
    HubModel &m = model();
    EXPECT_EQ(m.message(), kReady);
    ASSERT_TRUE(m.identityToken() && m.token());
    EXPECT_EQ(testsupport::jwtClaims(*m.identityToken())["custom:tenant_id"], kAtlas.toStdString());
    ASSERT_TRUE(m.layout());
    ASSERT_TRUE(m.configuration() && m.log());
    EXPECT_EQ(m.configuration()->tenantID, kAtlas);
    EXPECT_EQ(m.configuration()->root, projectPath());
    EXPECT_EQ(m.sessionID(), m.configuration()->canonicalProject().sessionID);
    EXPECT_EQ(m.workspaces().size(), 2);
    EXPECT_EQ(m.tenantName(), QStringLiteral("Atlas"));
    EXPECT_EQ(m.role(), QStringLiteral("owner"));
    EXPECT_EQ(m.planName(), QStringLiteral("Stand-in"));
    EXPECT_EQ(m.userID(), m_subject);
    EXPECT_TRUE(m.cloudConnected());
    ASSERT_TRUE(pollPasses(1));

    // One record from hydration (with the workspace's name), one from start-up.
    std::vector<EventPayload> connected;
    for (const WorkspaceEvent &event : journal())
        if (event.kind == QLatin1StringView("workspace.connected"))
            connected.push_back(event.payload);
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_EQ(connected[0], (EventPayload{{QStringLiteral("client"), QStringLiteral("macos")},
                                          {QStringLiteral("root"), projectPath()},
                                          {QStringLiteral("tenantName"), QStringLiteral("Atlas")}}));
    EXPECT_EQ(connected[1].value(QStringLiteral("client")), QStringLiteral("macos"));
    EXPECT_EQ(QFileInfo(connected[1].value(QStringLiteral("root"))).canonicalFilePath(), projectPath());
    EXPECT_FALSE(connected[1].contains(QStringLiteral("tenantName")));

    // The first pass starts the ledger's refresh: the workspace's summary, then the session's.
    ASSERT_TRUE(waitUntil([&] { return m.persistedSessionUsage().has_value(); }));
    const std::vector<Json> usage = requests("NativeCustomerUsage");
    ASSERT_EQ(usage.size(), 2u);
    EXPECT_EQ(usage[0]["variables"], (Json{{"period", ""}, {"tenantId", "tenant-a"}, {"sessionId", nullptr}}));
    EXPECT_EQ(usage[1]["variables"]["sessionId"], m.sessionID().toStdString());
    EXPECT_EQ(m.workspaceLedgerLabel(), QStringLiteral("Month \u00b7 0 tokens"));
    EXPECT_EQ(m.sessionLedgerLabel(), QStringLiteral("Session \u00b7 0 tokens"));
}

struct SignedOutCase
{
    const char *name;
    // What the keyring and the identity provider hold before start-up.
    std::function<void(ModelAgainstStandIn &)> arrange;
};

class SignedOutStartup : public Startup, public ::testing::WithParamInterface<SignedOutCase>
{
};

TEST_P(SignedOutStartup, EndsReadyAndSignedOut)
{
    GetParam().arrange(*this);
    start();
    HubModel &m = model();
    EXPECT_EQ(m.message(), kReady);
    EXPECT_FALSE(m.token());
    EXPECT_FALSE(m.identityToken());
    EXPECT_FALSE(m.log());
    ASSERT_TRUE(m.configuration());
    EXPECT_TRUE(m.configuration()->tenantID.isEmpty());
    // Signed out the loop still runs, and asks the platform nothing.
    ASSERT_TRUE(pollPasses(3));
    EXPECT_TRUE(requests("NativeIdentity").empty());
    EXPECT_TRUE(requests("NativeCustomerUsage").empty());
    EXPECT_EQ(m.message(), kReady);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedOutStartup,
    ::testing::Values(SignedOutCase{"NothingStored", [](ModelAgainstStandIn &) {}},
                      SignedOutCase{"RenewalRefused",
                                    [](ModelAgainstStandIn &t) {
                                        awaitFor(t.m_keyring->write(QStringLiteral("com.tavrilo.native-hub.account"),
                                                                    kClient, "never-issued"));
                                    }},
                      SignedOutCase{"RenewedWithoutIdentityToken",
                                    [](ModelAgainstStandIn &t) {
                                        t.storeSignIn();
                                        t.useScenario(
                                            kAtlas, Json(),
                                            {{"https",
                                              {{"signInToken", {{"default", {{"body", {{"access_token", "a"}}}}}}}}}});
                                    }}),
    [](const auto &info) { return std::string(info.param.name); });

// A failed hydration is what the user must read: the ready line does not cover it.
TEST_F(Startup, AHydrationErrorStaysInTheStatusLine)
{
    storeSignIn();
    const Json identity{{"tavriloMyWorkspaces", {membership(kAtlas, "Atlas", true)}},
                        {"tavriloEntitlement", {{"allowed", true}, {"planName", "Team"}}},
                        {"tavriloMyAccess", {{"userId", "u"}}},
                        {"tavriloMyScreens", {{"tenantId", "tenant-x"}, {"screens", Json::array()}}}};
    useScenario(kAtlas, Json(), {{"graphql", {{"NativeIdentity", {{"default", {{"data", identity}}}}}}}});
    start();
    HubModel &m = model();
    const QString failure = QStringLiteral("Screen access does not match the selected authenticated workspace.");
    EXPECT_EQ(m.message(), failure);
    EXPECT_FALSE(m.token());
    EXPECT_FALSE(m.identityToken());
    // Nothing of the workspace was taken.
    EXPECT_FALSE(m.log());
    EXPECT_TRUE(m.configuration()->tenantID.isEmpty());
    ASSERT_TRUE(pollPasses(3));
    EXPECT_EQ(m.message(), failure);
}

TEST_F(Startup, AConfigurationErrorEndsStartUp)
{
    qputenv("TAVRILO_APP_ID", "no spaces");
    start();
    EXPECT_FALSE(model().configuration());
    EXPECT_TRUE(model().layout());
    EXPECT_NE(model().message(), kReady);
    EXPECT_TRUE(waitUntil([&] { return m_start.isFinished(); }));
    EXPECT_EQ(m_time->pauses, 0);
}

// The journal is shared by every process of the application: a stop another client writes for the
// running turn stops it here too, while this platform's own stops and stops from before the window
// was ready do not.
TEST_F(Startup, ThePollLoopMirrorsAnotherClientsStopAndIgnoresItsOwn)
{
    storeSignIn();
    start();
    HubModel &m = model();
    ASSERT_TRUE(pollPasses(1));
    const QString session = m.sessionID();
    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("working"), R"(["tavrilo_builder"])"}});
    ASSERT_TRUE(waitUntil([&] { return m.running(); }));

    appendFromAnotherProcess(QStringLiteral("command.interrupt"), {{QStringLiteral("client"), QStringLiteral("macos")},
                                                                   {QStringLiteral("session_id"), session}});
    appendFromAnotherProcess(QStringLiteral("command.interrupt"), {{QStringLiteral("client"), QStringLiteral("cli")}},
                             kAtlas, m_time->now.addSecs(-60).toString(Qt::ISODate));
    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("note"), QStringLiteral("after")}});
    ASSERT_TRUE(waitUntil([&] { return merged("after"); }));
    EXPECT_TRUE(m.running());

    appendFromAnotherProcess(QStringLiteral("command.interrupt"), {{QStringLiteral("client"), QStringLiteral("cli")},
                                                                   {QStringLiteral("session_id"), session}});
    ASSERT_TRUE(waitUntil([&] { return !m.running(); }));
    EXPECT_FALSE(m.closingSession());
    EXPECT_EQ(m.message(), kReady);
}

// A failed read is shown once while it recurs, and the next pass reads again.
TEST_F(Startup, AFailedJournalReadIsShownAndPollingGoesOn)
{
    storeSignIn();
    start();
    HubModel &m = model();
    ASSERT_TRUE(pollPasses(1));
    const QString file = m.log()->directory() + QStringLiteral("/events.jsonl");
    const QString held = file + QStringLiteral(".held");
    ASSERT_TRUE(QFile::rename(file, held));
    ASSERT_TRUE(QDir().mkdir(file));
    ASSERT_TRUE(waitUntil([&] { return m.message() == QStringLiteral("Cannot open workspace event log."); }));
    // The same failure on the passes after is not shown again over what the status line says since.
    m.setMessage(QStringLiteral("Something else."));
    ASSERT_TRUE(pollPasses(3));
    EXPECT_EQ(m.message(), QStringLiteral("Something else."));
    ASSERT_TRUE(QDir().rmdir(file));
    ASSERT_TRUE(QFile::rename(held, file));

    appendFromAnotherProcess(QStringLiteral("status"), {{QStringLiteral("note"), QStringLiteral("later")}});
    EXPECT_TRUE(waitUntil([&] { return merged("later"); }));
}
// While a session is active the loop asks for its pending inputs, at most every 2 s of the model's
// clock; a failed query is shown and the loop goes on.
TEST_F(Startup, PendingInputsOfAnActiveSessionAreAskedForEveryTwoSeconds)
{
    storeSignIn();
    start();
    HubModel &m = model();
    ASSERT_TRUE(pollPasses(1));
    useScenario(
        kAtlas, Json(),
        {{"graphql",
          {{"NativePending", {{"default", {{"errors", {{{"message", "Pending inputs are unavailable."}}}}}}}}}}});
    m.setActiveSessionID(m.sessionID());
    ASSERT_TRUE(waitUntil([&] { return m.message() == QStringLiteral("Pending inputs are unavailable."); }));
    ASSERT_TRUE(pollPasses(20));
    ASSERT_EQ(requests("NativePending").size(), 1u);
    EXPECT_EQ(requests("NativePending")[0]["variables"], (Json{{"sessionId", m.sessionID().toStdString()}}));
    m_time->now = m_time->now.addSecs(2);
    EXPECT_TRUE(waitUntil([&] { return requests("NativePending").size() == 2u; }));

    // Closing, nothing is asked for, however long ago the last question was.
    m.setClosingSession(true);
    m_time->now = m_time->now.addSecs(60);
    ASSERT_TRUE(pollPasses(20));
    EXPECT_EQ(requests("NativePending").size(), 2u);
    m.setClosingSession(false);
    m.setActiveSessionID(std::nullopt);
}

TEST_F(Startup, CancellationEndsTheLoopWhileItPauses)
{
    start();
    ASSERT_TRUE(pollPasses(1));
    const Job running = m_start;
    running.cancel();
    ASSERT_TRUE(waitUntil([&] { return running.isFinished(); }));
    EXPECT_EQ(model().message(), QStringLiteral("The operation was cancelled."));
}
} // namespace
