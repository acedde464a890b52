// The gates cards drawn off screen by the software scene graph at the frames' scale, saved as PNG
// and read back with the hub's own vision command: the texts their presenters chose are found, and
// the command reports no copy defect.
#include "OffscreenReading.h"
#include "session/SessionTestSupport.h"
#include "ui/ApprovalCardPresenter.h"
#include "ui/EventsSectionPresenter.h"
#include "ui/GadgetList.h"
#include "ui/HubViewState.h"
#include "ui/IconTheme.h"
#include "ui/NativeJournalPresentation.h"
#include "ui/Palette.h"
#include "ui/PositionsPresenter.h"
#include "ui/ReleaseChecksPresenter.h"
#include "ui/SpecialistUpdatesPresenter.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
using offscreen::expectFound;
using offscreen::Reading;

class GatesCardsRender : public ::testing::Test
{
protected:
    void SetUp() override { useHubIconTheme(); }

    // Shows `type` with `property` set to `value` (and the properties in `more`) on a card background
    // of the given size, drawn by the software scene graph at twice the point size, as the exported
    // frames are.
    Reading render(const char *type, const char *property, const QVariant &value, int width, int height,
                   const QVariantMap &more = {})
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
        for (auto it = more.cbegin(); card && it != more.cend(); ++it)
            EXPECT_TRUE(card->setProperty(it.key().toUtf8().constData(), it.value())) << it.key().toStdString();

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
    const JournalBlock block = NativeJournalPresentation::block(events);
    KeyedListModel rows(gadgetRoles<JournalRow>());
    rows.reset(keyedRows(block.rows, &JournalRow::id));
    const Reading reading = render("JournalBlock", "journal", QVariant::fromValue(block), 640, 200,
                                   {{QStringLiteral("rows"), QVariant::fromValue(&rows)}});
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
    const PositionsBlock block = positionsBlock(positions, {}, {});
    KeyedListModel rows(gadgetRoles<PositionRow>());
    rows.reset(keyedRows(block.rows, &PositionRow::id));
    const Reading reading = render("PositionsBlock", "block", QVariant::fromValue(block), 640, 260,
                                   {{QStringLiteral("rows"), QVariant::fromValue(&rows)}});
    expectFound(reading, {QStringLiteral("CONFIDENCE"), QStringLiteral("Architect"), QStringLiteral("Builder"),
                          QStringLiteral("Reviewer")});
    EXPECT_FALSE(reading.text.contains(QStringLiteral("Operator"))) << reading.text.toStdString();
}

// The events card of a 1440-point window is about 300 points wide: the three value columns alone
// take 265 of them, and the position text used to be squeezed to a few letters. At every width the
// text must get a readable line and the values must stay readable beside their headers.
TEST_F(GatesCardsRender, PositionTextKeepsARowOfItsOwnOnANarrowCard)
{
    const QList<EventProjection::Position> positions = {
        {QStringLiteral("p1"), QStringLiteral("tavrilo_architect"),
         QStringLiteral("Add the greeting option to the parser"), QStringLiteral("0.9"), QStringLiteral("None"),
         QStringLiteral("None")},
        {QStringLiteral("p2"), QStringLiteral("tavrilo_builder"), QStringLiteral("Edit main to print the greeting"),
         QStringLiteral("0.8"), QStringLiteral("Schema"), QStringLiteral("None")}};
    const PositionsBlock block = positionsBlock(positions, {}, {});
    KeyedListModel rows(gadgetRoles<PositionRow>());
    rows.reset(keyedRows(block.rows, &PositionRow::id));
    for (const int cardWidth : {339, 420, 640}) {
        SCOPED_TRACE(cardWidth);
        const Reading reading = render("PositionsBlock", "block", QVariant::fromValue(block), cardWidth, 160,
                                       {{QStringLiteral("rows"), QVariant::fromValue(&rows)}});
        expectFound(reading,
                    {QStringLiteral("POSITION"), QStringLiteral("CONFIDENCE"), QStringLiteral("CONFLICTS WITH"),
                     QStringLiteral("Architect"), QStringLiteral("Add the greeting"), QStringLiteral("Edit main"),
                     QStringLiteral("Schema")});
    }
}

