// The setters of the model's stored values. Which of the two rules a setter follows is the
// property's: values with equality announce only a change, the rest every assignment.
#include "session/HubModel.h"

#include "core/PropertyNotify.h"
#include "session/ListRows.h"

void HubModel::setLayout(std::optional<HubLayout> layout)
{
    assignAndAnnounce(m_layout, std::move(layout), this, &HubModel::layoutChanged);
}

void HubModel::setConfiguration(std::optional<HubConfiguration> configuration)
{
    assignAndAnnounce(m_configuration, std::move(configuration), this, &HubModel::configurationChanged);
}

void HubModel::setLog(std::shared_ptr<WorkspaceLog> log)
{
    assignAndAnnounce(m_log, std::move(log), this, &HubModel::logChanged);
}

void HubModel::setWorkspaces(QList<NativeLive::Workspace> workspaces)
{
    assignAndAnnounce(m_workspaces, std::move(workspaces), this, &HubModel::workspacesChanged);
}

void HubModel::setTenantName(QString tenantName)
{
    setIfChanged(m_tenantName, std::move(tenantName), this, &HubModel::tenantNameChanged);
}

void HubModel::setRole(QString role)
{
    setIfChanged(m_role, std::move(role), this, &HubModel::roleChanged);
}

void HubModel::setPlanName(QString planName)
{
    setIfChanged(m_planName, std::move(planName), this, &HubModel::planNameChanged);
}

void HubModel::setUserID(QString userID)
{
    setIfChanged(m_userID, std::move(userID), this, &HubModel::userIDChanged);
}

void HubModel::setToken(std::optional<QString> token)
{
    setIfChanged(m_token, std::move(token), this, &HubModel::tokenChanged);
}

void HubModel::setIdentityToken(std::optional<QString> identityToken)
{
    setIfChanged(m_identityToken, std::move(identityToken), this, &HubModel::identityTokenChanged);
}

void HubModel::setRecentProjects(QList<NativeRecentProject> recentProjects)
{
    assignAndAnnounce(m_recentProjects, std::move(recentProjects), this, &HubModel::recentProjectsChanged);
}

void HubModel::setProjectSelectionNotice(QString notice)
{
    setIfChanged(m_projectSelectionNotice, std::move(notice), this, &HubModel::projectSelectionNoticeChanged);
}

void HubModel::setProjectOpening(bool opening)
{
    setIfChanged(m_projectOpening, opening, this, &HubModel::projectOpeningChanged);
}

void HubModel::setEvents(QList<WorkspaceEvent> events)
{
    // Set whole (the headless export's journal): the strip is replaced whole as well.
    m_eventsModel.reset(listrows::events(events));
    assignAndAnnounce(m_events, std::move(events), this, &HubModel::eventsChanged);
}

void HubModel::setEventProjection(EventProjection projection)
{
    assignAndAnnounce(m_eventProjection, std::move(projection), this, &HubModel::eventProjectionChanged);
}

void HubModel::advancePendingInputGeneration()
{
    setIfChanged(m_pendingInputGeneration, m_pendingInputGeneration + 1, this,
                 &HubModel::pendingInputGenerationChanged);
}

void HubModel::setTeamRevision(std::optional<QString> revision)
{
    setIfChanged(m_teamRevision, std::move(revision), this, &HubModel::teamRevisionChanged);
}

void HubModel::setUsageByAgent(UsageByAgent usage)
{
    assignAndAnnounce(m_usageByAgent, std::move(usage), this, &HubModel::usageByAgentChanged);
}

void HubModel::setPresence(NativePresence presence)
{
    assignAndAnnounce(m_presence, std::move(presence), this, &HubModel::presenceChanged);
}

void HubModel::setPersistedWorkspaceUsage(std::optional<NativeLedgerUsage> usage)
{
    assignAndAnnounce(m_persistedWorkspaceUsage, std::move(usage), this, &HubModel::persistedWorkspaceUsageChanged);
}

void HubModel::setPersistedSessionUsage(std::optional<NativeLedgerUsage> usage)
{
    assignAndAnnounce(m_persistedSessionUsage, std::move(usage), this, &HubModel::persistedSessionUsageChanged);
}

void HubModel::setPersistedSessionUsagePending(bool pending)
{
    setIfChanged(m_persistedSessionUsagePending, pending, this, &HubModel::persistedSessionUsagePendingChanged);
}

void HubModel::advanceLedgerGeneration()
{
    setIfChanged(m_ledgerGeneration, m_ledgerGeneration + 1, this, &HubModel::ledgerGenerationChanged);
}

void HubModel::setNextLedgerRefresh(QDateTime time)
{
    setIfChanged(m_nextLedgerRefresh, std::move(time), this, &HubModel::nextLedgerRefreshChanged);
}

void HubModel::setLedgerTask(Job task)
{
    setIfChanged(m_ledgerTask, std::move(task), this, &HubModel::ledgerTaskChanged);
}

void HubModel::setHeadlessFrameCount(qint64 count)
{
    setIfChanged(m_headlessFrameCount, count, this, &HubModel::headlessFrameCountChanged);
}

void HubModel::setHeadlessTurnProgress(HeadlessTurnProgress progress)
{
    assignAndAnnounce(m_headlessTurnProgress, std::move(progress), this, &HubModel::headlessTurnProgressChanged);
}

