// The session model as the window sees it: a real model, signed in against the stand-in, put into a
// QML engine the way the application does. From QML the test reads what the window shows, calls
// every action, and checks that bindings follow the model's values through a scripted turn, while
// every list model is checked by QAbstractItemModelTester. A QML warning fails the test.
#include "ModelAgainstStandIn.h"
#include "ScriptedTurn.h"

#include "session/HubActions.h"
#include "ui/SessionCleanup.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlError>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

using namespace standinmodel;
using namespace scriptedturn;

namespace
{
// A view in miniature: labels bound to what the window's views read, a repeater per list, and the
// actions forwarded as the window's buttons forward them.
const char *const kView = R"qml(
import QtQuick
import Tavrilo.Ui

Item {
    id: root
    required property HubModel model

    property string message: model.message
    property bool running: model.running
    property bool canRun: model.canRun
    property bool controlsConnected: model.controlsConnected
    property bool cloudConnected: model.cloudConnected
    property bool closingSession: model.closingSession
    property bool controlInFlight: model.controlInFlight
    property bool hasOwnedCleanup: model.hasOwnedCleanup
    property bool operatorPaused: model.operatorPaused
    property string browserHolder: model.browserHolder
    property bool browserSessionPresent: model.browserSessionPresent
    property string tenantName: model.tenantName
    property string role: model.role
    property string planName: model.planName
    property string displayProfile: model.displayProfile
    property string sessionID: model.sessionID
    property string sessionTokenLabel: model.sessionTokenLabel
    property string workspaceLedgerLabel: model.workspaceLedgerLabel
    property string sessionLedgerLabel: model.sessionLedgerLabel
    property string persistedCostLabel: model.persistedCostLabel
    property bool unattributedShown: model.unattributedLedgerLabel !== undefined
    property bool pendingAttributionShown: model.pendingAttributionLabel !== undefined
    property string projectSelectionNotice: model.projectSelectionNotice
    property bool projectOpening: model.projectOpening
    property string activeSessionID: model.activeSessionID === undefined ? "none" : model.activeSessionID
    property string cleanupFailure: model.cleanupFailure === undefined ? "none" : model.cleanupFailure
    property string teamRevision: model.teamRevision === undefined ? "none" : model.teamRevision
    property string skipTool: model.skipTarget === undefined ? "none" : model.skipTarget.tool
    property string activeSpecialists: model.activeSpecialists.join(",")
    property string working: model.presence.working.join(",")
    property real velocity: model.presence.velocity
    property bool turnCompleted: model.turn.turnCompleted
    property string reasoning: model.turn.reasoning.join("")
    property int releaseChecks: model.turn.releaseCheckLabels.length
    property bool selectedProfile: model.selectedProfile
    property string selectedDocumentTab: model.selectedDocumentTab
    property string expandedInspector: model.expandedInspector
    property string prompt: model.prompt
    property string selectedSkipID: model.selectedSkipID
    property string document: model.document
    property bool documentShown: model.documentURL !== undefined
    property bool changesLoading: model.changesLoading
    property bool changesTruncated: model.changesTruncated
    property string changesError: model.changesError
    property string selectedChangeDiff: model.selectedChangeDiff
    property bool selectedChangePathShown: model.selectedChangePath !== undefined
    property bool selectedChangeASTShown: model.selectedChangeAST !== undefined
    property string shellStatus: model.documents.shellStatus

    property int events: model.events.count
    property int approvals: model.approvals.count
    property int inputRequests: model.inputRequests.count
    property int positions: model.positions.count
    property int responses: model.responses.count
    property int activeTools: model.activeTools.count
    property int workspaces: model.workspaces.count
    property int recentProjects: model.recentProjects.count
    property int changeFiles: model.changeFiles.count
    property int specialists: model.specialists.count

    property string latestEventKind: eventRows.count > 0 ? eventRows.itemAt(eventRows.count - 1).kind : ""
    property string firstPosition: positionRows.count > 0 ? positionRows.itemAt(0).position : ""
    property string firstApproval: approvalRows.count > 0 ? approvalRows.itemAt(0).approvalID : ""
    property bool firstApprovalAnswered: approvalRows.count > 0 && approvalRows.itemAt(0).answered
    property string builderUsage: specialistRows.count > 1 ? specialistRows.itemAt(1).usageLabel : ""

    Repeater { id: eventRows; model: root.model.events
        delegate: Item { required property string eventID; required property string kind; required property var payload } }
    Repeater { id: positionRows; model: root.model.positions
        delegate: Item { required property string owner; required property string position } }
    Repeater { id: approvalRows; model: root.model.approvals
        delegate: Item { required property string approvalID; required property string tool; required property bool answered; required property var decision } }
    Repeater { id: responseRows; model: root.model.responses
        delegate: Item { required property string agent; required property string response } }
    Repeater { id: toolRows; model: root.model.activeTools
        delegate: Item { required property string toolUseID; required property string tool; required property string agent } }
    Repeater { id: workspaceRows; model: root.model.workspaces
        delegate: Item { required property string tenantId; required property string tenantName; required property bool isDefault } }
    Repeater { id: specialistRows; model: root.model.specialists
        delegate: Item { required property string roleID; required property int seat; required property bool working; required property string usageLabel; required property string persistedHelp } }

    // What a stray script could try; each reports whether the assignment took.
    function tryWrite(name, value) {
        try { model[name] = value } catch (error) { return false }
        return model[name] === value
    }
    function hidden(name) { return model[name] === undefined }

    function typePrompt(text) { model.prompt = text }
    function selectTab(tab) { model.selectedDocumentTab = tab }
    function expand(section) { model.expandedInspector = section }
    function chooseSkip(id) { model.selectedSkipID = id }
    function enterWorkspace() { model.actions.selectExistingProfile() }
    function run() { model.actions.execute() }
    function answerFirstApproval(decision) { model.actions.answerApproval(model.approvals.get(0).approvalID, decision) }
    function interject(text) { model.actions.interject(text) }
    function pause() { model.actions.pause() }
    function resume() { model.actions.resume() }
    function takeBrowser() { model.actions.setBrowserHolder("customer") }
    function skip() { model.actions.skipActiveStep() }
    function reply(id) { model.actions.replyElicitation(id, "accept", { "count": 3, "confirm": true }) }
    function refreshChanges() { model.actions.refreshChanges(undefined) }
    function refreshLedger() { model.actions.refreshLedger() }
    function openBrowser() { model.actions.openWorkspaceBrowser() }
    function openShell() { model.actions.openWorkspaceShell() }
    function selectWorkspace(id) { model.actions.selectWorkspace(id) }
    function selectRecent(directory) { model.actions.selectRecentProject(directory) }
    function openRepository(address) { model.actions.openRepository(address, "") }
    function signIn() { model.actions.signIn() }
    function interrupt() { model.actions.interrupt() }
    function stop() { model.actions.stop() }
    function close() { model.actions.closeSession() }
    function leave() { model.actions.returnToProfiles() }
}
)qml";