TEST_F(GatesCardsRender, ALongUpdateIsCutToItsExcerpt)
{
    EventProjection projection;
    projection.responseOrder = {QStringLiteral("tavrilo_builder")};
    QString words;
    for (int i = 0; i < 60; ++i)
        words += QStringLiteral("The build passes on every target after the change. ");
    projection.responses.insert(QStringLiteral("tavrilo_builder"), words);
    const SpecialistUpdates updates = specialistUpdates(projection, {}, {});
    KeyedListModel rows(gadgetRoles<SpecialistUpdate>());
    rows.reset(keyedRows(updates.updates, &SpecialistUpdate::agent));
    const Reading reading = render("SpecialistUpdatesBlock", "updates", QVariant::fromValue(updates), 640, 160,
                                   {{QStringLiteral("rows"), QVariant::fromValue(&rows)}});
    expectFound(reading,
                {QStringLiteral("SPECIALIST UPDATES"), QStringLiteral("Builder"), QStringLiteral("Full update")});
}
} // namespace

namespace
{
using namespace sessiontest;

// The events card as the working screen holds it, over a model of the test's own.
const char *const kSectionScene = R"qml(
import QtQuick
import Tavrilo.Ui
Rectangle {
    id: frame
    required property HubModel hubModel
    required property bool offscreen
    width: %1; height: %2
    color: HubPalette.paper
    HubViewState { id: state; objectName: "viewState"; model: frame.hubModel; offscreenExport: frame.offscreen }
    SectionCard {
        objectName: "card"
        label: "Events"
        anchors.fill: parent
        EventsSection { objectName: "section"; model: frame.hubModel; viewState: state }
    }
}
)qml";

constexpr int kCardWidth = 560;
constexpr int kCardHeight = 900;

EventProjection::Position position(const QString &owner, const QString &text)
{
    return {owner + QStringLiteral("-1"), owner, text, QStringLiteral("High"), QStringLiteral("Schema"),
            QStringLiteral("None")};
}

// A turn with something in every block: an error and its review reason, four positions, three
// updates, two reasoning blocks, one undecided and one decided approval, an input request and
// evaluator results for the release checks.
EventProjection busyProjection()
{
    EventProjection p;
    p.latestErrorCode = QStringLiteral("ITERATION_CAP");
    p.turnCompleted = true;
    p.releaseAuthorized = false;
    for (const char *owner : {"tavrilo_architect", "tavrilo_builder", "tavrilo_reviewer", "tavrilo_operator"})
        p.positions.append(position(QString::fromLatin1(owner),
                                    QStringLiteral("The parser should reject unknown keys and report each one.")));
    for (const char *agent : {"tavrilo_architect", "tavrilo_builder", "tavrilo_reviewer"}) {
        p.responseOrder.append(QString::fromLatin1(agent));
        p.responses.insert(QString::fromLatin1(agent), QStringLiteral("The build passes on every target."));
    }
    p.reasoning = {QStringLiteral("The linker flags are wrong. "), QStringLiteral("Check the release script next.")};
    EventProjection::Approval undecided = brief();
    EventProjection::Approval decided = brief();
    decided.id = QStringLiteral("approval-2");
    decided.toolUseID = QStringLiteral("tool-use-2");
    decided.tool = QStringLiteral("approve_deploy");
    decided.summary = QStringLiteral("Ship the parser");
    decided.decision = QStringLiteral("approved");
    p.approvals = {undecided, decided};
    EventProjection::Elicitation request;
    request.id = request.requestID = QStringLiteral("request-1");
    request.mode = QStringLiteral("url");
    request.message = QStringLiteral("Confirm the deployment target");
    p.elicitations.append(request);
    p.evaluators.insert(QStringLiteral("build-green"), true);
    p.evaluatorLabels.insert(QStringLiteral("build-green"), QStringLiteral("PASS"));
    p.evaluatorDetails.insert(QStringLiteral("build-green"), QStringLiteral("All targets built"));
    p.evaluators.insert(QStringLiteral("review-fidelity"), false);
    p.evaluatorLabels.insert(QStringLiteral("review-fidelity"), QStringLiteral("FAIL"));
    p.evaluatorDetails.insert(QStringLiteral("review-fidelity"), QStringLiteral("The answer cites a file never read."));
    return p;
}

