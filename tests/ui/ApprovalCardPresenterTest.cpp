#include "ui/ApprovalCardPresenter.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
using Approval = EventProjection::Approval;

const QString kSession = QStringLiteral("session-1");

// A brief gate that carries its whole proof, in the window's session.
Approval provenBrief()
{
    Approval a;
    a.id = QStringLiteral("approval-1");
    a.toolUseID = QStringLiteral("tool-use-1");
    a.tool = QStringLiteral("approve_brief");
    a.sessionID = kSession;
    a.summary = QStringLiteral("Ship the parser");
    a.ready = true;
    a.acceptanceCriteria = {QStringLiteral("Parses empty input"), QStringLiteral("Rejects NUL"),
                            QStringLiteral("Keeps order")};
    a.turnID = QStringLiteral("turn-7");
    a.revision = QString(64, u'a');
    a.round = QStringLiteral("2");
    return a;
}

ApprovalControls connected()
{
    return {kSession, true, false, {}};
}

struct Case
{
    const char *name;
    std::function<void(Approval &, ApprovalControls &)> change;
    bool answerable;
    QString proofText;
};

class Answerable : public ::testing::TestWithParam<Case>
{
};

TEST_P(Answerable, OnlyACompleteProposalOfThisSessionWhileNothingElseIsSent)
{
    const Case &c = GetParam();
    Approval approval = provenBrief();
    ApprovalControls controls = connected();
    c.change(approval, controls);
    EXPECT_EQ(approvalrules::answerable(approval, controls), c.answerable);
    const ApprovalCard card = approvalCard(approval, controls, false, false);
    EXPECT_TRUE(card.showProof);
    EXPECT_EQ(card.answerable, c.answerable);
    EXPECT_EQ(card.proofText, c.proofText);
}

const QString kVerified = QStringLiteral("Same-session verified proposal");
const QString kVerify = QStringLiteral("Session requires verification");
const QString kWaiting = QStringLiteral("Waiting for complete runtime proposal");