class HubModelInQml : public ModelAgainstStandIn
{
public:
    void SetUp() override
    {
        ModelAgainstStandIn::SetUp();
        m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QObject::connect(&m_engine, &QQmlEngine::warnings, &m_engine, [this](const QList<QQmlError> &warnings) {
            for (const QQmlError &warning : warnings)
                m_warnings.append(warning.toString());
        });
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_warnings.isEmpty()) << m_warnings.join(u'\n').toStdString();
        m_view.reset();
        m_testers.clear();
        ModelAgainstStandIn::TearDown();
    }

    // The view in miniature, bound to the model, with a tester on every list the model shows.
    QObject &view(HubModel &m)
    {
        for (KeyedListModel *list : {m.eventsModel(), m.approvalsModel(), m.inputRequestsModel(), m.positionsModel(),
                                     m.responsesModel(), m.activeToolsModel(), m.workspacesModel(),
                                     m.recentProjectsModel(), m.changeFilesModel(), m.specialistsModel()})
            m_testers.push_back(std::make_unique<QAbstractItemModelTester>(
                list, QAbstractItemModelTester::FailureReportingMode::Fatal));
        QQmlComponent component(&m_engine);
        component.setData(kView, QUrl(QStringLiteral("qrc:/hub-model-test/View.qml")));
        EXPECT_TRUE(component.isReady()) << component.errorString().toStdString();
        if (component.isReady())
            m_view.reset(component.createWithInitialProperties({{QStringLiteral("model"), QVariant::fromValue(&m)}}));
        EXPECT_TRUE(m_view) << component.errorString().toStdString();
        return *m_view;
    }

    // A turn whose realtime connection sends `connection` and whose run controls hold the deploy gate.
    void useGatedTurn(const std::vector<Json> &connection)
    {
        Json realtime = Json::object();
        realtime["*"] = {{"queue", Json::array()}, {"default", {{"send", connection}, {"keepAliveMs", 1000}}}};
        Json extra = Json::object();
        extra["turn"] = {{"*", {{"default", {{"approvals", {kDeployGate}}}}}}};
        extra["realtime"] = realtime;
        useScenario(kAtlas, Json(), extra);
    }

    static QVariant shown(QObject &view, const char *name) { return view.property(name); }
    static QVariant call(QObject &view, const char *function, QVariantList arguments = {})
    {
        QVariant result;
        bool invoked = false;
        switch (arguments.size()) {
        case 0:
            invoked = QMetaObject::invokeMethod(&view, function, Q_RETURN_ARG(QVariant, result));
            break;
        case 1:
            invoked = QMetaObject::invokeMethod(&view, function, Q_RETURN_ARG(QVariant, result),
                                                Q_ARG(QVariant, arguments[0]));
            break;
        default:
            invoked = QMetaObject::invokeMethod(&view, function, Q_RETURN_ARG(QVariant, result),
                                                Q_ARG(QVariant, arguments[0]), Q_ARG(QVariant, arguments[1]));
        }
        EXPECT_TRUE(invoked) << function;
        return result;
    }

    QQmlEngine m_engine;
    QStringList m_warnings;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> m_testers;
    std::unique_ptr<QObject> m_view;
};

