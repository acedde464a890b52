// The gates cards drawn off screen by the software scene graph at the frames' scale, saved as PNG
// and read back with the hub's own vision command: the texts their presenters chose are found, and
// the command reports no copy defect.
#include "OffscreenReading.h"
#include "ui/ApprovalCardPresenter.h"
#include "ui/EventsSectionPresenter.h"
#include "ui/NativeJournalPresentation.h"
#include "ui/PositionsPresenter.h"
#include "ui/ReleaseChecksPresenter.h"
#include "ui/SpecialistUpdatesPresenter.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
using offscreen::expectFound;
using offscreen::Reading;

class GatesCardsRender : public ::testing::Test
{
protected:
    // Shows `type` with `property` set to `value` on a card background of the given size, drawn by
    // the software scene graph at twice the point size, as the exported frames are.
    Reading render(const char *type, const char *property, const QVariant &value, int width, int height)
    {
        offscreen::WatchedEngine watched;
        QQmlComponent component(&watched.engine);
        component.setData(QStringLiteral(R"(
            import QtQuick
            import Tavrilo.Ui
            Rectangle {
                width: %2; height: %3; color: HubPalette.card
                %1 { objectName: "card"; x: 21; y: 21; width: parent.width - 42 }
            })")
                              .arg(QLatin1StringView(type))
                              .arg(width)
                              .arg(height)
                              .toUtf8(),
                          QUrl());
        std::unique_ptr<QObject> created(component.isReady() ? component.create() : nullptr);
        auto *root = qobject_cast<QQuickItem *>(created.get());
        EXPECT_TRUE(root) << qPrintable(component.errorString());
        if (!root)
            return {};
        QObject *card = root->findChild<QObject *>(QStringLiteral("card"));
        EXPECT_TRUE(card && card->setProperty(property, value));

        const QImage image = offscreen::render(root, width, height);
        EXPECT_TRUE(watched.warnings.isEmpty()) << watched.warnings.join(u'\n').toStdString();
        const QString path = m_dir.filePath(QString::fromLatin1(type) + QStringLiteral(".png"));
        EXPECT_TRUE(image.save(path));
        if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
            image.save(qEnvironmentVariable("HUB_KEEP_RENDERS") + u'/' + QString::fromLatin1(type) +
                       QString::number(++m_saved) + QStringLiteral(".png"));

        return offscreen::read(path).value_or(Reading{});
    }

    QTemporaryDir m_dir;
    int m_saved = 0;
};

EventProjection::Approval brief()
{
    EventProjection::Approval a;
    a.id = QStringLiteral("approval-1");
    a.toolUseID = QStringLiteral("tool-use-1");
    a.tool = QStringLiteral("approve_brief");
    a.sessionID = QStringLiteral("session-1");
    a.summary = QStringLiteral("Add a parser for the settings file");
    a.ready = true;
    a.acceptanceCriteria = {QStringLiteral("Empty files are accepted"), QStringLiteral("Unknown keys are reported")};
    a.turnID = QStringLiteral("turn-7");
    a.revision = QString(64, u'a');
    a.round = QStringLiteral("2");
    return a;
}

TEST_F(GatesCardsRender, UndecidedApprovalShowsItsProofAndAnswers)
{
    const ApprovalCard card = approvalCard(brief(), {QStringLiteral("session-1"), true, false, {}}, false, true);
    expectFound(render("ApprovalCard", "card", QVariant::fromValue(card), 520, 330),
                {QStringLiteral("Brief approval"), QStringLiteral("Acceptance criteria"),
                 QStringLiteral("Unknown keys are reported"), QStringLiteral("Same-session verified proposal"),
                 QStringLiteral("Decline"), QStringLiteral("Approve")});
}

TEST_F(GatesCardsRender, DecidedApprovalFoldsToItsCount)
{
    EventProjection::Approval approval = brief();
    approval.decision = QStringLiteral("declined");
    const ApprovalCard card = approvalCard(approval, {QStringLiteral("session-1"), true, false, {}}, false, true);
    const Reading reading = render("ApprovalCard", "card", QVariant::fromValue(card), 520, 160);
    expectFound(reading, {QStringLiteral("Brief approval"), QStringLiteral("Declined"),
                          QStringLiteral("2 acceptance criteria recorded")});
    EXPECT_FALSE(reading.text.contains(QStringLiteral("Approve"))) << reading.text.toStdString();
}

