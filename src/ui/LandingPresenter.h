#pragma once

#include "cloud/NativeLive.h"
#include "project/NativeProjects.h"

#include "ui/ModelFollower.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the landing selector shows and allows, as one value worked out from the model's values and
// the view's own repository toggle. The view binds to it and lays out; it decides nothing.
struct LandingInputs
{
    bool controlsConnected = false;
    bool cloudConnected = false;
    QString displayProfile;
    // The configured project root; none before a configuration exists.
    std::optional<QString> configurationRoot;
    bool running = false;
    bool closingSession = false;
    bool projectOpening = false;
    bool controlInFlight = false;
    QString tenantName;
    QString role;
    QString planName;
    QList<NativeLive::Workspace> workspaces;
    QList<NativeRecentProject> recentProjects;
    QString projectSelectionNotice;
    std::optional<QString> cleanupFailure;
    QString message;
    // View state: the repository entry form is asked for.
    bool showingRepository = false;
    // The width of the padded landing column, which the summary panel needs 1200 points of.
    double columnWidth = 0;
};

struct LandingView
{
    Q_GADGET
    QML_VALUE_TYPE(landingView)
    Q_PROPERTY(QString connectionText MEMBER connectionText)
    Q_PROPERTY(QColor connectionDotColor MEMBER connectionDotColor)

    Q_PROPERTY(bool projectCardEnabled MEMBER projectCardEnabled)
    Q_PROPERTY(QString projectName MEMBER projectName)
    Q_PROPERTY(QString projectDetail MEMBER projectDetail)
    Q_PROPERTY(QString projectCardAccessibleName MEMBER projectCardAccessibleName)

    Q_PROPERTY(QString signInText MEMBER signInText)
    Q_PROPERTY(bool signInEnabled MEMBER signInEnabled)
    Q_PROPERTY(bool chooseProjectEnabled MEMBER chooseProjectEnabled)
    Q_PROPERTY(QString chooseProjectHelp MEMBER chooseProjectHelp)
    Q_PROPERTY(bool projectLockedShown MEMBER projectLockedShown)
    Q_PROPERTY(bool repositoryToggleShown MEMBER repositoryToggleShown)
    Q_PROPERTY(QString repositoryToggleText MEMBER repositoryToggleText)
    Q_PROPERTY(bool repositoryToggleEnabled MEMBER repositoryToggleEnabled)
    Q_PROPERTY(bool workspaceMenuShown MEMBER workspaceMenuShown)
    Q_PROPERTY(QString workspaceMenuText MEMBER workspaceMenuText)
    Q_PROPERTY(bool workspaceMenuEnabled MEMBER workspaceMenuEnabled)
    Q_PROPERTY(QStringList workspaceTitles MEMBER workspaceTitles)
    Q_PROPERTY(QStringList workspaceIDs MEMBER workspaceIDs)
    Q_PROPERTY(QString membershipText MEMBER membershipText)

    Q_PROPERTY(bool identityShown MEMBER identityShown)
    Q_PROPERTY(QString identityName MEMBER identityName)
    Q_PROPERTY(QStringList identityDetails MEMBER identityDetails)
    Q_PROPERTY(QString identityAccessibleName MEMBER identityAccessibleName)
    Q_PROPERTY(bool recentMenuShown MEMBER recentMenuShown)
    Q_PROPERTY(QString recentMenuText MEMBER recentMenuText)
    Q_PROPERTY(bool recentMenuEnabled MEMBER recentMenuEnabled)
    Q_PROPERTY(QString recentMenuHelp MEMBER recentMenuHelp)
    Q_PROPERTY(QStringList recentTitles MEMBER recentTitles)
    Q_PROPERTY(QStringList recentDirectories MEMBER recentDirectories)

    Q_PROPERTY(bool repositoryFormShown MEMBER repositoryFormShown)
    Q_PROPERTY(bool repositoryFormEnabled MEMBER repositoryFormEnabled)
    Q_PROPERTY(QString repositoryButtonText MEMBER repositoryButtonText)

    Q_PROPERTY(bool noticeShown MEMBER noticeShown)
    Q_PROPERTY(QString noticeText MEMBER noticeText)
    Q_PROPERTY(QString statusText MEMBER statusText)
    Q_PROPERTY(QColor statusColor MEMBER statusColor)
    Q_PROPERTY(QString statusAccessibleName MEMBER statusAccessibleName)

