#pragma once

#include "ui/ApprovalCardPresenter.h"
#include "ui/EventsSectionPresenter.h"
#include "ui/HubViewState.h"
#include "ui/ModelFollower.h"
#include "ui/NativeJournalPresentation.h"
#include "ui/PositionsPresenter.h"
#include "ui/ReleaseChecksPresenter.h"
#include "ui/SpecialistUpdatesPresenter.h"

#include "session/KeyedListModel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// The reconciliation and gates section's values, followed from the model and the root view's state:
// `GatesPresenter { model: root.model; viewState: root.viewState }`. Each block's value is announced
// on its own signal and only when it differs, so a merged event re-lays out only the blocks whose
// content changed.
class GatesPresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(HubViewState *viewState READ viewState WRITE setViewState NOTIFY viewStateChanged)
    Q_PROPERTY(EventsSection section READ section NOTIFY sectionChanged)
    Q_PROPERTY(TurnStatus turnStatus READ turnStatus NOTIFY turnStatusChanged)
    Q_PROPERTY(PositionsBlock positions READ positions NOTIFY positionsChanged)
    Q_PROPERTY(SpecialistUpdates updates READ updates NOTIFY updatesChanged)
    // The shown positions and updates, one row each with the row gadget's fields as roles, keyed by
    // position id and by agent: a change reaches the view as the rows that changed.
    Q_PROPERTY(KeyedListModel *positionRows READ positionRows CONSTANT)
    Q_PROPERTY(KeyedListModel *updateRows READ updateRows CONSTANT)
    // The journal's newest rows by event id: each streamed event adds one and drops the oldest,
    // and a list set whole would build every row's items again for each event.
    Q_PROPERTY(KeyedListModel *journalRows READ journalRows CONSTANT)
    Q_PROPERTY(ThinkingDisclosure thinking READ thinking NOTIFY thinkingChanged)
    Q_PROPERTY(QVariantList approvals READ approvalValues NOTIFY approvalsChanged)
    Q_PROPERTY(JournalBlock journal READ journal NOTIFY journalChanged)
    Q_PROPERTY(ReleaseChecks releaseChecks READ releaseChecks NOTIFY releaseChecksChanged)
    // The reasoning text whole: read once when the body is made and again after `reasoningReset`;
    // in between the body appends what `reasoningAppended` brings.
    Q_PROPERTY(QString reasoningText READ reasoningText NOTIFY reasoningReset)

public:
    explicit GatesPresenter(QObject *parent = nullptr);

    HubViewState *viewState() const { return m_viewState; }
    void setViewState(HubViewState *state);

    const EventsSection &section() const { return m_section; }
    const TurnStatus &turnStatus() const { return m_turnStatus; }
    const PositionsBlock &positions() const { return m_positions; }
    const SpecialistUpdates &updates() const { return m_updates; }
    KeyedListModel *positionRows() const { return m_positionRows; }
    KeyedListModel *updateRows() const { return m_updateRows; }
    KeyedListModel *journalRows() const { return m_journalRows; }
    const ThinkingDisclosure &thinking() const { return m_thinking; }
    const QList<ApprovalCard> &approvals() const { return m_approvals; }
    QVariantList approvalValues() const;
    const JournalBlock &journal() const { return m_journal; }
    const ReleaseChecks &releaseChecks() const { return m_releaseChecks; }
    QString reasoningText() const { return m_reasoning.join(QString()); }

Q_SIGNALS:
    void viewStateChanged();
    void sectionChanged();
    void turnStatusChanged();
    void positionsChanged();
    void updatesChanged();
    void thinkingChanged();
    void approvalsChanged();
    void journalChanged();
    void releaseChecksChanged();
    // New reasoning blocks after those already shown, joined with nothing between them.
    void reasoningAppended(const QString &text);
    // The reasoning is no longer the shown text followed by more (a new turn): read it whole.
    void reasoningReset();

protected:
    void refresh() override;

private:
    void followReasoning(const QStringList &reasoning);

    QPointer<HubViewState> m_viewState;
    QList<QMetaObject::Connection> m_stateConnections;

    EventsSection m_section;
    TurnStatus m_turnStatus;
    PositionsBlock m_positions;
    SpecialistUpdates m_updates;
    KeyedListModel *m_positionRows;
    KeyedListModel *m_updateRows;
    KeyedListModel *m_journalRows;
    ThinkingDisclosure m_thinking;
    QList<ApprovalCard> m_approvals;
    JournalBlock m_journal;
    ReleaseChecks m_releaseChecks;
    QStringList m_reasoning;
};
