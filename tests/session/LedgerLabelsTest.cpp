// What the header, the workforce view and headless capture show of the persisted usage ledger.
#include "SessionTestSupport.h"

#include "session/LedgerLabels.h"

#include <gtest/gtest.h>

using namespace sessiontest;

namespace
{
const QString kDot = QStringLiteral(" \u00b7 ");

std::optional<NativeLedgerUsage> summary(std::optional<QString> session, int unattributed = 0, int records = 0,
                                         qint64 pending = 0, bool ready = true)
{
    return NativeLedgerUsage::decode(ledgerSummary(std::move(session), 10, unattributed, records, pending, ready));
}

TEST(LedgerLabels, SignedOutTheyAskForASignInWhateverIsStored)
{
    const auto workspace = summary(std::nullopt);
    const auto session = summary(QStringLiteral("S"));
    const ledgerlabels::Ledger ledger{false, workspace, session, false};
    EXPECT_EQ(ledgerlabels::workspaceLabel(ledger), QStringLiteral("Sign in to view usage"));
    EXPECT_EQ(ledgerlabels::sessionLabel(ledger), QStringLiteral("Session \u00b7 Usage unavailable"));
    EXPECT_EQ(ledgerlabels::costLabel(ledger), QStringLiteral("Sign in to view cost"));
}

TEST(LedgerLabels, ConnectedTheyShowWhatIsConfirmed)
{
    const std::optional<NativeLedgerUsage> none;
    EXPECT_EQ(ledgerlabels::workspaceLabel({true, none, none, true}), QStringLiteral("Month \u00b7 Usage unavailable"));
    EXPECT_EQ(ledgerlabels::sessionLabel({true, none, none, true}), QStringLiteral("Session \u00b7 Usage pending"));
    EXPECT_EQ(ledgerlabels::sessionLabel({true, none, none, false}),
              QStringLiteral("Session \u00b7 Usage unavailable"));
    EXPECT_EQ(ledgerlabels::costLabel({true, none, none, true}), QStringLiteral("Cost unavailable"));

    const auto workspace = summary(std::nullopt);
    const auto session = summary(QStringLiteral("S"), 5, 1);
    EXPECT_EQ(ledgerlabels::workspaceLabel({true, workspace, session, false}),
              QStringLiteral("Month") + kDot + workspace->tokenLabel());
    EXPECT_EQ(ledgerlabels::costLabel({true, workspace, session, false}), workspace->estimatedCostLabel());
    // A session summary waits for the platform to call its ledger ready.
    EXPECT_EQ(ledgerlabels::sessionLabel({true, workspace, session, true}),
              QStringLiteral("Session \u00b7 Usage pending"));
    EXPECT_EQ(ledgerlabels::sessionLabel({true, workspace, session, false}),
              QStringLiteral("Session") + kDot + session->tokenLabel());
}

TEST(LedgerLabels, UnattributedAndPendingReceiptsShowOnlyWhenThereAreSome)
{
    EXPECT_FALSE(ledgerlabels::unattributedLabel(std::nullopt));
    EXPECT_FALSE(ledgerlabels::unattributedLabel(summary(QStringLiteral("S"), 0, 0)));
    const auto session = summary(QStringLiteral("S"), 5, 2, 3);
    const NativeAgentLedgerUsage row = session->agents.constLast();
    EXPECT_EQ(ledgerlabels::unattributedLabel(session),
              QStringLiteral("Unattributed") + kDot + row.tokenLabel() + kDot + row.costLabel());

    EXPECT_FALSE(ledgerlabels::pendingAttributionLabel(std::nullopt));
    EXPECT_FALSE(ledgerlabels::pendingAttributionLabel(summary(QStringLiteral("S"))));
    EXPECT_EQ(ledgerlabels::pendingAttributionLabel(session),
              QStringLiteral("3 usage receipts awaiting attribution; no specialist allocation is implied."));
}

TEST(LedgerLabels, ASpecialistsPersistedRowAndHelp)
{
    const QString builder = NativePresence::roles().value(2);
    EXPECT_FALSE(ledgerlabels::agentUsage(std::nullopt, builder));
    const auto session = summary(QStringLiteral("S"), 5, 2);
    const auto row = ledgerlabels::agentUsage(session, builder);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->agentId, builder);
    const auto unattributed = ledgerlabels::agentUsage(session, std::nullopt);
    ASSERT_TRUE(unattributed);
    EXPECT_TRUE(unattributed->unattributed);
    EXPECT_FALSE(ledgerlabels::agentUsage(session, QStringLiteral("tavrilo_nobody")));

    EXPECT_EQ(ledgerlabels::agentHelp(row, QStringLiteral("live")),
              row->tokenLabel() + kDot + row->costLabel() + QStringLiteral("\nlive"));
    EXPECT_EQ(ledgerlabels::agentHelp(std::nullopt, QStringLiteral("live")),
              QStringLiteral("Persisted session attribution unavailable. live"));

    // The model's help names the specialist's live usage without the role prefix.
    const auto model = makeModel();
    EXPECT_EQ(model->persistedAgentHelp(builder),
              QStringLiteral("Persisted session attribution unavailable. ") + model->usageLabel(builder.mid(8)));
}

TEST(LedgerLabels, CaptureEvidence)
{
    EXPECT_EQ(ledgerlabels::captureEvidence(std::nullopt, std::nullopt, true),
              (Json{{"workspace", {{"confirmed", false}}},
                    {"session", {{"confirmed", false}}},
                    {"sessionPending", true},
                    {"pendingUsageRecords", nullptr}}));

    const Json evidence =
        ledgerlabels::captureEvidence(summary(std::nullopt), summary(QStringLiteral("S"), 5, 2, 3, false), true);
    // A workspace summary is confirmed as it is; a session's only once its ledger is ready.
    EXPECT_EQ(evidence["workspace"]["confirmed"], true);
    EXPECT_EQ(evidence["session"]["confirmed"], false);
    EXPECT_EQ(evidence["session"]["sessionLedgerReady"], false);
    EXPECT_EQ(evidence["pendingUsageRecords"], 3);
    const Json &rows = evidence["session"]["agents"];
    ASSERT_EQ(rows.size(), size_t(NativePresence::roles().size() + 1));
    EXPECT_EQ(rows.back(), (Json{{"agentId", nullptr},
                                 {"unattributed", true},
                                 {"recordCount", "2"},
                                 {"totalTokens", "5"},
                                 {"unknownUsageRecords", 0}}));
    EXPECT_EQ(evidence["session"].size(), 8u);
    EXPECT_EQ(evidence["session"]["totalTokens"], std::to_string(10 * NativePresence::roles().size() + 5));
}
} // namespace
