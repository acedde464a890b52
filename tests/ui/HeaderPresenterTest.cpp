#include "ui/HeaderPresenter.h"

#include <gtest/gtest.h>

namespace
{
HeaderInputs connected()
{
    HeaderInputs in;
    in.displayProfile = QStringLiteral("tavrilo-code");
    in.controlsConnected = true;
    in.cloudConnected = true;
    in.signedIn = true;
    in.hasConfiguration = true;
    in.tenantName = QStringLiteral("Acme Labs");
    in.role = QStringLiteral("Owner");
    in.workspaces = {{QStringLiteral("t-1"), QStringLiteral("Acme Labs"), QStringLiteral("Owner"), true},
                     {QStringLiteral("t-2"), QStringLiteral("Side"), QString(), false}};
    in.workspaceLedgerLabel = QStringLiteral("Month · 1,200 tokens");
    in.sessionLedgerLabel = QStringLiteral("Session · Usage pending");
    in.persistedCostLabel = QStringLiteral("$0.12");
    in.sessionTokenLabel = QStringLiteral("Live usage pending");
    return in;
}

struct Case
{
    const char *name;
    void (*change)(HeaderInputs &);
    bool profile;
    bool menu;
    bool refresh;
    bool account;
};

class HeaderState : public ::testing::TestWithParam<Case>
{
};

TEST_P(HeaderState, EnablesWhatMayStart)
{
    const Case &c = GetParam();
    HeaderInputs in = connected();
    c.change(in);
    const HeaderView v = headerView(in);
    EXPECT_EQ(v.profileEnabled, c.profile);
    EXPECT_EQ(v.workspaceMenuEnabled, c.menu);
    EXPECT_EQ(v.refreshEnabled, c.refresh);
    EXPECT_EQ(v.accountEnabled, c.account);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderState,
    ::testing::Values(
        Case{"Connected", [](HeaderInputs &) {}, true, true, true, true},
        Case{"Closing", [](HeaderInputs &in) { in.closingSession = true; }, false, false, false, false},
        Case{"ControlInFlight", [](HeaderInputs &in) { in.controlInFlight = true; }, true, false, true, true},
        Case{"LedgerRefreshRunning", [](HeaderInputs &in) { in.ledgerRefreshRunning = true; }, true, true, false, true},
        Case{"NotConnected", [](HeaderInputs &in) { in.controlsConnected = false; }, true, false, false, true},
        Case{"NoConfiguration", [](HeaderInputs &in) { in.hasConfiguration = false; }, true, true, true, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HeaderTexts, WorkspaceMenuNamesWorkspaceAndRoleOrTheLocalWorkspace)
{
    HeaderInputs in = connected();
    HeaderView v = headerView(in);
    EXPECT_EQ(v.workspaceMenuText, QStringLiteral("Acme Labs · Owner"));
    EXPECT_EQ(v.workspaceTitles, (QStringList{QStringLiteral("Acme Labs · Owner"), QStringLiteral("Side · ")}));
    EXPECT_EQ(v.workspaceIDs, (QStringList{QStringLiteral("t-1"), QStringLiteral("t-2")}));
    in.role.clear();
    EXPECT_EQ(headerView(in).workspaceMenuText, QStringLiteral("Acme Labs · "));
    in.tenantName.clear();
    in.role = QStringLiteral("Owner");
    EXPECT_EQ(headerView(in).workspaceMenuText, QStringLiteral("Local workspace"));
}

TEST(HeaderTexts, OptionalLinesAppearOnlyWithTheirValues)
{
    HeaderInputs in = connected();
    HeaderView v = headerView(in);
    EXPECT_FALSE(v.planShown);
    EXPECT_FALSE(v.revisionShown);
    EXPECT_FALSE(v.unattributedShown);

    const QString revision = QStringLiteral("0123456789abcdef").repeated(4);
    in.planName = QStringLiteral("Team plan");
    in.teamRevision = revision;
    in.unattributedLedgerLabel = QStringLiteral("Unattributed · 40 tokens · $0.01");
    v = headerView(in);
    EXPECT_TRUE(v.planShown);
    EXPECT_EQ(v.planText, QStringLiteral("Team plan"));
    EXPECT_EQ(v.revisionText, QStringLiteral("Tavrilo team · 0123456789ab"));
    EXPECT_EQ(v.revisionHelp, revision);
    EXPECT_TRUE(v.unattributedShown);
    EXPECT_EQ(v.unattributedText, *in.unattributedLedgerLabel);

    in.teamRevision = QStringLiteral("abc");
    EXPECT_EQ(headerView(in).revisionText, QStringLiteral("Tavrilo team · abc"));
}

TEST(HeaderTexts, TooltipsJoinTheLedgerLabelsAndTheLiveTokens)
{
    const HeaderView v = headerView(connected());
    EXPECT_EQ(v.ledgerHelp,
              QStringLiteral("Month · 1,200 tokens\nSession · Usage pending\nPersisted usage for this "
                             "workspace and project session. Unconfirmed requests are not counted as zero."));
    EXPECT_EQ(v.costHelp, QStringLiteral("Persisted records; unattributed usage is never assigned to specialists. "
                                         "Live usage pending"));
}

TEST(HeaderTexts, AccountButtonSaysAccountOnlyWithAnAccessToken)
{
    HeaderInputs in = connected();
    EXPECT_EQ(headerView(in).accountText, QStringLiteral("Account"));
    EXPECT_EQ(headerView(in).connectionText, QStringLiteral("Signed in"));
    in.signedIn = false;
    in.cloudConnected = false;
    EXPECT_EQ(headerView(in).accountText, QStringLiteral("Sign in"));
    EXPECT_EQ(headerView(in).connectionText, QStringLiteral("Sign in required"));
}
} // namespace