// Only the view state takes a value from QML; the rest refuses, and the secrets and internals are
// not there at all.
TEST_F(HubModelInQml, OnlyTheViewStateIsWritableAndNoSecretIsReachable)
{
    HubModel &m = signedIn();
    QObject &v = view(m);
    struct Write
    {
        const char *property;
        QVariant value;
        bool takes;
    };
    const Write writes[] = {
        {"prompt", QStringLiteral("Fix it"), true},
        {"selectedDocumentTab", QStringLiteral("Changes"), true},
        {"expandedInspector", QStringLiteral("events"), true},
        {"selectedSkipID", QStringLiteral("tool-9"), true},
        {"selectedProfile", true, true},
        {"message", QStringLiteral("forged"), false},
        {"running", true, false},
        {"closingSession", true, false},
        {"controlInFlight", true, false},
        {"sessionID", QStringLiteral("forged"), false},
        {"browserHolder", QStringLiteral("customer"), false},
        {"canRun", true, false},
    };
    for (const Write &write : writes) {
        SCOPED_TRACE(write.property);
        const QVariant before = m.property(write.property);
        EXPECT_EQ(call(v, "tryWrite", {QString::fromUtf8(write.property), write.value}).toBool(), write.takes);
        if (!write.takes) {
            EXPECT_EQ(m.property(write.property), before);
        }
    }
    EXPECT_EQ(m.prompt(), QStringLiteral("Fix it"));
    EXPECT_EQ(m.selectedDocumentTab(), QStringLiteral("Changes"));
    EXPECT_TRUE(m.selectedProfile());
    EXPECT_FALSE(m.running());

    ASSERT_TRUE(m.token() && m.identityToken());
    for (const char *secret : {"token", "identityToken", "log", "configuration", "layout", "ledgerTask",
                               "changesReadTask", "projectAnswers", "eventProjection", "usageByAgent", "hands"})
        EXPECT_TRUE(call(v, "hidden", {QString::fromUtf8(secret)}).toBool()) << secret;
    // Nothing on the model hands out a secret's text either.
    const QMetaObject &meta = HubModel::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QVariant value = meta.property(i).read(&m);
        EXPECT_NE(value.toString(), *m.token()) << meta.property(i).name();
        EXPECT_NE(value.toString(), *m.identityToken()) << meta.property(i).name();
    }
    // The failures ended in the warnings list: a stray assignment is loud. They are expected here.
    m_warnings.clear();
}