INSTANTIATE_TEST_SUITE_P(
    Table, Answerable,
    ::testing::Values(
        Case{"ProvenBrief", [](Approval &, ApprovalControls &) {}, true, kVerified},
        Case{"DeployNeedsNoBriefProof",
             [](Approval &a, ApprovalControls &) {
                 a.tool = QStringLiteral("approve_deploy");
                 a.acceptanceCriteria.clear();
                 a.revision.reset();
             },
             true, kVerified},
        Case{"DeployNotReady",
             [](Approval &a, ApprovalControls &) {
                 a.tool = QStringLiteral("approve_deploy");
                 a.ready = false;
             },
             false, kWaiting},
        Case{"BriefWithoutProof", [](Approval &a, ApprovalControls &) { a.revision = QStringLiteral("short"); }, false,
             kWaiting},
        Case{"BriefWithoutCriteria", [](Approval &a, ApprovalControls &) { a.acceptanceCriteria.clear(); }, false,
             kWaiting},
        // Any tool other than the deploy gate is held to the brief's proof.
        Case{"UnknownToolIsABrief", [](Approval &a, ApprovalControls &) { a.tool = QStringLiteral("approve_other"); },
             false, kWaiting},
        Case{"NoSession", [](Approval &a, ApprovalControls &) { a.sessionID.reset(); }, false, kVerify},
        Case{"AnotherSession", [](Approval &a, ApprovalControls &) { a.sessionID = QStringLiteral("session-2"); },
             false, kVerify},
        Case{"IncompleteOfAnotherSession",
             [](Approval &a, ApprovalControls &) {
                 a.ready = false;
                 a.sessionID = QStringLiteral("session-2");
             },
             false, kWaiting},
        Case{"Disconnected", [](Approval &, ApprovalControls &c) { c.controlsConnected = false; }, false, kVerified},
        Case{"ControlInFlight", [](Approval &, ApprovalControls &c) { c.controlInFlight = true; }, false, kVerified},
        Case{"AlreadyAnswered",
             [](Approval &, ApprovalControls &c) { c.answeredApprovalIDs.insert(QStringLiteral("tool-use-1")); }, false,
             kVerified},
        // The answered set holds tool-use ids, not approval ids.
        Case{"AnsweredSetHoldsAnotherToolUse",
             [](Approval &, ApprovalControls &c) { c.answeredApprovalIDs.insert(QStringLiteral("approval-1")); }, true,
             kVerified}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ApprovalCard, UndecidedShowsItsDetailsAndIgnoresTheExpansion)
{
    for (const bool expanded : {false, true}) {
        const ApprovalCard card = approvalCard(provenBrief(), connected(), expanded, false);
        EXPECT_EQ(card.title, QStringLiteral("Brief approval"));
        EXPECT_FALSE(card.decided);
        EXPECT_TRUE(card.chevronSymbol.isEmpty());
        EXPECT_TRUE(card.decisionText.isEmpty());
        EXPECT_EQ(card.summaryLineLimit, ApprovalCard::kNoLineLimit);
        EXPECT_FALSE(card.showCriteriaCount);
        EXPECT_TRUE(card.showDetails);
        ASSERT_EQ(card.criteria.size(), 3);
        EXPECT_EQ(card.criteria[0].number, QStringLiteral("1."));
        EXPECT_EQ(card.criteria[2].number, QStringLiteral("3."));
        EXPECT_EQ(card.criteria[2].text, QStringLiteral("Keeps order"));
        EXPECT_TRUE(card.showProof);
    }
}

TEST(ApprovalCard, DecidedFoldsToTheCountUntilOpened)
{
    Approval approval = provenBrief();
    approval.decision = QStringLiteral("approved");
    const ApprovalCard folded = approvalCard(approval, connected(), false, false);
    EXPECT_TRUE(folded.decided);
    EXPECT_EQ(folded.chevronSymbol, QStringLiteral("chevron.right"));
    EXPECT_EQ(folded.decisionText, QStringLiteral("Approved"));
    EXPECT_EQ(folded.summaryLineLimit, 2);
    EXPECT_TRUE(folded.showCriteriaCount);
    EXPECT_EQ(folded.criteriaCountText, QStringLiteral("3 acceptance criteria recorded"));
    EXPECT_FALSE(folded.showDetails);
    EXPECT_FALSE(folded.showProof);
    EXPECT_FALSE(folded.answerable);

    const ApprovalCard opened = approvalCard(approval, connected(), true, false);
    EXPECT_EQ(opened.chevronSymbol, QStringLiteral("chevron.down"));
    EXPECT_FALSE(opened.showCriteriaCount);
    EXPECT_TRUE(opened.showDetails);
    EXPECT_FALSE(opened.showProof);

    approval.acceptanceCriteria.clear();
    approval.decision = QStringLiteral("declined by OPERATOR");
    const ApprovalCard empty = approvalCard(approval, connected(), false, false);
    EXPECT_FALSE(empty.showCriteriaCount);
    EXPECT_EQ(empty.decisionText, QStringLiteral("Declined By Operator"));
}

TEST(ApprovalCard, RecordedLinesEachUnderTheirOwnCondition)
{
    Approval approval = provenBrief();
    approval.detail = {QStringLiteral("Scope: parser"), QStringLiteral("Risk: low")};
    approval.recordedAt = QStringLiteral("2026-12-09T08:26:13Z");
    ApprovalCard card = approvalCard(approval, connected(), false, false);
    EXPECT_EQ(card.detailLines, approval.detail);
    EXPECT_EQ(card.recordedText, QStringLiteral("Recorded 2026-12-09T08:26:13Z"));
    EXPECT_EQ(card.roundText, QStringLiteral("Round 2"));
    EXPECT_EQ(card.turnRevisionText, QStringLiteral("Turn turn-7\nRevision ") + QString(64, u'a'));

    approval.revision.reset();
    approval.round.reset();
    card = approvalCard(approval, connected(), false, false);
    EXPECT_TRUE(card.turnRevisionText.isEmpty());
    EXPECT_TRUE(card.roundText.isEmpty());
    EXPECT_FALSE(card.recordedText.isEmpty());

    approval.revision = QStringLiteral("r");
    approval.turnID.reset();
    approval.recordedAt.reset();
    approval.round = QStringLiteral("1");
    card = approvalCard(approval, connected(), false, false);
    EXPECT_TRUE(card.turnRevisionText.isEmpty());
    EXPECT_TRUE(card.recordedText.isEmpty());
    EXPECT_EQ(card.roundText, QStringLiteral("Round 1"));

    // Texts of the platform holding "%1" are kept as they are.
    approval.turnID = QStringLiteral("%2");
    approval.revision = QStringLiteral("%1");
    EXPECT_EQ(approvalCard(approval, connected(), false, false).turnRevisionText,
              QStringLiteral("Turn %2\nRevision %1"));
}

TEST(ApprovalCard, DetailsHaveAFixedHeightOnlyOffScreen)
{
    EXPECT_TRUE(approvalCard(provenBrief(), connected(), false, true).detailsHeightFixed);
    EXPECT_FALSE(approvalCard(provenBrief(), connected(), false, false).detailsHeightFixed);
    Approval deploy = provenBrief();
    deploy.tool = QStringLiteral("approve_deploy");
    EXPECT_EQ(approvalCard(deploy, connected(), false, false).title, QStringLiteral("Deploy approval"));
}
} // namespace
