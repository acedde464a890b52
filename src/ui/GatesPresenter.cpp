#include "ui/GatesPresenter.h"

#include "ui/GadgetList.h"

#include <algorithm>

namespace
{
QSet<QString> setOf(const QStringList &list)
{
    return QSet<QString>(list.cbegin(), list.cend());
}

// The root view's state as the presenters take it; a section without one shows every disclosure at
// its initial value.
struct ViewFlags
{
    bool offscreenExport = false;
    std::optional<bool> thinkingOverride;
    bool expandedReviewReason = false;
    QSet<QString> approvalIDs;
    QSet<QString> positionOwners;
    QSet<QString> responseOwners;
};

ViewFlags flagsOf(const HubViewState *state)
{
    ViewFlags flags;
    if (!state)
        return flags;
    flags.offscreenExport = state->offscreenExport();
    if (state->thinkingOverride().isValid())
        flags.thinkingOverride = state->thinkingOverride().toBool();
    flags.expandedReviewReason = state->expandedReviewReason();
    flags.approvalIDs = setOf(state->expandedApprovalIDs());
    flags.positionOwners = setOf(state->expandedPositionOwners());
    flags.responseOwners = setOf(state->expandedResponseOwners());
    return flags;
}

template <typename Value> bool differs(Value &stored, Value value)
{
    if (stored == value)
        return false;
    stored = std::move(value);
    return true;
}
} // namespace

GatesPresenter::GatesPresenter(QObject *parent)
    : ModelFollower(parent),
      m_positionRows(new KeyedListModel(gadgetRoles<PositionRow>(), this)),
      m_updateRows(new KeyedListModel(gadgetRoles<SpecialistUpdate>(), this)),
      m_journalRows(new KeyedListModel(gadgetRoles<JournalRow>(), this))
{
}

void GatesPresenter::setViewState(HubViewState *state)
{
    if (m_viewState == state)
        return;
    for (const QMetaObject::Connection &connection : std::exchange(m_stateConnections, {}))
        disconnect(connection);
    m_viewState = state;
    if (state) {
        const auto follow = [this, state](auto signal) {
            m_stateConnections.append(connect(state, signal, this, &GatesPresenter::refresh));
        };
        follow(&HubViewState::offscreenExportChanged);
        follow(&HubViewState::thinkingOverrideChanged);
        follow(&HubViewState::expandedReviewReasonChanged);
        follow(&HubViewState::expandedApprovalIDsChanged);
        follow(&HubViewState::expandedPositionOwnersChanged);
        follow(&HubViewState::expandedResponseOwnersChanged);
        m_stateConnections.append(connect(state, &QObject::destroyed, this, [this] { setViewState(nullptr); }));
    }
    refresh();
    Q_EMIT viewStateChanged();
}

QVariantList GatesPresenter::approvalValues() const
{
    return gadgetList(m_approvals);
}

void GatesPresenter::refresh()
{
    static const EventProjection kNoProjection;
    static const QList<WorkspaceEvent> kNoEvents;
    const HubModel *m = model();
    const EventProjection &projection = m ? m->eventProjection() : kNoProjection;
    const QString inspector = m ? m->expandedInspector() : QString();
    const ViewFlags flags = flagsOf(m_viewState);

    const bool open = thinkingOpen(flags.thinkingOverride, inspector);
    if (differs(m_section,
                eventsSection(projection, m ? m->message() : QString(), m ? m->cleanupFailure() : std::nullopt, open)))
        Q_EMIT sectionChanged();
    if (differs(m_turnStatus, ::turnStatus(projection, flags.expandedReviewReason)))
        Q_EMIT turnStatusChanged();
    if (differs(m_positions, positionsBlock(projection.positions, inspector, flags.positionOwners))) {
        m_positionRows->sync(keyedRows(m_positions.rows, &PositionRow::id));
        Q_EMIT positionsChanged();
    }
    if (differs(m_updates, specialistUpdates(projection, inspector, flags.responseOwners))) {
        m_updateRows->sync(keyedRows(m_updates.updates, &SpecialistUpdate::agent));
        Q_EMIT updatesChanged();
    }
    if (differs(m_thinking, thinkingDisclosure(projection.reasoning.size(), flags.thinkingOverride, inspector,
                                               flags.offscreenExport)))
        Q_EMIT thinkingChanged();

    ApprovalControls controls;
    if (m)
        controls = {m->sessionID(), m->controlsConnected(), m->controlInFlight(), m->answeredApprovalIDs()};
    QList<ApprovalCard> cards;
    cards.reserve(projection.approvals.size());
    for (const EventProjection::Approval &approval : projection.approvals)
        cards.append(approvalCard(approval, controls, flags.approvalIDs.contains(approval.id), flags.offscreenExport));
    if (differs(m_approvals, std::move(cards)))
        Q_EMIT approvalsChanged();

    if (differs(m_journal, NativeJournalPresentation::block(m ? m->events() : kNoEvents))) {
        m_journalRows->sync(keyedRows(m_journal.rows, &JournalRow::id));
        Q_EMIT journalChanged();
    }
    if (differs(m_releaseChecks, ::releaseChecks(projection)))
        Q_EMIT releaseChecksChanged();
    followReasoning(projection.reasoning);
}

void GatesPresenter::followReasoning(const QStringList &reasoning)
{
    const qsizetype shown = m_reasoning.size();
    if (reasoning.size() == shown && reasoning == m_reasoning)
        return;
    const bool continues =
        reasoning.size() > shown && std::equal(m_reasoning.cbegin(), m_reasoning.cend(), reasoning.cbegin());
    m_reasoning = reasoning;
    if (continues)
        Q_EMIT reasoningAppended(QStringList(reasoning.mid(shown)).join(QString()));
    else
        Q_EMIT reasoningReset();
}