// Seven journal events, oldest first.
QList<WorkspaceEvent> sevenEvents()
{
    QList<WorkspaceEvent> events;
    const char *kinds[] = {"plan", "usage", "metadata", "hook", "check_release", "workspace.connected", "done"};
    int n = 0;
    for (const char *kind : kinds)
        events.append(event(QString::number(++n), kind));
    return events;
}

// The events card over `model`, made once and drawn as often as a test needs.
class Scene
{
public:
    Scene(HubModel &model, bool offscreenExport, QSize size = {kCardWidth, kCardHeight}) : m_size(size)
    {
        QQmlComponent component(&m_watched.engine);
        component.setData(QString::fromLatin1(kSectionScene).arg(size.width()).arg(size.height()).toUtf8(),
                          QUrl(QStringLiteral("qrc:/gates-render-test/Scene.qml")));
        m_created.reset(component.isReady() ? component.createWithInitialProperties(
                                                  {{QStringLiteral("hubModel"), QVariant::fromValue(&model)},
                                                   {QStringLiteral("offscreen"), offscreenExport}})
                                            : nullptr);
        m_root = qobject_cast<QQuickItem *>(m_created.get());
        EXPECT_TRUE(m_root) << qPrintable(component.errorString());
    }

    template <typename T = QQuickItem> T *find(const QString &name) const
    {
        return m_root ? m_root->findChild<T *>(name) : nullptr;
    }
    // Lays the card out and draws it; the items keep the geometry of this drawing.
    QImage draw()
    {
        EXPECT_TRUE(m_root);
        const QImage image = m_root ? offscreen::render(m_root, m_size.width(), m_size.height()) : QImage();
        EXPECT_TRUE(m_watched.warnings.isEmpty()) << m_watched.warnings.join(u'\n').toStdString();
        return image;
    }

private:
    QSize m_size;
    offscreen::WatchedEngine m_watched;
    std::unique_ptr<QObject> m_created;
    QQuickItem *m_root = nullptr;
};

class EventsSectionRender : public ::testing::Test
{
protected:
    void SetUp() override { useHubIconTheme(); }

    static std::unique_ptr<Scene> section(HubModel &model, bool offscreenExport, QSize size = {kCardWidth, kCardHeight})
    {
        return std::make_unique<Scene>(model, offscreenExport, size);
    }

    // Draws `scene`, keeps it under `name` when asked to and reads it back with the vision command.
    Reading read(Scene &scene, const QString &name)
    {
        const QImage image = scene.draw();
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        EXPECT_TRUE(image.save(path));
        if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
            image.save(qEnvironmentVariable("HUB_KEEP_RENDERS") + u'/' + name + QStringLiteral(".png"));
        return offscreen::read(path).value_or(Reading{});
    }

    // The shown blocks of the gates content, top to bottom.
    static QStringList shownBlocks(const Scene &scene)
    {
        QList<QQuickItem *> blocks;
        for (QQuickItem *item : scene.find(QStringLiteral("gatesContent"))->childItems())
            if (item->isVisible() && !item->objectName().isEmpty())
                blocks.append(item);
        std::sort(blocks.begin(), blocks.end(), [](QQuickItem *a, QQuickItem *b) { return a->y() < b->y(); });
        QStringList names;
        for (const QQuickItem *item : blocks)
            names.append(item->objectName());
        return names;
    }

