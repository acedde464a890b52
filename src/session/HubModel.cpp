#include "session/HubModel.h"

#include "cloud/HubNetwork.h"
#include "session/HubActions.h"
#include "session/ListRows.h"

#include <QUuid>

#include <initializer_list>

HubModel::HubModel(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_live(std::move(dependencies.realtime)), m_handsID(newHandsID()),
      m_nextPendingRefresh(distantPast()), m_nextLedgerRefresh(distantPast()),
      m_message(QStringLiteral("Configure application identity to begin.")), m_browserHolder(QStringLiteral("agent")),
      m_sessionID(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()),
      m_selectedDocumentTab(QStringLiteral("Research")),
      m_login(std::move(dependencies.keyring), std::move(dependencies.webSessions), HubNetwork::shared().session()),
      m_clock(dependencies.clock.completed()), m_panels(std::move(dependencies.panels)),
      m_actions(new HubActions(this)), m_workspacesModel(listrows::kWorkspaceRoles),
      m_recentProjectsModel(listrows::kRecentProjectRoles), m_eventsModel(listrows::kEventRoles),
      m_approvalsModel(listrows::kApprovalRoles), m_inputRequestsModel(listrows::kInputRequestRoles),
      m_positionsModel(listrows::kPositionRoles), m_responsesModel(listrows::kResponseRoles),
      m_specialistsModel(listrows::kSpecialistRoles), m_activeToolsModel(listrows::kToolRoles),
      m_changeFilesModel(listrows::kChangeFileRoles)
{
    m_connectedAt = m_clock.now();
    announceDerivedValues();
    followListValues();
}

HubModel::~HubModel() = default;

QString HubModel::newHandsID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

QDateTime HubModel::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

void HubModel::announceDerivedValues()
{
    using Signal = void (HubModel::*)();
    const auto follow = [this](Signal derived, std::initializer_list<Signal> inputs) {
        for (const Signal input : inputs)
            connect(this, input, this, derived);
    };
    follow(&HubModel::displayProfileChanged, {&HubModel::configurationChanged});
    follow(&HubModel::controlsConnectedChanged, {&HubModel::identityTokenChanged, &HubModel::configurationChanged});
    follow(&HubModel::cloudConnectedChanged, {&HubModel::identityTokenChanged, &HubModel::configurationChanged});
    follow(&HubModel::canRunChanged,
           {&HubModel::tokenChanged, &HubModel::identityTokenChanged, &HubModel::configurationChanged,
            &HubModel::runningChanged, &HubModel::closingSessionChanged, &HubModel::promptChanged});
    follow(&HubModel::activeSpecialistsChanged, {&HubModel::runningChanged, &HubModel::presenceChanged});
    follow(&HubModel::sessionTokenLabelChanged, {&HubModel::usageByAgentChanged});
    follow(&HubModel::skipTargetChanged, {&HubModel::activeToolsChanged, &HubModel::selectedSkipIDChanged});
    follow(&HubModel::hasOwnedCleanupChanged,
           {&HubModel::activeSessionIDChanged, &HubModel::projectOpeningChanged, &HubModel::changesReadTaskChanged,
            &HubModel::changesLoadingChanged, &HubModel::ledgerTaskChanged, &HubModel::closingSessionChanged});
    follow(&HubModel::ledgerLabelsChanged,
           {&HubModel::identityTokenChanged, &HubModel::configurationChanged, &HubModel::persistedWorkspaceUsageChanged,
            &HubModel::persistedSessionUsageChanged, &HubModel::persistedSessionUsagePendingChanged});
}

QString HubModel::displayProfile() const
{
    return hubstatus::displayProfile(m_configuration);
}

bool HubModel::cloudConnected() const
{
    return hubstatus::cloudConnected(m_identityToken, m_configuration);
}

bool HubModel::controlsConnected() const
{
    return hubstatus::controlsConnected(m_identityToken, m_configuration);
}

bool HubModel::canRun() const
{
    return hubstatus::canRun({m_token, m_identityToken, m_configuration, m_running, m_closingSession, m_prompt});
}

QStringList HubModel::activeSpecialists() const
{
    return hubstatus::activeSpecialists(m_running, m_presence.working, NativePresence::roles());
}

QString HubModel::usageLabel(const QString &agent) const
{
    return hubstatus::usageLabel(m_usageByAgent, agent);
}

QString HubModel::sessionTokenLabel() const
{
    return hubstatus::sessionTokenLabel(m_usageByAgent);
}

QString HubModel::headlessTransportDiagnostic() const
{
    return hubstatus::transportDiagnostic({m_live.observedMessages(), m_live.observedDeliveries(),
                                           m_live.acceptedFrames(), m_live.rejectedIdentities(), m_live.reconnects()});
}

std::optional<ToolTarget> HubModel::skipTarget() const
{
    return hubstatus::skipTarget(m_activeTools, m_selectedSkipID);
}

bool HubModel::hasOwnedCleanup() const
{
    return hubstatus::hasOwnedCleanup({
        .activeSession = m_activeSessionID.has_value(),
        .projectOpenTask = m_projectOpenTask.isValid(),
        .projectOpening = m_projectOpening,
        .changesReadTask = m_changesReadTask.isValid(),
        .changesLoading = m_changesLoading,
        .ledgerTask = m_ledgerTask.isValid(),
        .cleanupTask = m_cleanupTask.isValid(),
        .closingSession = m_closingSession,
    });
}

void HubModel::clearChanges()
{
    advanceChangesGeneration();
    setChangeFiles({});
    setSelectedChangePath(std::nullopt);
    setSelectedChangeDiff({});
    setSelectedChangeAST(std::nullopt);
    setChangesError({});
    setChangesTruncated(false);
}
