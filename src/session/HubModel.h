#pragma once

#include "cloud/CognitoLogin.h"
#include "cloud/NativeControls.h"
#include "cloud/NativeLive.h"
#include "cloud/TokenSource.h"
#include "core/HubConfiguration.h"
#include "core/HubLayout.h"
#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "core/WorkspaceLog.h"
#include "core/async/CancelToken.h"
#include "core/async/Job.h"
#include "headless/HeadlessTurnProgress.h"
#include "live/EventProjection.h"
#include "live/NativeLedgerUsage.h"
#include "live/NativePresence.h"
#include "live/NativeUsage.h"
#include "project/NativeChangeResult.h"
#include "project/NativeProjectHands.h"
#include "project/NativeProjects.h"
#include "session/EventMerge.h"
#include "session/HubClock.h"
#include "session/HubStatus.h"
#include "session/KeyedListModel.h"
#include "session/ProjectAnswer.h"
#include "session/ProjectCallRules.h"
#include "session/ToolTarget.h"
#include "session/TurnSummary.h"
#include "workspace/NativeDocuments.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class HubActions;
Q_MOC_INCLUDE("session/HubActions.h")
class Keyring;
class OpenPanels;

// The one observable model of a hub window (or of a headless export): sign-in and workspace, the
// selected project and its tools, the merged events and what they project, usage, the project-call
// bookkeeping, run controls and the session, the working-tree changes, the opened document and the
// view selections. Main thread only.
//
// Every stored value a view may read is a property with a change signal. A value with equality
// announces only a different value; the others (layout, configuration, journal, lists and records of
// the subsystems) announce every assignment. Derived values are worked out on every read and
// announce whenever one of their inputs does. Private state no view can read has no signal.
//
// Behaviour is split by concern: construction and the derived values here and in HubModel.cpp,
// setters in HubModelState.cpp, event merging in HubModelMerge.cpp, the recent-project list in
// HubModelRecent.cpp, identity hydration and token renewal in HubModelIdentity.cpp, sign-in and the
// workspace switch in HubModelSignIn.cpp, start-up and the poll loop in HubModelStartup.cpp, the
// usage ledger in HubModelLedger.cpp, session close in HubModelClose.cpp, the pending inputs in
// HubModelPending.cpp and profile navigation in HubModelProfile.cpp.
class HubModel : public QObject
{
    Q_OBJECT

    // What the window reads. Only the view state is writable from QML; everything else changes
    // through the model's operations (the actions). Secrets and internals (the tokens, the journal,
    // the configuration, the tasks, the counters) are C++ accessors only, for the operations, the
    // headless export and tests. An absent value reads as undefined.

    // Sign-in and workspace.
    Q_PROPERTY(NativeDocuments *documents READ documents CONSTANT)
    Q_PROPERTY(HubActions *actions READ actions CONSTANT)
    Q_PROPERTY(KeyedListModel *workspaces READ workspacesModel CONSTANT)
    Q_PROPERTY(QString tenantName READ tenantName NOTIFY tenantNameChanged)
    Q_PROPERTY(QString role READ role NOTIFY roleChanged)
    Q_PROPERTY(QString planName READ planName NOTIFY planNameChanged)
    Q_PROPERTY(QString userID READ userID NOTIFY userIDChanged)

    // Project selection.
    Q_PROPERTY(KeyedListModel *recentProjects READ recentProjectsModel CONSTANT)
    Q_PROPERTY(QString projectSelectionNotice READ projectSelectionNotice NOTIFY projectSelectionNoticeChanged)
    Q_PROPERTY(bool projectOpening READ projectOpening NOTIFY projectOpeningChanged)

    // Events, their projection, presence and live usage.
    Q_PROPERTY(KeyedListModel *events READ eventsModel CONSTANT)
    Q_PROPERTY(KeyedListModel *approvals READ approvalsModel CONSTANT)
    Q_PROPERTY(KeyedListModel *inputRequests READ inputRequestsModel CONSTANT)
    Q_PROPERTY(KeyedListModel *positions READ positionsModel CONSTANT)
    Q_PROPERTY(KeyedListModel *responses READ responsesModel CONSTANT)
    Q_PROPERTY(TurnSummary turn READ turn NOTIFY turnChanged)
    Q_PROPERTY(QVariant teamRevision READ teamRevisionValue NOTIFY teamRevisionChanged)
    Q_PROPERTY(NativePresence presence READ shownPresence NOTIFY shownPresenceChanged)
    Q_PROPERTY(KeyedListModel *specialists READ specialistsModel CONSTANT)

    // Persisted usage.
    Q_PROPERTY(
        bool persistedSessionUsagePending READ persistedSessionUsagePending NOTIFY persistedSessionUsagePendingChanged)

    // Headless export.
    Q_PROPERTY(qint64 headlessFrameCount READ headlessFrameCount NOTIFY headlessFrameCountChanged)
    Q_PROPERTY(bool hasRenderedActivity READ hasRenderedActivity NOTIFY renderedActivityChanged)
    Q_PROPERTY(bool hasCapturedPDF READ hasCapturedPDF NOTIFY capturedPDFChanged)
    Q_PROPERTY(bool hasCapturedBrowser READ hasCapturedBrowser NOTIFY capturedBrowserChanged)