    Q_PROPERTY(bool summaryShown MEMBER summaryShown)
    Q_PROPERTY(QString summaryTitle MEMBER summaryTitle)
    Q_PROPERTY(QString folderFact MEMBER folderFact)
    Q_PROPERTY(QString workspaceFact MEMBER workspaceFact)
    Q_PROPERTY(bool accessFactShown MEMBER accessFactShown)
    Q_PROPERTY(QString accessFact MEMBER accessFact)
    Q_PROPERTY(QString footerText MEMBER footerText)

public:
    friend bool operator==(const LandingView &, const LandingView &) = default;

    // The signed-in capsule, shared with the header.
    QString connectionText;
    QColor connectionDotColor;

    // The project card: the configured project, entered as it is.
    bool projectCardEnabled = false;
    QString projectName; // verbatim; also the card's tooltip
    QString projectDetail;
    QString projectCardAccessibleName;

    // The action row.
    QString signInText;
    bool signInEnabled = false;
    bool chooseProjectEnabled = false;
    QString chooseProjectHelp;
    bool projectLockedShown = false;
    bool repositoryToggleShown = false;
    QString repositoryToggleText;
    bool repositoryToggleEnabled = false;
    bool workspaceMenuShown = false;
    QString workspaceMenuText;
    bool workspaceMenuEnabled = false;
    QStringList workspaceTitles; // one per workspace, in the model's order
    QStringList workspaceIDs;    // the tenant ids of the same entries
    QString membershipText;

    // Signed-in rows.
    bool identityShown = false;
    QString identityName;           // the workspace name, in medium weight
    QStringList identityDetails;    // the role and the plan, each when known
    QString identityAccessibleName; // the line as one element: its texts in order
    bool recentMenuShown = false;
    QString recentMenuText;
    bool recentMenuEnabled = false;
    QString recentMenuHelp;
    QStringList recentTitles;      // "name · /full/path", newest first
    QStringList recentDirectories; // the full paths: each entry's tooltip and identity

    bool repositoryFormShown = false;
    bool repositoryFormEnabled = false;
    QString repositoryButtonText;

    bool noticeShown = false;
    QString noticeText;
    QString statusText;
    QColor statusColor;
    QString statusAccessibleName;

    // The selection summary panel of wide windows.
    bool summaryShown = false;
    QString summaryTitle;
    QString folderFact;
    QString workspaceFact;
    bool accessFactShown = false;
    QString accessFact;
    QString footerText;
};

// From this width of the padded landing column on, the summary panel is shown.
inline constexpr double kSummaryMinimumWidth = 1200;

LandingView landingView(const LandingInputs &in);
// The model's values as the landing selector reads them.
LandingInputs landingInputs(const HubModel &model, bool showingRepository, double columnWidth);

// "Signed in" with a selected workspace, else "Sign in required".
QString connectionText(bool cloudConnected);
// Green when signed in to a workspace, else the system orange at 75 % opacity.
QColor connectionDotColor(bool cloudConnected);

// The window's LandingView, followed from the model: `LandingPresenter { model: root.model }` and
// `text: presenter.view.someText`.
class LandingPresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    // View state: the repository form is asked for.
    Q_PROPERTY(bool showingRepository READ showingRepository WRITE setShowingRepository NOTIFY showingRepositoryChanged)
    // The width of the padded landing column.
    Q_PROPERTY(double columnWidth READ columnWidth WRITE setColumnWidth NOTIFY columnWidthChanged)
    Q_PROPERTY(LandingView view READ view NOTIFY viewChanged)

public:
    using ModelFollower::ModelFollower;

    bool showingRepository() const { return m_showingRepository; }
    void setShowingRepository(bool showing);
    double columnWidth() const { return m_columnWidth; }
    void setColumnWidth(double width);
    const LandingView &view() const { return m_view; }

Q_SIGNALS:
    void showingRepositoryChanged();
    void columnWidthChanged();
    void viewChanged();

protected:
    void refresh() override;

private:
    bool m_showingRepository = false;
    double m_columnWidth = 0;
    LandingView m_view = landingView({});
};