// A whole turn, started and steered from QML: every label follows the model, every list changes by
// rows under the tester, and every action reaches the platform or the status line.
TEST_F(HubModelInQml, ATurnDrivenFromQml)
{
    HubModel &m = signedIn();
    QObject &v = view(m);
    EXPECT_EQ(shown(v, "message").toString(), kReady);
    EXPECT_EQ(shown(v, "workspaces").toInt(), 2);
    EXPECT_EQ(shown(v, "tenantName").toString(), QStringLiteral("Atlas"));
    EXPECT_TRUE(shown(v, "controlsConnected").toBool());
    EXPECT_EQ(shown(v, "activeSessionID").toString(), QStringLiteral("none"));
    EXPECT_EQ(shown(v, "skipTool").toString(), QStringLiteral("none"));
    EXPECT_EQ(shown(v, "specialists").toInt(), NativePresence::roles().size());
    EXPECT_EQ(shown(v, "builderUsage").toString(), m.usageLabel(NativePresence::roles().value(1)));

    call(v, "enterWorkspace");
    EXPECT_TRUE(shown(v, "selectedProfile").toBool());
    EXPECT_EQ(shown(v, "recentProjects").toInt(), m.recentProjects().size());
    call(v, "selectTab", {QStringLiteral("Build shell")});
    EXPECT_EQ(m.selectedDocumentTab(), QStringLiteral("Build shell"));
    call(v, "expand", {QStringLiteral("events")});
    EXPECT_EQ(shown(v, "expandedInspector").toString(), QStringLiteral("events"));
    EXPECT_FALSE(shown(v, "canRun").toBool());
    call(v, "typePrompt", {QStringLiteral("Fix the failing build")});
    EXPECT_TRUE(shown(v, "canRun").toBool());

    const std::vector<Json> connection{
        send(sessionFrame(1, "text", {{"text", "Looking at the build."}}), 150),
        send(sessionFrame(2, "reasoning", {{"text", "The linker flags are wrong."}})),
        send(sessionFrame(3, "position", {{"position", "Fix the linker flags"}, {"confidence", "high"}})),
        send(sessionFrame(4, "tool_start", {{"id", "tool-1"}, {"name", "project_read"}, {"index", 0}})),
        send(sessionFrame(5, "usage", {{"totalTokens", 1200}})),
        send(sessionFrame(6, "hook", {{"phase", "approval_pending"}, {"toolUseId", "gate-1"}})),
        send(sessionFrame(7, "tool_start", {{"id", "tool-2"}, {"name", "project_search"}, {"index", 1}})),
    };
    useGatedTurn(connection);

    call(v, "run");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "running").toBool(); }, 10s));
    ASSERT_TRUE(
        waitUntil([&] { return shown(v, "activeTools").toInt() == 2 && shown(v, "approvals").toInt() == 1; }, 10s));
    EXPECT_EQ(shown(v, "activeSessionID").toString(), m.sessionID());
    EXPECT_FALSE(shown(v, "canRun").toBool());
    EXPECT_TRUE(shown(v, "hasOwnedCleanup").toBool());
    EXPECT_EQ(shown(v, "events").toInt(), m.events().size());
    EXPECT_EQ(shown(v, "latestEventKind").toString(), m.events().constLast().kind);
    EXPECT_EQ(shown(v, "positions").toInt(), 1);
    EXPECT_EQ(shown(v, "firstPosition").toString(), QStringLiteral("Fix the linker flags"));
    EXPECT_EQ(shown(v, "reasoning").toString(), QStringLiteral("The linker flags are wrong."));
    EXPECT_EQ(shown(v, "responses").toInt(), 1);
    EXPECT_EQ(shown(v, "sessionTokenLabel").toString(), m.sessionTokenLabel());
    EXPECT_EQ(shown(v, "builderUsage").toString(), m.usageLabel(NativePresence::roles().value(1)));
    EXPECT_EQ(shown(v, "firstApproval").toString(), QStringLiteral("gate-1"));
    EXPECT_FALSE(shown(v, "firstApprovalAnswered").toBool());

    call(v, "answerFirstApproval", {QStringLiteral("approved")});
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString() == "Approval recorded for this session."; }));
    EXPECT_TRUE(shown(v, "firstApprovalAnswered").toBool());
    call(v, "answerFirstApproval", {QStringLiteral("approved")});
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString().startsWith("The visible approval"); }));

    call(v, "interject", {QStringLiteral("Update the docs too")});
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString().startsWith("Interjection queued"); }));
    call(v, "pause");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "operatorPaused").toBool(); }));
    call(v, "resume");
    ASSERT_TRUE(waitUntil([&] { return !shown(v, "operatorPaused").toBool(); }));
    call(v, "takeBrowser");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "browserHolder").toString() == "customer"; }));
    call(v, "chooseSkip", {QStringLiteral("tool-2")});
    EXPECT_EQ(shown(v, "skipTool").toString(), QStringLiteral("project_search"));
    call(v, "skip");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString().startsWith("Skip-step recorded"); }));
    EXPECT_EQ(requests("NativeSkip").size(), 1u);
    call(v, "reply", {QStringLiteral("no-such-request")});
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString().startsWith("This input request"); }));
    call(v, "refreshLedger");
    call(v, "refreshChanges");

    call(v, "interrupt");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString() == "Runtime session stopped."; }, 10s));
    EXPECT_FALSE(shown(v, "running").toBool());
    EXPECT_EQ(shown(v, "activeSessionID").toString(), QStringLiteral("none"));
    EXPECT_EQ(shown(v, "activeTools").toInt(), 0);
    ASSERT_TRUE(waitUntil([&] { return !shown(v, "hasOwnedCleanup").toBool(); }));

    // With no live session the workspace tools refuse in the status line.
    call(v, "openShell");
    ASSERT_TRUE(waitUntil([&] { return shown(v, "message").toString().startsWith("Start a signed-in session"); }));
    call(v, "typePrompt", {QString()});
    call(v, "stop");
    ASSERT_TRUE(pollPasses(1));

    // A guard awaits the close through its signal.
    QSignalSpy closed(m.actions(), &HubActions::sessionCloseEnded);
    call(v, "close");
    ASSERT_TRUE(waitUntil([&] { return closed.count() == 1; }));
    EXPECT_TRUE(closed.at(0).at(0).toBool());
    // The quit and close guards' clean-up goes the same way and ends with the signal's outcome.
    HubModelCleanup cleanup(&m);
    EXPECT_TRUE(awaitFor(cleanup.closeSession()));
    EXPECT_EQ(closed.count(), 2);
    call(v, "leave");
    ASSERT_TRUE(waitUntil([&] { return !shown(v, "selectedProfile").toBool(); }));
}

