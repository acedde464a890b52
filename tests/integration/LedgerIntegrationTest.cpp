// The usage-ledger refresh of the session model against the stand-in: its 15 s spacing on the
// model's clock, the forced refresh, what an answer that fails a check leaves behind, and answers
// that arrive after the workspace or the ledger moved on.
#include "ModelAgainstStandIn.h"

#include "../session/SessionTestSupport.h"

using namespace standinmodel;

namespace
{
const NativeLive::Workspace kCobaltWorkspace{kCobalt, QStringLiteral("Cobalt"), QStringLiteral("owner"), false};

class Ledger : public ModelAgainstStandIn
{
public:
    // Signed in, and the first refresh of the ledger done.
    HubModel &refreshed()
    {
        signedIn();
        EXPECT_TRUE(waitUntil([&] { return model().persistedSessionUsage().has_value(); }));
        EXPECT_TRUE(waitUntil([&] { return !model().ledgerTask().isValid(); }));
        return model();
    }

    std::size_t usageQueries() const { return requests("NativeCustomerUsage").size(); }

    // Scripted usage answers: `workspace` for the workspace's summary, `session` for the session's;
    // the stand-in's own for a null step.
    void answerUsage(Json workspace, Json session)
    {
        Json queue = Json::array();
        const Json sessionID = model().sessionID().toStdString();
        for (auto [sessionId, step] : {std::pair(Json(), workspace), std::pair(sessionID, session)}) {
            if (step.is_null())
                continue;
            step["times"] = 1000;
            step["match"] = {{"variables", {{"sessionId", sessionId}}}};
            queue.push_back(step);
        }
        useScenario(kAtlas, Json(), {{"graphql", {{"NativeCustomerUsage", {{"queue", queue}}}}}});
    }
};

// Unforced refreshes follow one another 15 s apart on the model's clock, however often the poll
// loop asks.
TEST_F(Ledger, UnforcedRefreshesAreSpacedFifteenSecondsApart)
{
    HubModel &m = refreshed();
    EXPECT_EQ(usageQueries(), 2u);
    ASSERT_TRUE(pollPasses(20));
    m_time->now = m_time->now.addSecs(14);
    ASSERT_TRUE(pollPasses(20));
    EXPECT_EQ(usageQueries(), 2u);
    m_time->now = m_time->now.addSecs(1);
    EXPECT_TRUE(waitUntil([&] { return usageQueries() == 4u; }));
    ASSERT_TRUE(pollPasses(20));
    EXPECT_EQ(usageQueries(), 4u);
    EXPECT_EQ(m.nextLedgerRefresh(), m_time->now.addSecs(15));
}

// The header's refresh control forces a refresh within the 15 s, also while the changes reader
// shuts down; nothing forces one while a refresh runs, a session closes, or nobody is signed in.
TEST_F(Ledger, AForcedRefreshRunsWithinTheSpacingButNotAlongsideAnother)
{
    HubModel &m = refreshed();
    m.setChangesShuttingDown(true);
    m.beginLedgerRefresh(false);
    EXPECT_FALSE(m.ledgerTask().isValid());
    m.beginLedgerRefresh(true);
    EXPECT_TRUE(m.ledgerTask().isValid());
    const Job first = m.ledgerTask();
    m.beginLedgerRefresh(true);
    EXPECT_EQ(m.ledgerTask(), first);
    ASSERT_TRUE(waitUntil([&] { return !m.ledgerTask().isValid(); }));
    EXPECT_EQ(usageQueries(), 4u);

    m.setClosingSession(true);
    m.beginLedgerRefresh(true);
    EXPECT_FALSE(m.ledgerTask().isValid());
    m.setClosingSession(false);
    const std::optional<QString> token = m.identityToken();
    m.setIdentityToken(std::nullopt);
    m.beginLedgerRefresh(true);
    EXPECT_FALSE(m.ledgerTask().isValid());
    m.setIdentityToken(token);
    HubConfiguration noWorkspace = *m.configuration();
    noWorkspace.tenantID.clear();
    m.setConfiguration(noWorkspace);
    m.beginLedgerRefresh(true);
    EXPECT_FALSE(m.ledgerTask().isValid());
}

struct RefreshCase
{
    const char *name;
    Json workspace; // step for the workspace's summary; null: the stand-in's own
    Json session;   // step for the session's summary
    bool keepsWorkspace;
    bool keepsSession;
};

class LedgerRefresh : public Ledger, public ::testing::WithParamInterface<RefreshCase>
{
};

// No failure reaches the status line; what is left of the summaries shows in the labels.
TEST_P(LedgerRefresh, LeavesWhatItCouldConfirm)
{
    const RefreshCase &c = GetParam();
    HubModel &m = refreshed();
    ASSERT_TRUE(m.persistedWorkspaceUsage() && m.persistedSessionUsage());
    answerUsage(c.workspace, c.session);
    m.beginLedgerRefresh(true);
    ASSERT_TRUE(waitUntil([&] { return !m.ledgerTask().isValid(); }));
    EXPECT_EQ(m.message(), kReady);
    EXPECT_EQ(m.persistedWorkspaceUsage().has_value(), c.keepsWorkspace);
    EXPECT_EQ(m.persistedSessionUsage().has_value(), c.keepsSession);
    if (!c.keepsSession) {
        EXPECT_TRUE(m.persistedSessionUsagePending());
        EXPECT_EQ(m.sessionLedgerLabel(), QStringLiteral("Session \u00b7 Usage pending"));
    }
    if (!c.keepsWorkspace) {
        EXPECT_EQ(m.workspaceLedgerLabel(), QStringLiteral("Month \u00b7 Usage unavailable"));
        EXPECT_EQ(m.persistedCostLabel(), QStringLiteral("Cost unavailable"));
    }
}

Json answer(Json summary)
{
    return {{"answer", std::move(summary)}};
}

Json withMember(Json summary, const char *key, Json value)
{
    summary[key] = std::move(value);
    return summary;
}

const Json kWorkspace = withMember(sessiontest::ledgerSummary(std::nullopt), "tenantId", "tenant-a");

INSTANTIATE_TEST_SUITE_P(
    Cases, LedgerRefresh,
    ::testing::Values(RefreshCase{"Confirmed", answer(kWorkspace), Json(), true, true},
                      RefreshCase{"NoWorkspaceSummary", answer(nullptr), Json(), false, false},
                      RefreshCase{"WorkspaceSummaryUndecodable", answer(withMember(kWorkspace, "totalTokens", 7)),
                                  Json(), false, false},
                      RefreshCase{"WorkspaceSummaryNotAddingUp", answer(withMember(kWorkspace, "totalTokens", "1")),
                                  Json(), false, false},
                      RefreshCase{"WorkspaceSummaryOfAnotherWorkspace",
                                  answer(withMember(kWorkspace, "tenantId", "tenant-x")), Json(), false, false},
                      RefreshCase{"WorkspaceSummaryNamingASession", answer(withMember(kWorkspace, "sessionId", "S")),
                                  Json(), false, false},
                      RefreshCase{"WorkspaceReadFails", {{"status", 500}}, Json(), false, false},
                      RefreshCase{"SessionSummaryOfAnotherWorkspace", Json(),
                                  answer(withMember(kWorkspace, "tenantId", "tenant-x")), true, false},
                      RefreshCase{"SessionSummaryWithoutSession", Json(), answer(kWorkspace), true, false},
                      RefreshCase{"SessionSummaryWithAnEmptySession", Json(),
                                  answer(withMember(kWorkspace, "sessionId", "")), true, false},
                      RefreshCase{"SessionReadFails", Json(), {{"status", 500}}, true, false}),
    [](const auto &info) { return std::string(info.param.name); });

// A session summary whose ledger is not ready yet is kept and used, but the session's label waits.
TEST_F(Ledger, ASessionLedgerNotReadyYetIsKeptButPending)
{
    HubModel &m = refreshed();
    answerUsage(Json(), answer(withMember(sessiontest::ledgerSummary(m.sessionID(), 10, 4, 2, 3, false), "tenantId",
                                          "tenant-a")));
    m.beginLedgerRefresh(true);
    ASSERT_TRUE(waitUntil([&] { return !m.ledgerTask().isValid(); }));
    ASSERT_TRUE(m.persistedSessionUsage());
    EXPECT_TRUE(m.persistedSessionUsagePending());
    EXPECT_EQ(m.sessionLedgerLabel(), QStringLiteral("Session \u00b7 Usage pending"));
    EXPECT_TRUE(m.unattributedLedgerLabel());
    EXPECT_EQ(m.pendingAttributionLabel(),
              QStringLiteral("3 usage receipts awaiting attribution; no specialist allocation is implied."));
}

// A clear drops the answer in flight; no refresh starts until the cancelled one has ended, and then
// the next pass starts one at once.
TEST_F(Ledger, AClearDropsTheAnswerInFlight)
{
    HubModel &m = refreshed();
    useScenario(kAtlas, Json(), {{"graphql", {{"NativeCustomerUsage", {{"default", {{"delayMs", 300}}}}}}}});
    m.beginLedgerRefresh(true);
    const Job cancelled = m.ledgerTask();
    ASSERT_TRUE(cancelled.isValid());
    m.clearPersistedLedger();
    EXPECT_FALSE(m.persistedWorkspaceUsage());
    // Until the cancelled refresh has ended the model holds it and starts no other.
    m.beginLedgerRefresh(true);
    EXPECT_TRUE(cancelled.isFinished() ? m.ledgerTask() != cancelled : m.ledgerTask() == cancelled);
    ASSERT_TRUE(waitUntil([&] { return cancelled.isFinished(); }));
    EXPECT_FALSE(m.persistedWorkspaceUsage());
    ASSERT_TRUE(waitUntil([&] { return m.persistedSessionUsage().has_value(); }, 10s));
}

// Switching workspace while a refresh waits for its answer leaves nothing of the old workspace.
TEST_F(Ledger, ASwitchWhileARefreshWaitsLeavesNoSummaryOfTheOldWorkspace)
{
    HubModel &m = refreshed();
    useScenario(kAtlas, Json(),
                {{"graphql", {{"NativeCustomerUsage", {{"queue", {{{"delayMs", 400}, {"times", 2}}}}}}}}});
    m.beginLedgerRefresh(true);
    awaitFor(m.selectWorkspace(kCobaltWorkspace));
    EXPECT_EQ(m.message(), QStringLiteral("Workspace changed to Cobalt"));
    ASSERT_TRUE(pollPasses(5));
    const auto ofAtlas = [](const std::optional<NativeLedgerUsage> &usage) {
        return usage && usage->tenantId != kCobalt;
    };
    EXPECT_FALSE(ofAtlas(m.persistedWorkspaceUsage()));
    EXPECT_FALSE(ofAtlas(m.persistedSessionUsage()));
    ASSERT_TRUE(waitUntil([&] { return m.persistedSessionUsage().has_value(); }, 10s));
    EXPECT_EQ(m.persistedWorkspaceUsage()->tenantId, kCobalt);
}
} // namespace
