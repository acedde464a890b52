#include "ui/HeaderPresenter.h"

#include "session/HubModel.h"
#include "ui/LandingPresenter.h"

namespace
{
const QString kDot = QStringLiteral(" \u00B7 ");
} // namespace

HeaderView headerView(const HeaderInputs &in)
{
    HeaderView v;
    v.profileText = in.displayProfile;
    v.profileEnabled = !in.closingSession;

    v.workspaceMenuText = in.tenantName.isEmpty() ? QStringLiteral("Local workspace") : in.tenantName + kDot + in.role;
    v.workspaceMenuEnabled = in.controlsConnected && !in.closingSession && !in.controlInFlight;
    for (const NativeLive::Workspace &workspace : in.workspaces) {
        v.workspaceTitles.append(workspace.tenantName + kDot + workspace.role);
        v.workspaceIDs.append(workspace.tenantId);
    }
    v.planShown = !in.planName.isEmpty();
    v.planText = in.planName;

    v.workspaceLedgerText = in.workspaceLedgerLabel;
    v.sessionLedgerText = in.sessionLedgerLabel;
    v.ledgerHelp = in.workspaceLedgerLabel + QLatin1Char('\n') + in.sessionLedgerLabel +
                   QStringLiteral("\nPersisted usage for this workspace and project session. Unconfirmed requests "
                                  "are not counted as zero.");
    v.refreshEnabled = in.controlsConnected && !in.closingSession && !in.ledgerRefreshRunning;

    v.costText = in.persistedCostLabel;
    v.unattributedShown = in.unattributedLedgerLabel.has_value();
    v.unattributedText = in.unattributedLedgerLabel.value_or(QString());
    v.costHelp = QStringLiteral("Persisted records; unattributed usage is never assigned to specialists. ") +
                 in.sessionTokenLabel;

    v.revisionShown = in.teamRevision.has_value();
    if (in.teamRevision) {
        v.revisionText = QStringLiteral("Tavrilo team \u00B7 ") + in.teamRevision->left(12);
        v.revisionHelp = *in.teamRevision;
    }

    v.connectionText = connectionText(in.cloudConnected);
    v.connectionDotColor = connectionDotColor(in.cloudConnected);
    v.accountText = in.signedIn ? QStringLiteral("Account") : QStringLiteral("Sign in");
    v.accountEnabled = in.hasConfiguration && !in.closingSession;
    return v;
}

HeaderInputs headerInputs(const HubModel &model)
{
    HeaderInputs in;
    in.displayProfile = model.displayProfile();
    in.closingSession = model.closingSession();
    in.controlsConnected = model.controlsConnected();
    in.controlInFlight = model.controlInFlight();
    in.workspaces = model.workspaces();
    in.tenantName = model.tenantName();
    in.role = model.role();
    in.planName = model.planName();
    in.workspaceLedgerLabel = model.workspaceLedgerLabel();
    in.sessionLedgerLabel = model.sessionLedgerLabel();
    in.ledgerRefreshRunning = model.ledgerTask().isValid();
    in.persistedCostLabel = model.persistedCostLabel();
    in.unattributedLedgerLabel = model.unattributedLedgerLabel();
    in.sessionTokenLabel = model.sessionTokenLabel();
    in.teamRevision = model.teamRevision();
    in.cloudConnected = model.cloudConnected();
    in.signedIn = model.token().has_value();
    in.hasConfiguration = model.configuration().has_value();
    return in;
}

void HeaderPresenter::refresh()
{
    if (replace(m_view, model() ? headerView(headerInputs(*model())) : headerView({})))
        Q_EMIT viewChanged();
}