// Actions that change the workspace or the project from QML.
TEST_F(HubModelInQml, WorkspaceAndProjectActions)
{
    HubModel &m = signedIn();
    QObject &v = view(m);
    call(v, "selectWorkspace", {kCobalt});
    ASSERT_TRUE(waitUntil([&] { return shown(v, "tenantName").toString() == "Cobalt"; }, 10s));
    call(v, "selectWorkspace", {QStringLiteral("no-such-workspace")});
    call(v, "selectRecent", {QStringLiteral("/no/such/project")});
    call(v, "openRepository", {QStringLiteral("not a repository")});
    ASSERT_TRUE(waitUntil([&] { return !shown(v, "projectOpening").toBool(); }, 10s));
    EXPECT_EQ(shown(v, "message").toString(), m.message());
}
// The events section in a window over a turn against the stand-in: the turn's position, update and
// reasoning appear in it, and its Approve button answers the gate once; pressed again it does
// nothing, because the card no longer lets the gate be answered.
TEST_F(HubModelInQml, AnApprovalAnsweredFromTheEventsSection)
{
    HubModel &m = signedIn();
    QQmlComponent component(&m_engine);
    component.setData(R"qml(
        import QtQuick
        import Tavrilo.Ui
        Rectangle {
            id: frame
            required property HubModel hubModel
            width: 560; height: 1400
            HubViewState { id: state; model: frame.hubModel }
            SectionCard { label: "Events"; anchors.fill: parent
                EventsSection { model: frame.hubModel; viewState: state } }
        })qml",
                      QUrl(QStringLiteral("qrc:/hub-model-test/Events.qml")));
    std::unique_ptr<QObject> created(
        component.createWithInitialProperties({{QStringLiteral("hubModel"), QVariant::fromValue(&m)}}));
    auto *root = qobject_cast<QQuickItem *>(created.get());
    ASSERT_TRUE(root) << component.errorString().toStdString();
    QQuickWindow window;
    window.resize(560, 1400);
    root->setParentItem(window.contentItem());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const std::vector<Json> connection{
        send(sessionFrame(1, "text", {{"text", "Looking at the build."}}), 150),
        send(sessionFrame(2, "reasoning", {{"text", "The linker flags are wrong."}})),
        send(sessionFrame(3, "position", {{"position", "Fix the linker flags"}, {"confidence", "high"}})),
        send(sessionFrame(4, "hook", {{"phase", "approval_pending"}, {"toolUseId", "gate-1"}})),
    };
    useGatedTurn(connection);
    m.actions()->selectExistingProfile();
    m.setExpandedInspector(QStringLiteral("events")); // the thinking disclosure opens
    m.setPrompt(QStringLiteral("Fix the failing build"));
    m.actions()->execute();

    // Items a repeater made are reached through the visual tree, not as QObject children.
    const auto items = [&] {
        QList<QQuickItem *> all{root};
        for (qsizetype i = 0; i < all.size(); ++i)
            all.append(all[i]->childItems());
        return all;
    };
    const auto approve = [&]() -> QQuickItem * {
        for (QQuickItem *item : items())
            if (item->objectName() == QLatin1StringView("approveButton"))
                return item;
        return nullptr;
    };
    ASSERT_TRUE(
        waitUntil([&] { return approve() && approve()->isEnabled() && !m.eventProjection().positions.isEmpty(); }, 10s))
        << m.message().toStdString() << " running=" << m.running()
        << " approvals=" << m.eventProjection().approvals.size()
        << " positions=" << m.eventProjection().positions.size() << " button=" << (approve() != nullptr);
    const auto texts = [&] {
        QStringList shown;
        for (const QQuickItem *item : items())
            if (const QVariant text = item->property("text"); text.userType() == QMetaType::QString)
                shown.append(text.toString());
        return shown.join(u'\n');
    };
    ASSERT_TRUE(waitUntil([&] { return texts().contains("The linker flags are wrong."); }));
    EXPECT_TRUE(texts().contains("Fix the linker flags"));
    EXPECT_TRUE(texts().contains("Looking at the build."));

    const auto press = [&](QQuickItem *button) {
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        QTest::mouseClick(&window, Qt::LeftButton, {}, centre.toPoint());
    };
    press(approve());
    ASSERT_TRUE(waitUntil([&] { return m.message() == "Approval recorded for this session."; }));
    EXPECT_EQ(requests("NativeApproval").size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return approve() && !approve()->isEnabled(); }));
    press(approve());
    ASSERT_TRUE(pollPasses(1));
    EXPECT_EQ(requests("NativeApproval").size(), 1u);
    EXPECT_EQ(m.message(), QStringLiteral("Approval recorded for this session."));

    m.actions()->interrupt();
    ASSERT_TRUE(waitUntil([&] { return !m.running(); }, 10s));
    root->setParentItem(nullptr);
}
} // namespace
