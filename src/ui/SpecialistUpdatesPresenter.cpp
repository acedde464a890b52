#include "ui/SpecialistUpdatesPresenter.h"

#include "ui/AgentNames.h"

namespace
{
bool sectionExpanded(const QString &expandedInspector)
{
    return expandedInspector == QLatin1StringView("events");
}
} // namespace

namespace updaterules
{
QStringList shownAgents(const QStringList &responseOrder, const QString &expandedInspector)
{
    const qsizetype n = std::min<qsizetype>(responseOrder.size(), sectionExpanded(expandedInspector) ? 3 : 1);
    QStringList agents;
    for (qsizetype i = responseOrder.size() - 1; i >= responseOrder.size() - n; --i)
        agents.append(responseOrder[i]);
    return agents;
}

SpecialistUpdate update(const EventProjection &projection, const QString &agent,
                        const QSet<QString> &expandedResponseOwners)
{
    SpecialistUpdate update;
    update.agent = agent;
    update.displayName = agentnames::displayName(agent);
    const QString response = projection.responses.value(agent);
    update.showToggle = !response.isEmpty();
    update.expanded = expandedResponseOwners.contains(agent);
    const QString shortName = agentnames::shortName(agent);
    if (update.expanded) {
        update.toggleText = QStringLiteral("Collapse");
        update.accessibleName = QStringLiteral("Collapse %1 update").arg(shortName);
        update.accessibleValue = QStringLiteral("Expanded");
        update.body = response;
        update.bodyLineLimit = SpecialistUpdate::kNoLineLimit;
    } else {
        update.toggleText = QStringLiteral("Full update");
        update.accessibleName = QStringLiteral("Read full %1 update").arg(shortName);
        update.accessibleValue = QStringLiteral("Collapsed");
        update.body = projection.responseExcerpt(agent, SpecialistUpdate::kExcerptCharacters);
    }
    return update;
}
} // namespace updaterules

SpecialistUpdates specialistUpdates(const EventProjection &projection, const QString &expandedInspector,
                                    const QSet<QString> &expandedResponseOwners)
{
    SpecialistUpdates block;
    block.visible = !projection.responseOrder.isEmpty();
    block.header = projection.evaluatorLabels.value(QStringLiteral("review-fidelity")) == QLatin1StringView("FAIL")
                       ? QStringLiteral("SPECIALIST UPDATES · UNVERIFIED CLAIMS")
                       : QStringLiteral("SPECIALIST UPDATES · ATTRIBUTED CLAIMS");
    for (const QString &agent : updaterules::shownAgents(projection.responseOrder, expandedInspector))
        block.updates.append(updaterules::update(projection, agent, expandedResponseOwners));
    return block;
}

bool thinkingOpen(std::optional<bool> thinkingOverride, const QString &expandedInspector)
{
    return thinkingOverride.value_or(sectionExpanded(expandedInspector));
}

ThinkingDisclosure thinkingDisclosure(qsizetype reasoningBlocks, std::optional<bool> thinkingOverride,
                                      const QString &expandedInspector, bool offscreenExport)
{
    ThinkingDisclosure disclosure;
    disclosure.open = thinkingOpen(thinkingOverride, expandedInspector);
    disclosure.chevronSymbol = disclosure.open ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right");
    disclosure.caption = reasoningBlocks == 0 ? QStringLiteral("No reasoning blocks")
                                              : QStringLiteral("%1 typed blocks").arg(reasoningBlocks) +
                                                    (offscreenExport ? QStringLiteral(" · captured excerpt")
                                                                     : QStringLiteral(" · scroll to read"));
    disclosure.overrideOnPress = !disclosure.open;
    disclosure.showEmptyText = disclosure.open && reasoningBlocks == 0;
    disclosure.showReasoning = disclosure.open && reasoningBlocks > 0;
    disclosure.viewportHeightFixed = offscreenExport;
    return disclosure;
}
