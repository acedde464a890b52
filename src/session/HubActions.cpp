#include "session/HubActions.h"

#include "core/async/Spawn.h"
#include "session/HubModel.h"

#include <QScopeGuard>

namespace
{
// The text a form value is sent as: the schema check reads booleans and numbers from their text.
QString formText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}
} // namespace

HubActions::HubActions(HubModel *model) : QObject(model), m_model(model) {}

void HubActions::spawnOnModel(QCoro::Task<void> task)
{
    HubModel *model = m_model.data();
    spawn(model, std::move(task), [model](QString sentence) { model->setMessage(std::move(sentence)); });
}

void HubActions::signIn()
{
    if (m_model)
        spawnOnModel(m_model->signIn());
}

void HubActions::selectWorkspace(const QString &tenantId)
{
    if (!m_model)
        return;
    for (const NativeLive::Workspace &workspace : m_model->workspaces())
        if (workspace.tenantId == tenantId) {
            spawnOnModel(m_model->selectWorkspace(workspace));
            return;
        }
}

void HubActions::selectExistingProfile()
{
    if (m_model)
        m_model->selectExistingProfile();
}

void HubActions::returnToProfiles()
{
    if (m_model)
        spawnOnModel(m_model->returnToProfiles());
}

void HubActions::chooseProject()
{
    if (m_model)
        spawnOnModel(m_model->chooseProject());
}

void HubActions::selectRecentProject(const QString &directory)
{
    if (!m_model)
        return;
    for (const NativeRecentProject &project : m_model->recentProjects())
        if (project.directory == directory) {
            spawnOnModel(m_model->selectRecentProject(project));
            return;
        }
}

void HubActions::openRepository(const QString &address, const QString &ref)
{
    if (m_model)
        spawnOnModel(m_model->openRepository(address, ref));
}

void HubActions::openDocument()
{
    if (m_model)
        spawnOnModel(m_model->openDocument());
}

void HubActions::refreshChanges(const QVariant &path)
{
    if (m_model)
        spawnOnModel(
            m_model->refreshChanges(path.isValid() && !path.isNull() ? std::optional(path.toString()) : std::nullopt));
}

void HubActions::refreshLedger()
{
    if (m_model)
        m_model->beginLedgerRefresh(true);
}

void HubActions::execute()
{
    if (m_model)
        spawnOnModel(m_model->execute());
}

void HubActions::interrupt()
{
    if (m_model)
        spawnOnModel(m_model->interrupt());
}

void HubActions::skipActiveStep()
{
    if (m_model)
        spawnOnModel(m_model->skipActiveStep());
}

void HubActions::pause()
{
    if (m_model)
        spawnOnModel(
            m_model->sendControl(NativeControls::Command::runState(m_model->sessionID(), QStringLiteral("paused"))));
}

void HubActions::resume()
{
    if (m_model)
        spawnOnModel(
            m_model->sendControl(NativeControls::Command::runState(m_model->sessionID(), QStringLiteral("running"))));
}

void HubActions::interject(const QString &text)
{
    if (m_model)
        spawnOnModel(interjecting(text));
}

QCoro::Task<void> HubActions::interjecting(QString text)
{
    QPointer self(this);
    // However the send ends; a failure then reaches the status line through spawn.
    const auto ended = qScopeGuard([self] {
        if (self)
            Q_EMIT self->interjectionEnded();
    });
    co_await m_model->sendControl(NativeControls::Command::interject(m_model->sessionID(), text));
}

void HubActions::setBrowserHolder(const QString &holder)
{
    if (m_model)
        spawnOnModel(m_model->sendControl(NativeControls::Command::browser(m_model->sessionID(), holder)));
}

void HubActions::stop()
{
    if (m_model)
        spawnOnModel(m_model->sendControl(NativeControls::Command::stop(m_model->sessionID())));
}

void HubActions::answerApproval(const QString &approvalID, const QString &decision)
{
    if (!m_model)
        return;
    const QList<EventProjection::Approval> &shown = m_model->eventProjection().approvals;
    const auto it = std::find_if(shown.begin(), shown.end(),
                                 [&](const EventProjection::Approval &a) { return a.id == approvalID; });
    // An approval no longer shown is answered as an empty record, which the model refuses as stale.
    spawnOnModel(m_model->answerApproval(it == shown.end() ? EventProjection::Approval{} : *it, decision));
}

void HubActions::replyElicitation(const QString &requestID, const QString &action, const QVariantMap &content)
{
    if (!m_model)
        return;
    const QList<EventProjection::Elicitation> &shown = m_model->eventProjection().elicitations;
    const auto it = std::find_if(shown.begin(), shown.end(),
                                 [&](const EventProjection::Elicitation &r) { return r.requestID == requestID; });
    EventProjection::Elicitation request;
    if (it != shown.end())
        request = *it;
    else
        request.requestID = requestID; // the model refuses a request it no longer shows
    QMap<QString, QString> values;
    for (auto field = content.cbegin(); field != content.cend(); ++field)
        values.insert(field.key(), formText(field.value()));
    spawnOnModel(m_model->replyElicitation(std::move(request), action, std::move(values)));
}

void HubActions::openWorkspaceBrowser()
{
    if (m_model)
        spawnOnModel(m_model->openWorkspaceBrowser());
}

void HubActions::openWorkspaceShell()
{
    if (m_model)
        spawnOnModel(m_model->openWorkspaceShell());
}

void HubActions::closeSession()
{
    if (m_model)
        spawnOnModel(closing());
}

QCoro::Task<void> HubActions::closing()
{
    QPointer self(this);
    bool closed = true;
    try {
        co_await m_model->closeSession();
    } catch (const std::exception &) {
        // The model has written the failure to cleanupFailure and the status line.
        closed = false;
    }
    if (self)
        Q_EMIT sessionCloseEnded(closed);
}