    // The gates content can be scrolled by the user.
    static bool scrolls(const Scene &scene)
    {
        for (const QQuickItem *item : scene.find(QStringLiteral("gatesViewport"))->findChildren<QQuickItem *>())
            if (item->inherits("QQuickFlickable"))
                return item->property("interactive").toBool();
        return false;
    }

    // `name`'s rectangle in the card's coordinates.
    static QRectF placed(const Scene &scene, const QString &name)
    {
        const QQuickItem *item = scene.find(name);
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }

    QTemporaryDir m_dir;
};
} // namespace

namespace
{
TEST_F(EventsSectionRender, ABusyTurnShowsEveryBlockInItsOrder)
{
    const auto model = makeModel();
    model->setEventProjection(busyProjection());
    model->setEvents(sevenEvents());
    model->setExpandedInspector(QStringLiteral("events"));
    model->setMessage(QStringLiteral("Approval recorded for this session."));
    const auto scene = section(*model, true);
    const Reading reading = read(*scene, QStringLiteral("events-busy"));

    EXPECT_EQ(shownBlocks(*scene),
              QStringList({"turnStatus", "positions", "specialistUpdates", "thinking", "approval:approval-1",
                           "approval:approval-2", "inputRequests", "hairline", "journal"}));
    // Small monospaced captions are left to the block renders, where the reader finds them.
    expectFound(reading,
                {QStringLiteral("Events"), QStringLiteral("4 positions"), QStringLiteral("1 approvals to review"),
                 QStringLiteral("input requests"), QStringLiteral("handoff limit"), QStringLiteral("Turn completed"),
                 QStringLiteral("Operator"), QStringLiteral("Full update"), QStringLiteral("2 typed blocks"),
                 QStringLiteral("Blocked by incomplete turn"), QStringLiteral("Approval recorded for this session.")});

    // Off screen the content keeps its height from the top and is cut; the release checks and the
    // status line stay whole below it, inside the card.
    const QRectF viewport = placed(*scene, QStringLiteral("gatesViewport"));
    EXPECT_GT(scene->find(QStringLiteral("gatesContent"))->height(), viewport.height());
    EXPECT_FALSE(scrolls(*scene));
    const QRectF checks = placed(*scene, QStringLiteral("releaseChecks"));
    const QRectF status = placed(*scene, QStringLiteral("statusLine"));
    EXPECT_GE(checks.top(), viewport.bottom());
    EXPECT_GT(status.top(), checks.bottom());
    EXPECT_LE(status.bottom(), kCardHeight - 21 + 0.5);
    EXPECT_DOUBLE_EQ(placed(*scene, QStringLiteral("thinkingBody")).height(), 190);
}

TEST_F(EventsSectionRender, AnEmptyProjectionShowsTheWaitingForms)
{
    const auto model = makeModel();
    const auto scene = section(*model, false);
    const Reading reading = read(*scene, QStringLiteral("events-empty"));
    EXPECT_EQ(shownBlocks(*scene),
              QStringList({"positions", "thinking", "noApprovalPending", "inputRequests", "hairline", "journal"}));
    expectFound(reading, {QStringLiteral("0 positions"), QStringLiteral("0 approvals to review"),
                          QStringLiteral("0 input requests"), QStringLiteral("Waiting for specialist positions"),
                          QStringLiteral("No reasoning blocks"), QStringLiteral("No approval pending"),
                          QStringLiteral("Pending"), model->message()});
    // In the window the content scrolls.
    EXPECT_TRUE(scrolls(*scene));
}

// The events region of a 1440 by 900 window is 339 by 739 points, of a 1280 wide one 295 and of the
// smallest window (1000 wide) 233. There the positions table wraps its rows, and its column headers
// must still stand over their columns; a release check's title wraps rather than losing its status
// after the check's name; and no block is wider than the card, or every block below it would be cut
// at the card's edge (the counters' row once widened the section by 50 points at 295).
TEST_F(EventsSectionRender, AtTheWindowsOwnWidthNothingIsCutAway)
{
    for (const int width : {339, 295, 233}) {
        SCOPED_TRACE(width);
        const auto model = makeModel();
        model->setEventProjection(busyProjection());
        const auto scene = section(*model, true, {width, 739});
        const Reading reading = read(*scene, QStringLiteral("events-narrow-%1").arg(width));
        if (width > 300)
            expectFound(reading, {QStringLiteral("POSITION"), QStringLiteral("CONFIDENCE"), QStringLiteral("DEPENDS ON"),
                                  QStringLiteral("Architect"), QStringLiteral("reject unknown keys")});
        const QRectF card = placed(*scene, QStringLiteral("card"));
        for (const char *block : {"counters", "gatesViewport", "releaseChecks", "statusLine", "turnStatus", "positions",
                                  "journal"})
            EXPECT_LE(placed(*scene, QString::fromLatin1(block)).right(), card.right() - 21 + 0.5) << block;
        // Every check's status is shown whole and inside its cell.
        QList<QQuickItem *> statuses;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->objectName() == QStringLiteral("releaseCheckStatus"))
                statuses.append(item);
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(scene->find(QStringLiteral("releaseChecks")));
        ASSERT_EQ(statuses.size(), 6);
        const QRectF checks = placed(*scene, QStringLiteral("releaseChecks"));
        for (const QQuickItem *status : statuses) {
            const QRectF shown = status->mapRectToScene(QRectF(0, 0, status->width(), status->height()));
            EXPECT_FALSE(status->property("truncated").toBool()) << status->property("text").toString().toStdString();
            EXPECT_GT(shown.width(), 0);
            EXPECT_LE(shown.right(), checks.right() + 0.5) << status->property("text").toString().toStdString();
        }
    }
}