TEST_F(GatesCardsRender, HeldAndAuthorisedReleases)
{
    EventProjection held;
    held.releaseAuthorized = false;
    held.latestErrorCode = QStringLiteral("ITERATION_CAP");
    expectFound(render("ReleaseChecks", "checks", QVariant::fromValue(releaseChecks(held)), 760, 220),
                {QStringLiteral("RELEASE CHECKS"), QStringLiteral("DELIVERY HELD"), QStringLiteral("Not run"),
                 QStringLiteral("Blocked by incomplete turn")});

    EventProjection authorised;
    authorised.releaseAuthorized = true;
    for (const QString &check : EventProjection::releaseLabels()) {
        authorised.evaluators.insert(check, true);
        authorised.evaluatorLabels.insert(check, QStringLiteral("PASS"));
        authorised.evaluatorDetails.insert(check, QStringLiteral("Checked by the evaluator"));
    }
    expectFound(render("ReleaseChecks", "checks", QVariant::fromValue(releaseChecks(authorised)), 760, 220),
                {QStringLiteral("AUTHORIZED"), QStringLiteral("Passed")});
}

TEST_F(GatesCardsRender, JournalRowsNewestFirst)
{
    QList<WorkspaceEvent> events;
    events.append({QStringLiteral("1"), {}, {}, {}, QStringLiteral("workspace.connected"), {}});
    events.append({QStringLiteral("2"), {}, {}, {}, QStringLiteral("done"), {}});
    const Reading reading =
        render("JournalBlock", "journal", QVariant::fromValue(NativeJournalPresentation::block(events)), 640, 200);
    expectFound(reading, {QStringLiteral("LOCAL JOURNAL"), QStringLiteral("Turn completed"),
                          QStringLiteral("Workspace connected")});
    EXPECT_LT(reading.text.indexOf(QStringLiteral("Turn completed")),
              reading.text.indexOf(QStringLiteral("Workspace connected")));
}

TEST_F(GatesCardsRender, TurnErrorWithTheReviewReasonAndTheCompletionLine)
{
    EventProjection projection;
    projection.latestErrorCode = QStringLiteral("ITERATION_CAP");
    projection.turnCompleted = true;
    projection.evaluatorLabels.insert(QStringLiteral("review-fidelity"), QStringLiteral("FAIL"));
    projection.evaluatorDetails.insert(QStringLiteral("review-fidelity"),
                                       QStringLiteral("The answer cites a file that was never read."));
    const Reading reading =
        render("TurnStatusBlock", "status", QVariant::fromValue(turnStatus(projection, false)), 640, 240);
    expectFound(reading, {QStringLiteral("INDEPENDENT REVIEW REASON"), QStringLiteral("never read"),
                          QStringLiteral("Read full reason"), QStringLiteral("Turn completed")});
}

TEST_F(GatesCardsRender, ManyPositionsShowTheirFirstThreeRows)
{
    QList<EventProjection::Position> positions;
    const char *owners[] = {"tavrilo_architect", "tavrilo_builder", "tavrilo_reviewer", "tavrilo_operator"};
    for (const char *owner : owners)
        positions.append({QString::fromLatin1(owner), QString::fromLatin1(owner),
                          QStringLiteral("The parser should reject unknown keys and report each one with its line."),
                          QStringLiteral("High"), QStringLiteral("Schema"), QStringLiteral("None")});
    const Reading reading =
        render("PositionsBlock", "block", QVariant::fromValue(positionsBlock(positions, {}, {})), 640, 260);
    expectFound(reading, {QStringLiteral("CONFIDENCE"), QStringLiteral("Architect"), QStringLiteral("Builder"),
                          QStringLiteral("Reviewer")});
    EXPECT_FALSE(reading.text.contains(QStringLiteral("Operator"))) << reading.text.toStdString();
}

TEST_F(GatesCardsRender, ALongUpdateIsCutToItsExcerpt)
{
    EventProjection projection;
    projection.responseOrder = {QStringLiteral("tavrilo_builder")};
    QString words;
    for (int i = 0; i < 60; ++i)
        words += QStringLiteral("The build passes on every target after the change. ");
    projection.responses.insert(QStringLiteral("tavrilo_builder"), words);
    const Reading reading = render("SpecialistUpdatesBlock", "updates",
                                   QVariant::fromValue(specialistUpdates(projection, {}, {})), 640, 160);
    expectFound(reading,
                {QStringLiteral("SPECIALIST UPDATES"), QStringLiteral("Builder"), QStringLiteral("Full update")});
}
} // namespace
