// What QML reads of the model: the lists the window shows, kept in step row by row, the turn
// summary and the optional values as variants.
#include "session/HubModel.h"

#include "core/PropertyNotify.h"
#include "session/ListRows.h"

namespace
{
template <typename T> QVariant optionalValue(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariantMap astChange(const NativeASTChange &change)
{
    QVariantList children;
    for (const NativeASTChange &child : change.children)
        children.append(astChange(child));
    return {{QStringLiteral("id"), change.id},
            {QStringLiteral("kind"), change.kind},
            {QStringLiteral("name"), change.name},
            {QStringLiteral("change"), change.change},
            {QStringLiteral("label"), change.label()},
            {QStringLiteral("beforeLine"), optionalValue(change.beforeLine)},
            {QStringLiteral("afterLine"), optionalValue(change.afterLine)},
            {QStringLiteral("children"), children}};
}
} // namespace

void HubModel::followListValues()
{
    connect(this, &HubModel::workspacesChanged, this,
            [this] { m_workspacesModel.sync(listrows::workspaces(m_workspaces)); });
    connect(this, &HubModel::recentProjectsChanged, this,
            [this] { m_recentProjectsModel.sync(listrows::recentProjects(m_recentProjects)); });
    connect(this, &HubModel::activeToolsChanged, this,
            [this] { m_activeToolsModel.sync(listrows::tools(m_activeTools)); });
    connect(this, &HubModel::changeFilesChanged, this,
            [this] { m_changeFilesModel.sync(listrows::changeFiles(m_changeFiles)); });
    connect(this, &HubModel::eventProjectionChanged, this, &HubModel::syncProjectionViews);
    connect(this, &HubModel::answeredApprovalIDsChanged, this,
            [this] { m_approvalsModel.sync(listrows::approvals(m_eventProjection.approvals, m_answeredApprovalIDs)); });
    connect(this, &HubModel::presenceChanged, this, [this] {
        if (!(m_shownPresence == m_presence)) {
            m_shownPresence = m_presence;
            Q_EMIT shownPresenceChanged();
        }
    });
    for (const auto signal : {&HubModel::usageByAgentChanged, &HubModel::activeSpecialistsChanged,
                              &HubModel::persistedSessionUsageChanged, &HubModel::ledgerLabelsChanged})
        connect(this, signal, this, &HubModel::syncSpecialists);
    syncSpecialists();
}

void HubModel::syncProjectionViews()
{
    m_approvalsModel.sync(listrows::approvals(m_eventProjection.approvals, m_answeredApprovalIDs));
    m_inputRequestsModel.sync(listrows::inputRequests(m_eventProjection.elicitations));
    m_positionsModel.sync(listrows::positions(m_eventProjection.positions));
    m_responsesModel.sync(listrows::responses(m_eventProjection));
    TurnSummary summary = TurnSummary::of(m_eventProjection);
    if (!(summary == m_turn)) {
        m_turn = std::move(summary);
        Q_EMIT turnChanged();
    }
}

void HubModel::syncSpecialists()
{
    const listrows::SpecialistFacts facts{
        [this](const QString &role) { return usageLabel(role); },
        [this](const QString &role) { return persistedAgentHelp(QStringLiteral("tavrilo_") + role.toLower()); }};
    m_specialistsModel.sync(
        listrows::specialists(NativePresence::roles(), m_presence.working, activeSpecialists(), facts));
}

QVariant HubModel::teamRevisionValue() const
{
    return optionalValue(m_teamRevision);
}

QVariant HubModel::activeSessionIDValue() const
{
    return optionalValue(m_activeSessionID);
}

QVariant HubModel::cleanupFailureValue() const
{
    return optionalValue(m_cleanupFailure);
}

QVariant HubModel::documentURLValue() const
{
    return m_documentURL.isEmpty() ? QVariant() : QVariant(m_documentURL);
}

QVariant HubModel::selectedChangePathValue() const
{
    return optionalValue(m_selectedChangePath);
}

QVariant HubModel::selectedChangeASTValue() const
{
    if (!m_selectedChangeAST)
        return {};
    const NativeASTResult &ast = *m_selectedChangeAST;
    QVariantList nodes;
    for (const NativeASTChange &node : ast.nodes.value_or(QList<NativeASTChange>()))
        nodes.append(astChange(node));
    return QVariantMap{{QStringLiteral("status"), ast.status},
                       {QStringLiteral("language"), optionalValue(ast.language)},
                       {QStringLiteral("scope"), optionalValue(ast.scope)},
                       {QStringLiteral("nodes"), ast.nodes ? QVariant(nodes) : QVariant()},
                       {QStringLiteral("reason"), optionalValue(ast.reason)}};
}

QVariant HubModel::skipTargetValue() const
{
    return optionalValue(skipTarget());
}

QVariant HubModel::unattributedLedgerLabelValue() const
{
    return optionalValue(unattributedLedgerLabel());
}

QVariant HubModel::pendingAttributionLabelValue() const
{
    return optionalValue(pendingAttributionLabel());
}