void HubModel::setRenderedActivity(QImage image)
{
    setIfChanged(m_renderedActivity, std::move(image), this, &HubModel::renderedActivityChanged);
}

void HubModel::setCapturedPDF(QImage image)
{
    setIfChanged(m_capturedPDF, std::move(image), this, &HubModel::capturedPDFChanged);
}

void HubModel::setCapturedBrowser(QImage image)
{
    setIfChanged(m_capturedBrowser, std::move(image), this, &HubModel::capturedBrowserChanged);
}

void HubModel::setMessage(QString message)
{
    setIfChanged(m_message, std::move(message), this, &HubModel::messageChanged);
}

void HubModel::setPrompt(QString prompt)
{
    setIfChanged(m_prompt, std::move(prompt), this, &HubModel::promptChanged);
}

void HubModel::setActiveTools(ToolTargets tools)
{
    assignAndAnnounce(m_activeTools, std::move(tools), this, &HubModel::activeToolsChanged);
}

void HubModel::setSelectedSkipID(QString id)
{
    setIfChanged(m_selectedSkipID, std::move(id), this, &HubModel::selectedSkipIDChanged);
}

void HubModel::setControlInFlight(bool inFlight)
{
    setIfChanged(m_controlInFlight, inFlight, this, &HubModel::controlInFlightChanged);
}

void HubModel::setAnsweredApprovalIDs(QSet<QString> ids)
{
    setIfChanged(m_answeredApprovalIDs, std::move(ids), this, &HubModel::answeredApprovalIDsChanged);
}

void HubModel::setBrowserHolder(QString holder)
{
    setIfChanged(m_browserHolder, std::move(holder), this, &HubModel::browserHolderChanged);
}

void HubModel::setBrowserSessionPresent(bool present)
{
    setIfChanged(m_browserSessionPresent, present, this, &HubModel::browserSessionPresentChanged);
}

void HubModel::setOperatorPaused(bool paused)
{
    setIfChanged(m_operatorPaused, paused, this, &HubModel::operatorPausedChanged);
}

void HubModel::setClosingSession(bool closing)
{
    setIfChanged(m_closingSession, closing, this, &HubModel::closingSessionChanged);
}

void HubModel::setActiveSessionID(std::optional<QString> id)
{
    setIfChanged(m_activeSessionID, std::move(id), this, &HubModel::activeSessionIDChanged);
}

void HubModel::setCleanupFailure(std::optional<QString> failure)
{
    setIfChanged(m_cleanupFailure, std::move(failure), this, &HubModel::cleanupFailureChanged);
}

void HubModel::setSessionID(QString id)
{
    setIfChanged(m_sessionID, std::move(id), this, &HubModel::sessionIDChanged);
}

void HubModel::setRunning(bool running)
{
    setIfChanged(m_running, running, this, &HubModel::runningChanged);
}

void HubModel::setSelectedProfile(bool selected)
{
    setIfChanged(m_selectedProfile, selected, this, &HubModel::selectedProfileChanged);
}

void HubModel::setSelectedDocumentTab(QString tab)
{
    setIfChanged(m_selectedDocumentTab, std::move(tab), this, &HubModel::selectedDocumentTabChanged);
}

void HubModel::setExpandedInspector(QString section)
{
    setIfChanged(m_expandedInspector, std::move(section), this, &HubModel::expandedInspectorChanged);
}

void HubModel::setDocument(QString document)
{
    setIfChanged(m_document, std::move(document), this, &HubModel::documentChanged);
}

void HubModel::setDocumentURL(QUrl url)
{
    setIfChanged(m_documentURL, std::move(url), this, &HubModel::documentURLChanged);
}

void HubModel::setChangesLoading(bool loading)
{
    setIfChanged(m_changesLoading, loading, this, &HubModel::changesLoadingChanged);
}

void HubModel::setChangesShuttingDown(bool shuttingDown)
{
    setIfChanged(m_changesShuttingDown, shuttingDown, this, &HubModel::changesShuttingDownChanged);
}

void HubModel::advanceChangesGeneration()
{
    setIfChanged(m_changesGeneration, m_changesGeneration + 1, this, &HubModel::changesGenerationChanged);
}

void HubModel::setChangesReadTask(Job task)
{
    setIfChanged(m_changesReadTask, std::move(task), this, &HubModel::changesReadTaskChanged);
}

void HubModel::setChangeFiles(QList<NativeChangeFile> files)
{
    assignAndAnnounce(m_changeFiles, std::move(files), this, &HubModel::changeFilesChanged);
}

void HubModel::setChangesTruncated(bool truncated)
{
    setIfChanged(m_changesTruncated, truncated, this, &HubModel::changesTruncatedChanged);
}

void HubModel::setSelectedChangePath(std::optional<QString> path)
{
    setIfChanged(m_selectedChangePath, std::move(path), this, &HubModel::selectedChangePathChanged);
}

void HubModel::setSelectedChangeDiff(QString diff)
{
    setIfChanged(m_selectedChangeDiff, std::move(diff), this, &HubModel::selectedChangeDiffChanged);
}

void HubModel::setSelectedChangeAST(std::optional<NativeASTResult> ast)
{
    assignAndAnnounce(m_selectedChangeAST, std::move(ast), this, &HubModel::selectedChangeASTChanged);
}

void HubModel::setChangesError(QString error)
{
    setIfChanged(m_changesError, std::move(error), this, &HubModel::changesErrorChanged);
}