// The journal shows the newest five events, newest first.
TEST_F(EventsSectionRender, TheJournalShowsTheNewestFive)
{
    const auto model = makeModel();
    model->setEvents(sevenEvents());
    const auto scene = section(*model, true);
    Reading reading = read(*scene, QStringLiteral("events-journal"));
    // Headlines are the events' kinds; the reader skips some of the small detail lines.
    expectFound(reading,
                {QStringLiteral("Turn completed"), QStringLiteral("workspace.connected"),
                 QStringLiteral("check_release"), QStringLiteral("Operator gate"), QStringLiteral("metadata")});
    EXPECT_LT(reading.text.indexOf(QStringLiteral("done")), reading.text.indexOf(QStringLiteral("metadata")));
    EXPECT_FALSE(reading.text.contains(QStringLiteral("usage"), Qt::CaseInsensitive)) << reading.text.toStdString();
}

// The clean-up failure hides the status message, in the error colour, until it is cleared; a long
// sentence keeps to three lines.
TEST_F(EventsSectionRender, TheStatusLine)
{
    const auto model = makeModel();
    model->setMessage(QStringLiteral("Runtime session stopped."));
    model->setCleanupFailure(QStringLiteral("The session could not be closed."));
    const auto scene = section(*model, true);
    scene->draw();
    auto *line = scene->find(QStringLiteral("statusLine"));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->property("text").toString(), QStringLiteral("The session could not be closed."));
    EXPECT_EQ(line->property("color").value<QColor>().rgba(), Palette::error().rgba());

    model->setCleanupFailure(std::nullopt);
    QString longSentence;
    for (int i = 0; i < 40; ++i)
        longSentence += QStringLiteral("The platform refused the control. ");
    model->setMessage(longSentence);
    scene->draw();
    EXPECT_EQ(line->property("text").toString(), longSentence);
    EXPECT_EQ(line->property("color").value<QColor>().rgba(), Palette::muted().rgba());
    EXPECT_EQ(line->property("lineCount").toInt(), 3);
    EXPECT_TRUE(line->property("truncated").toBool());
}
} // namespace