    // The turn, run controls and the session.
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)
    Q_PROPERTY(KeyedListModel *activeTools READ activeToolsModel CONSTANT)
    Q_PROPERTY(QString selectedSkipID READ selectedSkipID WRITE setSelectedSkipID NOTIFY selectedSkipIDChanged)
    Q_PROPERTY(bool controlInFlight READ controlInFlight NOTIFY controlInFlightChanged)
    Q_PROPERTY(QString browserHolder READ browserHolder NOTIFY browserHolderChanged)
    Q_PROPERTY(bool browserSessionPresent READ browserSessionPresent NOTIFY browserSessionPresentChanged)
    Q_PROPERTY(bool operatorPaused READ operatorPaused NOTIFY operatorPausedChanged)
    Q_PROPERTY(bool closingSession READ closingSession NOTIFY closingSessionChanged)
    Q_PROPERTY(QVariant activeSessionID READ activeSessionIDValue NOTIFY activeSessionIDChanged)
    Q_PROPERTY(QVariant cleanupFailure READ cleanupFailureValue NOTIFY cleanupFailureChanged)
    Q_PROPERTY(QString sessionID READ sessionID NOTIFY sessionIDChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

    // View selections and the working document.
    Q_PROPERTY(bool selectedProfile READ selectedProfile WRITE setSelectedProfile NOTIFY selectedProfileChanged)
    Q_PROPERTY(QString selectedDocumentTab READ selectedDocumentTab WRITE setSelectedDocumentTab NOTIFY
                   selectedDocumentTabChanged)
    Q_PROPERTY(
        QString expandedInspector READ expandedInspector WRITE setExpandedInspector NOTIFY expandedInspectorChanged)
    Q_PROPERTY(QString document READ document NOTIFY documentChanged)
    Q_PROPERTY(QVariant documentURL READ documentURLValue NOTIFY documentURLChanged)

    // Working-tree changes.
    Q_PROPERTY(bool changesLoading READ changesLoading NOTIFY changesLoadingChanged)
    Q_PROPERTY(KeyedListModel *changeFiles READ changeFilesModel CONSTANT)
    Q_PROPERTY(bool changesTruncated READ changesTruncated NOTIFY changesTruncatedChanged)
    Q_PROPERTY(QVariant selectedChangePath READ selectedChangePathValue NOTIFY selectedChangePathChanged)
    Q_PROPERTY(QString selectedChangeDiff READ selectedChangeDiff NOTIFY selectedChangeDiffChanged)
    Q_PROPERTY(QVariant selectedChangeAST READ selectedChangeASTValue NOTIFY selectedChangeASTChanged)
    Q_PROPERTY(QString changesError READ changesError NOTIFY changesErrorChanged)

    // Derived values.
    Q_PROPERTY(QString displayProfile READ displayProfile NOTIFY displayProfileChanged)
    Q_PROPERTY(bool cloudConnected READ cloudConnected NOTIFY cloudConnectedChanged)
    Q_PROPERTY(bool controlsConnected READ controlsConnected NOTIFY controlsConnectedChanged)
    Q_PROPERTY(bool canRun READ canRun NOTIFY canRunChanged)
    Q_PROPERTY(QStringList activeSpecialists READ activeSpecialists NOTIFY activeSpecialistsChanged)
    Q_PROPERTY(QString sessionTokenLabel READ sessionTokenLabel NOTIFY sessionTokenLabelChanged)
    Q_PROPERTY(QVariant skipTarget READ skipTargetValue NOTIFY skipTargetChanged)
    Q_PROPERTY(bool hasOwnedCleanup READ hasOwnedCleanup NOTIFY hasOwnedCleanupChanged)
    Q_PROPERTY(QString workspaceLedgerLabel READ workspaceLedgerLabel NOTIFY ledgerLabelsChanged)
    Q_PROPERTY(QString sessionLedgerLabel READ sessionLedgerLabel NOTIFY ledgerLabelsChanged)
    Q_PROPERTY(QString persistedCostLabel READ persistedCostLabel NOTIFY ledgerLabelsChanged)
    Q_PROPERTY(QVariant unattributedLedgerLabel READ unattributedLedgerLabelValue NOTIFY ledgerLabelsChanged)
    Q_PROPERTY(QVariant pendingAttributionLabel READ pendingAttributionLabelValue NOTIFY ledgerLabelsChanged)

public:
    using ToolTarget = ::ToolTarget;
    using ProjectAnswer = ::ProjectAnswer;
    using ProjectCallTombstone = ::ProjectCallTombstone;

    // What the model is assembled from beyond itself: the platform's services, or stand-ins for them.
    // Whoever assembles the hub (the application) passes the Secret Service keyring and the sign-in
    // window; tests pass a memory keyring and a scripted sign-in.
    struct Dependencies
    {
        // Where the sign-in keeps its refresh token.
        std::shared_ptr<Keyring> keyring;
        // Makes the window of one hosted sign-in.
        CognitoLogin::WebAuthSessionFactory webSessions;
        // The realtime subscription's socket, waits and clock; the real ones where left empty.
        RealtimeSubscription::Options realtime;
        // The folder and document choosers; without them every choice ends as cancelled.
        std::shared_ptr<OpenPanels> panels = nullptr;
        // The wall clock of refreshes, interrupts and token expiry, and the poll loop's pause; the
        // real ones where left empty.
        HubClock clock = {};
    };

    // Creates the documents model, the realtime client and the sign-in, draws the executor and
    // session ids and notes the time. Loads nothing and starts nothing.
    explicit HubModel(Dependencies dependencies, QObject *parent = nullptr);
    // Releases what the model holds; cancels no task and closes no connection.
    ~HubModel() override;

    // Before any time a refresh can be due.
    static QDateTime distantPast();

    // Stored values.
    const std::optional<HubLayout> &layout() const { return m_layout; }
    const std::optional<HubConfiguration> &configuration() const { return m_configuration; }
    const std::shared_ptr<WorkspaceLog> &log() const { return m_log; }
    NativeDocuments *documents() { return &m_documents; }
    const QList<NativeLive::Workspace> &workspaces() const { return m_workspaces; }
    const QString &tenantName() const { return m_tenantName; }
    const QString &role() const { return m_role; }
    const QString &planName() const { return m_planName; }
    const QString &userID() const { return m_userID; }
    const std::optional<QString> &token() const { return m_token; }
    const std::optional<QString> &identityToken() const { return m_identityToken; }
    const QList<NativeRecentProject> &recentProjects() const { return m_recentProjects; }
    const QString &projectSelectionNotice() const { return m_projectSelectionNotice; }
    bool projectOpening() const { return m_projectOpening; }
    const QList<WorkspaceEvent> &events() const { return m_events; }
    const EventProjection &eventProjection() const { return m_eventProjection; }
    qint64 pendingInputGeneration() const { return m_pendingInputGeneration; }
    const std::optional<QString> &teamRevision() const { return m_teamRevision; }
    const UsageByAgent &usageByAgent() const { return m_usageByAgent; }
    const NativePresence &presence() const { return m_presence; }
    const std::optional<NativeLedgerUsage> &persistedWorkspaceUsage() const { return m_persistedWorkspaceUsage; }
    const std::optional<NativeLedgerUsage> &persistedSessionUsage() const { return m_persistedSessionUsage; }
    bool persistedSessionUsagePending() const { return m_persistedSessionUsagePending; }
    qint64 ledgerGeneration() const { return m_ledgerGeneration; }
    const QDateTime &nextLedgerRefresh() const { return m_nextLedgerRefresh; }
    const Job &ledgerTask() const { return m_ledgerTask; }
    qint64 headlessFrameCount() const { return m_headlessFrameCount; }
    const HeadlessTurnProgress &headlessTurnProgress() const { return m_headlessTurnProgress; }
    const QImage &renderedActivity() const { return m_renderedActivity; }
    const QImage &capturedPDF() const { return m_capturedPDF; }
    const QImage &capturedBrowser() const { return m_capturedBrowser; }
    const QString &message() const { return m_message; }
    const QString &prompt() const { return m_prompt; }
    const ToolTargets &activeTools() const { return m_activeTools; }
    const QString &selectedSkipID() const { return m_selectedSkipID; }
    bool controlInFlight() const { return m_controlInFlight; }
    const QSet<QString> &answeredApprovalIDs() const { return m_answeredApprovalIDs; }
    const QString &browserHolder() const { return m_browserHolder; }
    bool browserSessionPresent() const { return m_browserSessionPresent; }
    bool operatorPaused() const { return m_operatorPaused; }
    bool closingSession() const { return m_closingSession; }
    const std::optional<QString> &activeSessionID() const { return m_activeSessionID; }
    const std::optional<QString> &cleanupFailure() const { return m_cleanupFailure; }
    const QString &sessionID() const { return m_sessionID; }
    bool running() const { return m_running; }
    bool selectedProfile() const { return m_selectedProfile; }
    const QString &selectedDocumentTab() const { return m_selectedDocumentTab; }
    const QString &expandedInspector() const { return m_expandedInspector; }
    const QString &document() const { return m_document; }
    const QUrl &documentURL() const { return m_documentURL; }
    bool changesLoading() const { return m_changesLoading; }
    bool changesShuttingDown() const { return m_changesShuttingDown; }
    qint64 changesGeneration() const { return m_changesGeneration; }
    const Job &changesReadTask() const { return m_changesReadTask; }
    const QList<NativeChangeFile> &changeFiles() const { return m_changeFiles; }
    bool changesTruncated() const { return m_changesTruncated; }
    const std::optional<QString> &selectedChangePath() const { return m_selectedChangePath; }
    const QString &selectedChangeDiff() const { return m_selectedChangeDiff; }
    const std::optional<NativeASTResult> &selectedChangeAST() const { return m_selectedChangeAST; }
    const QString &changesError() const { return m_changesError; }

    // What QML reads of the values above: the lists the window shows, row by row, the actions, and
    // absent values as invalid variants.
    HubActions *actions() const { return m_actions; }
    KeyedListModel *workspacesModel() { return &m_workspacesModel; }
    KeyedListModel *recentProjectsModel() { return &m_recentProjectsModel; }
    KeyedListModel *eventsModel() { return &m_eventsModel; }
    KeyedListModel *approvalsModel() { return &m_approvalsModel; }
    KeyedListModel *inputRequestsModel() { return &m_inputRequestsModel; }
    KeyedListModel *positionsModel() { return &m_positionsModel; }
    KeyedListModel *responsesModel() { return &m_responsesModel; }
    KeyedListModel *specialistsModel() { return &m_specialistsModel; }
    KeyedListModel *activeToolsModel() { return &m_activeToolsModel; }
    KeyedListModel *changeFilesModel() { return &m_changeFilesModel; }
    const TurnSummary &turn() const { return m_turn; }
    // The presence as QML reads it: announced only when it differs, where `presence` announces
    // every merged event.
    const NativePresence &shownPresence() const { return m_shownPresence; }
    QVariant teamRevisionValue() const;
    QVariant activeSessionIDValue() const;
    QVariant cleanupFailureValue() const;
    QVariant documentURLValue() const;
    QVariant selectedChangePathValue() const;
    QVariant selectedChangeASTValue() const;
    QVariant skipTargetValue() const;
    QVariant unattributedLedgerLabelValue() const;
    QVariant pendingAttributionLabelValue() const;
    bool hasRenderedActivity() const { return !m_renderedActivity.isNull(); }
    bool hasCapturedPDF() const { return !m_capturedPDF.isNull(); }
    bool hasCapturedBrowser() const { return !m_capturedBrowser.isNull(); }

    void setLayout(std::optional<HubLayout> layout);
    void setConfiguration(std::optional<HubConfiguration> configuration);
    void setLog(std::shared_ptr<WorkspaceLog> log);
    void setWorkspaces(QList<NativeLive::Workspace> workspaces);
    void setTenantName(QString tenantName);
    void setRole(QString role);
    void setPlanName(QString planName);
    void setUserID(QString userID);
    void setToken(std::optional<QString> token);
    void setIdentityToken(std::optional<QString> identityToken);
    void setRecentProjects(QList<NativeRecentProject> recentProjects);
    void setProjectSelectionNotice(QString notice);
    void setProjectOpening(bool opening);
    void setEvents(QList<WorkspaceEvent> events);
    void setEventProjection(EventProjection projection);
    void setTeamRevision(std::optional<QString> revision);
    void setUsageByAgent(UsageByAgent usage);
    void setPresence(NativePresence presence);
    void setPersistedWorkspaceUsage(std::optional<NativeLedgerUsage> usage);
    void setPersistedSessionUsage(std::optional<NativeLedgerUsage> usage);
    void setPersistedSessionUsagePending(bool pending);
    void setNextLedgerRefresh(QDateTime time);
    void setLedgerTask(Job task);
    void setHeadlessFrameCount(qint64 count);
    void setHeadlessTurnProgress(HeadlessTurnProgress progress);
    void setRenderedActivity(QImage image);
    void setCapturedPDF(QImage image);
    void setCapturedBrowser(QImage image);
    void setMessage(QString message);
    void setPrompt(QString prompt);
    void setActiveTools(ToolTargets tools);
    void setSelectedSkipID(QString id);
    void setControlInFlight(bool inFlight);
    void setAnsweredApprovalIDs(QSet<QString> ids);
    void setBrowserHolder(QString holder);
    void setBrowserSessionPresent(bool present);
    void setOperatorPaused(bool paused);
    void setClosingSession(bool closing);
    void setActiveSessionID(std::optional<QString> id);
    void setCleanupFailure(std::optional<QString> failure);
    void setSessionID(QString id);
    void setRunning(bool running);
    void setSelectedProfile(bool selected);
    void setSelectedDocumentTab(QString tab);
    void setExpandedInspector(QString section);
    void setDocument(QString document);
    void setDocumentURL(QUrl url);
    void setChangesLoading(bool loading);
    void setChangesShuttingDown(bool shuttingDown);
    void setChangesReadTask(Job task);
    void setChangeFiles(QList<NativeChangeFile> files);
    void setChangesTruncated(bool truncated);
    void setSelectedChangePath(std::optional<QString> path);
    void setSelectedChangeDiff(QString diff);
    void setSelectedChangeAST(std::optional<NativeASTResult> ast);
    void setChangesError(QString error);

    // Generation counters grow by exactly 1; work that noted an older value drops its result.
    void advancePendingInputGeneration();
    void advanceLedgerGeneration();
    void advanceChangesGeneration();

    // Capture mode: the credentials came from the parent process and are never renewed or repaired,
    // and the recent-project history is left alone. Set by the headless profile.
    bool captureCredentialsOnly() const { return m_captureCredentialsOnly; }
    void setCaptureCredentialsOnly(bool captureOnly) { m_captureCredentialsOnly = captureOnly; }

    // Derived values.
    QString displayProfile() const;
    bool cloudConnected() const;
    bool controlsConnected() const;
    bool canRun() const;
    QStringList activeSpecialists() const;
    QString usageLabel(const QString &agent) const;
    QString sessionTokenLabel() const;
    // The realtime client's counters; they change with every message, so reading this observes nothing.
    QString headlessTransportDiagnostic() const;
    std::optional<ToolTarget> skipTarget() const;
    bool hasOwnedCleanup() const;

    // The one door through which journal and realtime events enter the model. Takes an event of this
    // application, workspace and session that was not merged before and feeds it, in order, to
    // presence, the running flag, the team revision, live usage, the remembered ids, the projection,
    // the pending-input generation and the kept events; returns whether it was taken. A refused
    // event leaves nothing behind.
    bool mergeEvent(const WorkspaceEvent &event);

    // Reloads the recent-project list of this application, user and workspace, first recording the
    // configured project as the latest when `recordCurrent`. Signed out or in capture mode the list
    // is empty; when the history cannot be used it is empty with a notice. Never throws.
    void refreshRecentProjects(bool recordCurrent);

    // Empties the working-tree changes view; a read still running drops its result.
    void clearChanges();

    // Start-up and the poll loop: loads the layout and the configuration, renews the stored sign-in
    // and hydrates it, then every half second merges the journal's new events, mirrors a stop another
    // client wrote for the running turn, refreshes the pending inputs of an active session and lets
    // the usage ledger refresh itself, until `cancel` fires. Reports in `message`; never throws.
    QCoro::Task<void> start(CancelToken cancel = {});

    // Identity. Hydration asks the platform who the user is and which workspaces the account may
    // enter, picks the one `token` is signed for (repairing a token signed for none when
    // `allowRefresh`), and sets up the configuration, journal and project tools of that workspace,
    // all of them or none. Throws HubError sentences and the errors of what it calls.
    QCoro::Task<void> hydrateIdentity(QString token, bool allowRefresh, std::optional<QString> expectedTenant,
                                      CancelToken cancel = {});
    // Renews the tokens once the identity token has 120 s or less to live; a renewed token signed for
    // another workspace is refused and the old ones are kept.
    QCoro::Task<void> refreshIdentityIfNeeded(CancelToken cancel = {});
    // A fresh identity token for a platform call.
    QCoro::Task<QString> currentVerifiedToken(CancelToken cancel = {});
    // Binds the workspace tools to `configuration` and `session`, with the token source of that
    // session and workspace.
    void configureDocuments(HubConfiguration configuration, QString session);
    // The identity token for the workspace tools of `session` in workspace `tenant`, fresh; refused
    // ("The workspace tool session changed.") once the model is gone or has moved to another session
    // or workspace. Holds the model weakly.
    TokenSource workspaceTokenSource(QString session, QString tenant);

    // Interactive sign-in through the hosted pages, then hydration. A sign-in started while one runs
    // does nothing. Reports in `message`; never throws.
    QCoro::Task<void> signIn();
    // Switches to another workspace of the account's memberships. Reports in `message`; never throws.
    QCoro::Task<void> selectWorkspace(NativeLive::Workspace workspace);

    // Profile navigation: enters the workspace with the configured project (recording it as the
    // latest), and leaves it once the session is closed.
    void selectExistingProfile();
    QCoro::Task<void> returnToProfiles();

    // Starts one turn from `prompt`: closes the session the model still holds, prepares the project
    // tools, derives the project's session id, resets the turn state and starts the live turn (the
    // realtime subscription first, then the start request). Reports in `message`; never throws. A
    // second call while one runs does nothing.
    QCoro::Task<void> execute();
    // One realtime session frame of the current session, handled completely: running tool calls,
    // the merged event and its journal record, pending inputs, the project-call hand-off, the turn's
    // end, the live browser and transport errors. A frame that arrives while the session closes
    // asks for no pending inputs and runs no project call, and the close does not wait for it.
    // Throws the journal's, the pending-input refresh's and the project-call handling's errors.
    QCoro::Task<void> receiveFrame(Json frame, CancelToken cancel = {});

    // Run controls. Each reports in `message` and never throws. `interrupt` records the operator's
    // stop in the journal and closes the session; `skipActiveStep` skips the chosen (or only) running
    // tool call; `sendControl` sends one control, one at a time, and applies what the platform
    // accepted; `answerApproval` answers the approval card the user saw, unless it is stale.
    QCoro::Task<void> interrupt();
    QCoro::Task<void> skipActiveStep();
    QCoro::Task<void> sendControl(NativeControls::Command command);
    QCoro::Task<void> answerApproval(EventProjection::Approval approval, QString decision);

    // The workspace tools, from the window. Each reports in `message` and never throws.
    // `replyElicitation` answers an agent's input request ("accept" or "decline", with the text of
    // every field) unless it is no longer shown; the other two bind the tools to the signed-in live
    // session, then ask for the live browser, or open the build shell at 100 by 30.
    QCoro::Task<void> replyElicitation(EventProjection::Elicitation request, QString action,
                                       QMap<QString, QString> content);
    QCoro::Task<void> openWorkspaceBrowser();
    QCoro::Task<void> openWorkspaceShell();

    // Turn starts, pending-input refreshes and frame handlers in progress; session close waits for 0.
    qint64 activeInvocations() const { return m_activeInvocations; }
    // A turn start is on its way.
    bool requestInFlight() const { return m_requestInFlight; }

    // Ends the session the model owns: local work stops at once; a started session is stopped on
    // the platform by one clean-up task that later callers join. Throws the failed step's error (also
    // recorded in `cleanupFailure` and `message`), and then the session is still owned.
    QCoro::Task<void> closeSession();
    // Replaces the approvals, input requests and browser state with the platform's, unless the answer
    // is stale by the time it arrives. Throws HubError sentences and the GraphQL client's.
    QCoro::Task<void> refreshPendingInputs();

    // The usage ledger. A refresh starts unless one runs, the session closes, nobody is signed in to
    // a workspace, or (unless forced) the changes reader shuts down or 15 s have not passed since the
    // last one started.
    Q_INVOKABLE void beginLedgerRefresh(bool force);
    // Forgets both summaries and drops the answer of a refresh in flight; the next refresh is due.
    void clearPersistedLedger();
    // Cancels the refresh in flight and waits for its end; the summaries stay.
    QCoro::Task<void> stopLedgerRefresh();
    QString workspaceLedgerLabel() const;
    QString sessionLedgerLabel() const;
    QString persistedCostLabel() const;
    std::optional<QString> unattributedLedgerLabel() const;
    std::optional<QString> pendingAttributionLabel() const;
    // The session's persisted row of `agentID`, or its unattributed row without an id.
    std::optional<NativeAgentLedgerUsage> persistedAgentUsage(const std::optional<QString> &agentID) const;
    QString persistedAgentHelp(const QString &agentID) const;
    Json ledgerCaptureEvidence() const;

    // Project calls (HubModelProjectCalls.cpp). Handles one "project_call" frame as delivered, with
    // the event payload made of it and the configuration captured when its handling began: admits
    // it, runs it at most once per session on the project tools and delivers its answer. Throws the
    // history and answer-budget sentences; every other outcome is silent or in `message`.
    // `cancel` is the delivering connection's: it stops the tools' long work and further sends.
    QCoro::Task<void> handleProjectCall(Json frame, Json payload, HubConfiguration configuration,
                                        CancelToken cancel = {});
    // The project tools of the selected project, and the executor id calls are addressed to.
    const std::shared_ptr<NativeProjectHands> &hands() const { return m_hands; }
    void setHands(std::shared_ptr<NativeProjectHands> hands) { m_hands = std::move(hands); }
    const QString &handsID() const { return m_handsID; }
    const QHash<QString, ProjectAnswer> &projectAnswers() const { return m_projectAnswers; }
    const QHash<QString, ProjectCallTombstone> &projectCallTombstones() const { return m_projectCallTombstones; }
    const QSet<QString> &projectCallsInFlight() const { return m_projectCallsInFlight; }

    // Working-tree changes (HubModelChanges.cpp). Reads the project's changes through the companion,
    // selecting `path`, and shows them unless the view was cleared or the project changed meanwhile.
    // Nothing while the session closes or without a configuration. Asked while a read runs, the
    // request is kept (the latest one) and runs after it; the caller returns when it has. Never throws.
    QCoro::Task<void> refreshChanges(std::optional<QString> path);

    // Project selection (HubModelProjects.cpp). Each closes the session first and switches the
    // tools, the session's events and the recent-project history together; failures end in
    // `message`, guards refuse silently. Never throw.
    QCoro::Task<void> chooseProject();
    QCoro::Task<void> selectRecentProject(NativeRecentProject project);
    QCoro::Task<void> openRepository(QString address, QString ref);
    qint64 projectSelectionGeneration() const { return m_projectSelectionGeneration; }

    // Opens a chosen PDF, text or source file as the working document and journals it
    // (HubModelDocument.cpp). Failures end in `message`. Never throws.
    QCoro::Task<void> openDocument();

Q_SIGNALS:
    void layoutChanged();
    void configurationChanged();
    void logChanged();
    void workspacesChanged();
    void tenantNameChanged();
    void roleChanged();
    void planNameChanged();
    void userIDChanged();
    void tokenChanged();
    void identityTokenChanged();
    void recentProjectsChanged();
    void projectSelectionNoticeChanged();
    void projectOpeningChanged();
    void eventsChanged();
    void eventProjectionChanged();
    void pendingInputGenerationChanged();
    void teamRevisionChanged();
    void usageByAgentChanged();
    void presenceChanged();
    void persistedWorkspaceUsageChanged();
    void persistedSessionUsageChanged();
    void persistedSessionUsagePendingChanged();
    void ledgerGenerationChanged();
    void nextLedgerRefreshChanged();
    void ledgerTaskChanged();
    void headlessFrameCountChanged();
    void headlessTurnProgressChanged();
    void renderedActivityChanged();
    void capturedPDFChanged();
    void capturedBrowserChanged();
    void messageChanged();
    void promptChanged();
    void activeToolsChanged();
    void selectedSkipIDChanged();
    void controlInFlightChanged();
    void answeredApprovalIDsChanged();
    void browserHolderChanged();
    void browserSessionPresentChanged();
    void operatorPausedChanged();
    void closingSessionChanged();
    void activeSessionIDChanged();
    void cleanupFailureChanged();
    void sessionIDChanged();
    void runningChanged();
    void selectedProfileChanged();
    void selectedDocumentTabChanged();
    void expandedInspectorChanged();
    void documentChanged();
    void documentURLChanged();
    void changesLoadingChanged();
    void changesShuttingDownChanged();
    void changesGenerationChanged();
    void changesReadTaskChanged();
    void changeFilesChanged();
    void changesTruncatedChanged();
    void selectedChangePathChanged();
    void selectedChangeDiffChanged();
    void selectedChangeASTChanged();
    void changesErrorChanged();

    void displayProfileChanged();
    void cloudConnectedChanged();
    void controlsConnectedChanged();
    void canRunChanged();
    void activeSpecialistsChanged();
    void sessionTokenLabelChanged();
    void skipTargetChanged();
    void hasOwnedCleanupChanged();
    void ledgerLabelsChanged();
    // The turn summary of the projection changed (not announced for an event that leaves it as it was).
    void turnChanged();
    void shownPresenceChanged();
    // The count of turn starts, pending-input refreshes and frame handlers in progress changed.
    void activeInvocationsChanged();

private:
    // The model as the workspace tools' courses see it.
    class WorkspaceSession;

    // Each derived value announces whenever one of its inputs does. The private tasks that
    // hasOwnedCleanup reads (project opening, clean-up) announce it where they are set.
    void announceDerivedValues();
    // Keeps the lists and the turn summary QML reads in step with the values they show.
    void followListValues();
    void syncProjectionViews();
    void syncSpecialists();
    // A fresh executor id: a random UUID in lower-case canonical text. Drawn at creation and again
    // when the project root or the signed-in user changes.
    static QString newHandsID();

    // Identity.
    QCoro::Task<void> repairWorkspace(HubConfiguration configuration, QList<NativeLive::Workspace> workspaces,
                                      std::optional<QString> expectedTenant, QString token, CancelToken cancel);
    // The identity token for a platform call of `session` in workspace `tenant`, fresh; `changed` is
    // thrown once the model is gone or has moved to another session or workspace.
    static QCoro::Task<QString> sessionToken(QPointer<HubModel> model, QString session, QString tenant, QString changed,
                                             CancelToken cancel);
    // The model's clock as milliseconds since 1970: what project-call deadlines are compared with (a
    // deadline equal to it has passed).
    double nowMs() const { return double(m_clock.now().toMSecsSinceEpoch()); }
    // Forgets the project calls of the previous executor id and draws a new one.
    void renewHandsID();
    // What the window shows of a turn: presence, answered approvals, the projection (gates, positions,
    // reasoning), running tools and the selected skip; cleared when a turn starts. A new session (a
    // project or workspace switch) clears with them its events, their merge memory and its usage.
    enum class ViewReset { turn, session };
    void resetSessionView(ViewReset scope);

    // Start-up.
    QCoro::Task<void> pollPass(CancelToken cancel);
    // Awaits `work` and writes its failure to the status line. True when it succeeded and the model
    // is still there.
    QCoro::Task<bool> reportingFailure(QCoro::Task<void> work);

    // The usage ledger.
    QCoro::Task<void> refreshPersistedLedger(CancelToken cancel);
    static QCoro::Task<NativeLedgerUsage> readPersistedUsage(HubConfiguration configuration, QString token,
                                                             std::optional<QString> session, CancelToken cancel);

    // A turn.
    // "start" opens the realtime subscription and then asks the platform to start the turn;
    // "interrupt" closes the session.
    QCoro::Task<void> invoke(QString action);
    // The frame callback of a turn's subscription: frames of another session than `session` are
    // dropped; one that arrives while the session closes is only recorded (`receiveFrame`).
    static QCoro::Task<void> deliverFrame(QPointer<HubModel> model, QString session, Json frame, CancelToken cancel);
    // Session close. `closeSession()` also stops a turn whose start is being prepared (it moves
    // `m_generation`); a turn's start closes the previous session with `closePreviousSession()`,
    // the same close without that step.
    QCoro::Task<void> closePreviousSession();
    QCoro::Task<void> cleanUpSession();
    void setCleanupTask(Job task);
    void changeActiveInvocations(int delta);

    // One delivery of the cached answer of `key`, with up to four sends.
    QCoro::Task<void> deliverProjectAnswer(QString key, projectcalls::Call call, QByteArray digest,
                                           HubConfiguration configuration, CancelToken cancel);
    // One companion read and its guarded application.
    QCoro::Task<void> readChanges(std::optional<QString> path);
    // Switches to the folder at `path`; true when it did.
    QCoro::Task<bool> selectProjectDirectory(QString path, bool fromRepository, std::optional<QString> recentPath);
    void setProjectOpenTask(Job task);

    std::optional<HubLayout> m_layout;
    std::optional<HubConfiguration> m_configuration;
    std::shared_ptr<WorkspaceLog> m_log;
    NativeDocuments m_documents;
    QList<NativeLive::Workspace> m_workspaces;
    QString m_tenantName;
    QString m_role;
    QString m_planName;
    QString m_userID;
    QList<NativeRecentProject> m_recentProjects;
    QString m_projectSelectionNotice;
    bool m_projectOpening = false;
    Job m_projectOpenTask;
    qint64 m_projectSelectionGeneration = 0;
    ToolTargets m_activeTools;
    QString m_selectedSkipID;
    NativeLive m_live;
    std::shared_ptr<NativeProjectHands> m_hands;
    QString m_handsID;
    QList<WorkspaceEvent> m_events;
    EventProjection m_eventProjection;
    qint64 m_pendingInputGeneration = 0;
    QDateTime m_nextPendingRefresh;
    eventmerge::EventIdRing m_mergedEventIDs;
    std::optional<QString> m_teamRevision;
    UsageByAgent m_usageByAgent;
    std::optional<NativeLedgerUsage> m_persistedWorkspaceUsage;
    std::optional<NativeLedgerUsage> m_persistedSessionUsage;
    bool m_persistedSessionUsagePending = true;
    qint64 m_ledgerGeneration = 0;
    QDateTime m_nextLedgerRefresh;
    Job m_ledgerTask;
    QHash<QString, ProjectAnswer> m_projectAnswers;
    QHash<QString, ProjectCallTombstone> m_projectCallTombstones;
    QSet<QString> m_projectCallsInFlight;
    qint64 m_headlessFrameCount = 0;
    HeadlessTurnProgress m_headlessTurnProgress;
    bool m_captureCredentialsOnly = false;
    QString m_message;
    QString m_prompt;
    QString m_document;
    std::optional<QString> m_token;
    std::optional<QString> m_identityToken;
    bool m_controlInFlight = false;
    QSet<QString> m_answeredApprovalIDs;
    // The input requests of the session this client has answered. The platform's pending list may
    // still name one for a while after the reply was recorded; a refresh must not bring it back.
    QSet<QString> m_answeredInputRequestIDs;
    QString m_browserHolder;
    bool m_browserSessionPresent = false;
    bool m_operatorPaused = false;
    bool m_closingSession = false;
    std::optional<QString> m_activeSessionID;
    std::optional<QString> m_cleanupFailure;
    Job m_cleanupTask;
    qint64 m_activeInvocations = 0;
    QString m_sessionID;
    bool m_running = false;
    NativePresence m_presence;
    bool m_selectedProfile = false;
    QString m_selectedDocumentTab;
    QString m_expandedInspector;
    QImage m_renderedActivity;
    bool m_changesLoading = false;
    bool m_changesShuttingDown = false;
    qint64 m_changesGeneration = 0;
    Job m_changesReadTask;
    QList<NativeChangeFile> m_changeFiles;
    bool m_changesTruncated = false;
    std::optional<QString> m_selectedChangePath;
    QString m_selectedChangeDiff;
    std::optional<NativeASTResult> m_selectedChangeAST;
    QString m_changesError;
    QUrl m_documentURL;
    QImage m_capturedPDF;
    QImage m_capturedBrowser;
    // Moves with every turn's start, stop and session close: a turn's start that finds it moved
    // during its preparation goes no further.
    qint64 m_generation = 0;
    bool m_requestInFlight = false;
    QDateTime m_connectedAt;
    // The journal problem last shown: one that recurs on every pass is shown once, not again over
    // whatever the status line says since.
    QString m_shownJournalProblem;
    CognitoLogin m_login;
    HubClock m_clock;
    // Tells a finished ledger task whether the task in ledgerTask is still its own.
    quint64 m_ledgerTaskSerial = 0;
    bool m_signingIn = false;
    std::shared_ptr<OpenPanels> m_panels;
    // The one refresh asked for while a read runs: the path to select, or none for the list alone.
    std::optional<std::optional<QString>> m_pendingChangesRefresh;
    // Counts document openings; a read applies only while it is the latest.
    qint64 m_documentOpenings = 0;

    HubActions *m_actions = nullptr; // a child: goes with the model
    KeyedListModel m_workspacesModel;
    KeyedListModel m_recentProjectsModel;
    KeyedListModel m_eventsModel;
    KeyedListModel m_approvalsModel;
    KeyedListModel m_inputRequestsModel;
    KeyedListModel m_positionsModel;
    KeyedListModel m_responsesModel;
    KeyedListModel m_specialistsModel;
    KeyedListModel m_activeToolsModel;
    KeyedListModel m_changeFilesModel;
    TurnSummary m_turn;
    NativePresence m_shownPresence;
};
