#include "ui/LandingPresenter.h"

#include "session/HubModel.h"
#include "session/HubStatus.h"
#include "ui/Palette.h"

namespace
{
QString recentTitle(const QString &directory)
{
    return hubstatus::lastPathComponent(directory) + QStringLiteral(" \u00B7 ") + directory;
}
} // namespace

QString connectionText(bool cloudConnected)
{
    return cloudConnected ? QStringLiteral("Signed in") : QStringLiteral("Sign in required");
}

QColor connectionDotColor(bool cloudConnected)
{
    if (cloudConnected)
        return Palette::green();
    // The desktop's warning orange; the palette holds no orange of its own.
    QColor orange(0xFF, 0x95, 0x00);
    orange.setAlphaF(0.75F);
    return orange;
}

LandingView landingView(const LandingInputs &in)
{
    LandingView v;
    const bool connected = in.controlsConnected;
    // Changing what is open is held back by a turn, a closing session and an opening in progress.
    const bool projectBusy = in.running || in.closingSession || in.projectOpening;

    v.connectionText = connectionText(in.cloudConnected);
    v.connectionDotColor = connectionDotColor(in.cloudConnected);

    v.projectCardEnabled = !in.closingSession && !in.projectOpening;
    v.projectName = in.displayProfile;
    v.projectDetail = QStringLiteral("Existing local application \u00B7 ") +
                      (in.configurationRoot ? hubstatus::lastPathComponent(*in.configurationRoot)
                                            : QStringLiteral("local workspace"));
    v.projectCardAccessibleName = QStringLiteral("Open existing application ") + in.displayProfile;

    v.signInText = connected ? QStringLiteral("Refresh account") : QStringLiteral("Sign in");
    v.signInEnabled = in.configurationRoot.has_value() && !in.closingSession;
    v.chooseProjectEnabled = !projectBusy;
    v.chooseProjectHelp = in.running ? QStringLiteral("Finish the active run before changing projects.")
                                     : QStringLiteral("Choose a local project directory.");
    v.projectLockedShown = in.running;
    v.repositoryToggleShown = connected;
    v.repositoryToggleText =
        in.showingRepository ? QStringLiteral("Hide repository entry") : QStringLiteral("Open repository\u2026");
    v.repositoryToggleEnabled = !projectBusy;
    v.workspaceMenuShown = connected;
    v.workspaceMenuText = in.tenantName;
    v.workspaceMenuEnabled = !in.controlInFlight;
    for (const NativeLive::Workspace &workspace : in.workspaces) {
        v.workspaceTitles.append(workspace.tenantName);
        v.workspaceIDs.append(workspace.tenantId);
    }
    v.membershipText = connected ? QStringLiteral("Workspace membership verified by your account.")
                                 : QStringLiteral("Sign in to verify workspace membership.");

    v.identityShown = connected;
    v.identityName = in.tenantName;
    QStringList known;
    for (const QString &part : {in.role, in.planName}) {
        if (!part.isEmpty())
            known.append(part);
    }
    v.identityDetails = known;
    v.identityAccessibleName = (QStringList{in.tenantName} + known).join(QStringLiteral(", "));
    v.recentMenuShown = connected && !in.recentProjects.isEmpty();
    v.recentMenuText = QStringLiteral("Recent projects (%1)").arg(in.recentProjects.size());
    v.recentMenuEnabled = !projectBusy && !in.controlInFlight;
    v.recentMenuHelp = QStringLiteral("Projects previously opened by your account in this workspace.");
    for (const NativeRecentProject &project : in.recentProjects) {
        v.recentTitles.append(recentTitle(project.directory));
        v.recentDirectories.append(project.directory);
    }

    v.repositoryFormShown = in.showingRepository && connected;
    v.repositoryFormEnabled = !projectBusy;
    v.repositoryButtonText = in.projectOpening ? QStringLiteral("Opening repository\u2026")
                                               : QStringLiteral("Choose parent folder and open");

    v.noticeShown = !in.projectSelectionNotice.isEmpty();
    v.noticeText = in.projectSelectionNotice;
    // A failed clean-up outranks every later sentence: the user must retry it before anything else.
    v.statusText = in.cleanupFailure.value_or(in.message);
    v.statusColor = in.cleanupFailure ? Palette::error() : Palette::muted();
    v.statusAccessibleName = QStringLiteral("Workspace status: ") + v.statusText;

    v.summaryShown = in.columnWidth >= kSummaryMinimumWidth;
    v.summaryTitle = in.displayProfile;
    v.folderFact = in.configurationRoot.value_or(QStringLiteral("Choose a project folder"));
    v.workspaceFact = connected ? in.tenantName : QStringLiteral("Sign in to see your workspaces");
    v.accessFactShown = connected && !known.isEmpty();
    v.accessFact = known.join(QStringLiteral(" \u00B7 "));
    v.footerText = QStringLiteral("Linux \u00B7 Native workspace");
    return v;
}

LandingInputs landingInputs(const HubModel &model, bool showingRepository, double columnWidth)
{
    LandingInputs in;
    in.controlsConnected = model.controlsConnected();
    in.cloudConnected = model.cloudConnected();
    in.displayProfile = model.displayProfile();
    if (model.configuration())
        in.configurationRoot = model.configuration()->root;
    in.running = model.running();
    in.closingSession = model.closingSession();
    in.projectOpening = model.projectOpening();
    in.controlInFlight = model.controlInFlight();
    in.tenantName = model.tenantName();
    in.role = model.role();
    in.planName = model.planName();
    in.workspaces = model.workspaces();
    in.recentProjects = model.recentProjects();
    in.projectSelectionNotice = model.projectSelectionNotice();
    in.cleanupFailure = model.cleanupFailure();
    in.message = model.message();
    in.showingRepository = showingRepository;
    in.columnWidth = columnWidth;
    return in;
}

void LandingPresenter::refresh()
{
    if (replace(m_view,
                model() ? landingView(landingInputs(*model(), m_showingRepository, m_columnWidth)) : landingView({})))
        Q_EMIT viewChanged();
}

void LandingPresenter::setShowingRepository(bool showing)
{
    if (replace(m_showingRepository, showing)) {
        Q_EMIT showingRepositoryChanged();
        refresh();
    }
}

void LandingPresenter::setColumnWidth(double width)
{
    if (replace(m_columnWidth, width)) {
        Q_EMIT columnWidthChanged();
        refresh();
    }
}
