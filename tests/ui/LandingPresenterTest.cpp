#include "ui/LandingPresenter.h"
#include "ui/Palette.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
const QString kRoot = QStringLiteral("/home/ada/Code/tavrilo-code");

NativeRecentProject recent(const char *directory)
{
    return NativeRecentProject{QString::fromUtf8(directory), QDateTime()};
}

// Signed out with a configuration, the repository form asked for, nothing running.
LandingInputs signedOut()
{
    LandingInputs in;
    in.displayProfile = QStringLiteral("tavrilo-code");
    in.configurationRoot = kRoot;
    in.message = QStringLiteral("Configure application identity to begin.");
    in.showingRepository = true;
    in.columnWidth = 1312;
    return in;
}

LandingInputs signedIn()
{
    LandingInputs in = signedOut();
    in.controlsConnected = true;
    in.cloudConnected = true;
    in.tenantName = QStringLiteral("Acme Labs");
    in.role = QStringLiteral("Owner");
    in.planName = QStringLiteral("Team plan");
    in.workspaces = {{QStringLiteral("t-1"), QStringLiteral("Acme Labs"), QStringLiteral("Owner"), true},
                     {QStringLiteral("t-2"), QStringLiteral("Side Project"), QStringLiteral("Member"), false}};
    in.recentProjects = {recent("/home/ada/Code/app"), recent("/srv/work/api/"), recent("/")};
    return in;
}

// What the state decides; the texts that follow from it are checked once, in the first case.
struct Want
{
    QString signInText;
    bool signInEnabled;
    bool cardEnabled;
    bool chooseEnabled;
    bool locked;       // "Project locked during this run" and the chooser's explanation
    bool signedInRows; // repository toggle, workspace menu, identity line
    bool toggleEnabled;
    bool workspaceMenuEnabled;
    bool recentShown;
    bool recentEnabled;
    bool formShown;
    bool formEnabled;
    QString connection;
};

struct Case
{
    const char *name;
    std::function<LandingInputs()> state;
    Want want;
};

class LandingState : public ::testing::TestWithParam<Case>
{
};

TEST_P(LandingState, DecidesWhatIsShownAndEnabled)
{
    const Case &c = GetParam();
    const LandingView v = landingView(c.state());
    const Want &w = c.want;
    EXPECT_EQ(v.signInText, w.signInText);
    EXPECT_EQ(v.signInEnabled, w.signInEnabled);
    EXPECT_EQ(v.projectCardEnabled, w.cardEnabled);
    EXPECT_EQ(v.chooseProjectEnabled, w.chooseEnabled);
    EXPECT_EQ(v.projectLockedShown, w.locked);
    EXPECT_EQ(v.chooseProjectHelp, w.locked ? QStringLiteral("Finish the active run before changing projects.")
                                            : QStringLiteral("Choose a local project directory."));
    EXPECT_EQ(v.repositoryToggleShown, w.signedInRows);
    EXPECT_EQ(v.workspaceMenuShown, w.signedInRows);
    EXPECT_EQ(v.identityShown, w.signedInRows);
    EXPECT_EQ(v.membershipText, w.signedInRows ? QStringLiteral("Workspace membership verified by your account.")
                                               : QStringLiteral("Sign in to verify workspace membership."));
    EXPECT_EQ(v.repositoryToggleEnabled, w.toggleEnabled);
    EXPECT_EQ(v.workspaceMenuEnabled, w.workspaceMenuEnabled);
    EXPECT_EQ(v.recentMenuShown, w.recentShown);
    EXPECT_EQ(v.recentMenuEnabled, w.recentEnabled);
    EXPECT_EQ(v.repositoryFormShown, w.formShown);
    EXPECT_EQ(v.repositoryFormEnabled, w.formEnabled);
    EXPECT_EQ(v.connectionText, w.connection);
}

LandingInputs with(LandingInputs in, const std::function<void(LandingInputs &)> &change)
{
    change(in);
    return in;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, LandingState,
    ::testing::Values(
        // Signed out, only the sign-in, the project card and the chooser are there.
        Case{"SignedOut", signedOut,
             {"Sign in", true, true, true, false, false, true, true, false, true, false, true, "Sign in required"}},
        Case{"SignedIn", signedIn,
             {"Refresh account", true, true, true, false, true, true, true, true, true, true, true, "Signed in"}},
        // Signed in, but no workspace selected yet.
        Case{"SignedInWithoutWorkspace", [] { return with(signedIn(), [](auto &in) { in.cloudConnected = false; }); },
             {"Refresh account", true, true, true, false, true, true, true, true, true, true, true, "Sign in required"}},
        // A turn locks the project; sign-in and the card stay.
        Case{"Running", [] { return with(signedIn(), [](auto &in) { in.running = true; }); },
             {"Refresh account", true, true, false, true, true, false, true, true, false, true, false, "Signed in"}},
        Case{"Closing", [] { return with(signedIn(), [](auto &in) { in.closingSession = true; }); },
             {"Refresh account", false, false, false, false, true, false, true, true, false, true, false, "Signed in"}},
        Case{"Opening", [] { return with(signedIn(), [](auto &in) { in.projectOpening = true; }); },
             {"Refresh account", true, false, false, false, true, false, true, true, false, true, false, "Signed in"}},
        // A run control in flight holds back only the two menus.
        Case{"ControlInFlight", [] { return with(signedIn(), [](auto &in) { in.controlInFlight = true; }); },
             {"Refresh account", true, true, true, false, true, true, false, true, false, true, true, "Signed in"}},
        Case{"NoConfiguration", [] { return with(signedOut(), [](auto &in) { in.configurationRoot.reset(); }); },
             {"Sign in", false, true, true, false, false, true, true, false, true, false, true, "Sign in required"}},
        Case{"NoRecentProjects", [] { return with(signedIn(), [](auto &in) { in.recentProjects.clear(); }); },
             {"Refresh account", true, true, true, false, true, true, true, false, true, true, true, "Signed in"}},
        // The form was asked for, then hidden by the toggle: the toggle stays, the form goes.
        Case{"RepositoryHidden", [] { return with(signedIn(), [](auto &in) { in.showingRepository = false; }); },
             {"Refresh account", true, true, true, false, true, true, true, true, true, false, true, "Signed in"}}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(LandingTexts, ProjectCardNamesTheConfiguredFolderOrTheLocalWorkspace)
{
    const LandingView configured = landingView(signedOut());
    EXPECT_EQ(configured.projectName, QStringLiteral("tavrilo-code"));
    EXPECT_EQ(configured.projectDetail, QStringLiteral("Existing local application · tavrilo-code"));
    EXPECT_EQ(configured.projectCardAccessibleName, QStringLiteral("Open existing application tavrilo-code"));
    EXPECT_EQ(configured.folderFact, kRoot);

    LandingInputs bare = signedOut();
    bare.configurationRoot.reset();
    const LandingView unconfigured = landingView(bare);
    EXPECT_EQ(unconfigured.projectName, QStringLiteral("tavrilo-code"));
    EXPECT_EQ(unconfigured.projectDetail, QStringLiteral("Existing local application · local workspace"));
    EXPECT_EQ(unconfigured.folderFact, QStringLiteral("Choose a project folder"));
}

TEST(LandingTexts, RecentProjectsReadNameAndPathWithTheirCount)
{
    const LandingView v = landingView(signedIn());
    EXPECT_EQ(v.recentMenuText, QStringLiteral("Recent projects (3)"));
    EXPECT_EQ(v.recentMenuHelp, QStringLiteral("Projects previously opened by your account in this workspace."));
    EXPECT_EQ(v.recentTitles, (QStringList{QStringLiteral("app · /home/ada/Code/app"),
                                           QStringLiteral("api · /srv/work/api/"), QStringLiteral("/ · /")}));
    EXPECT_EQ(v.recentDirectories, (QStringList{QStringLiteral("/home/ada/Code/app"), QStringLiteral("/srv/work/api/"),
                                                QStringLiteral("/")}));
}

TEST(LandingTexts, WorkspaceMenuListsNamesAloneInTheModelsOrder)
{
    LandingInputs in = signedIn();
    const LandingView v = landingView(in);
    EXPECT_EQ(v.workspaceMenuText, QStringLiteral("Acme Labs"));
    EXPECT_EQ(v.workspaceTitles, (QStringList{QStringLiteral("Acme Labs"), QStringLiteral("Side Project")}));
    EXPECT_EQ(v.workspaceIDs, (QStringList{QStringLiteral("t-1"), QStringLiteral("t-2")}));

    in.tenantName.clear();
    EXPECT_EQ(landingView(in).workspaceMenuText, QString());
}

TEST(LandingTexts, StatusLineShowsACleanupFailureInTheErrorColourOverTheMessage)
{
    LandingInputs in = signedIn();
    in.message = QStringLiteral("Signed in to your Tavrilo workspace.");
    LandingView v = landingView(in);
    EXPECT_EQ(v.statusText, in.message);
    EXPECT_EQ(v.statusColor, Palette::muted());
    EXPECT_EQ(v.statusAccessibleName, QStringLiteral("Workspace status: Signed in to your Tavrilo workspace."));

    in.cleanupFailure = QStringLiteral("Session cleanup failed. Retry Stop or close. The platform did not answer.");
    v = landingView(in);
    EXPECT_EQ(v.statusText, *in.cleanupFailure);
    EXPECT_EQ(v.statusColor, Palette::error());
    EXPECT_EQ(v.statusAccessibleName, QStringLiteral("Workspace status: ") + *in.cleanupFailure);

    // An empty failure text is still a failure: it is shown (empty) rather than the message.
    in.cleanupFailure = QString();
    EXPECT_EQ(landingView(in).statusText, QString());
}

TEST(LandingTexts, NoticeIsShownOnlyWhenThereIsOne)
{
    LandingInputs in = signedIn();
    EXPECT_FALSE(landingView(in).noticeShown);
    in.projectSelectionNotice =
        QStringLiteral("Recent project history is unavailable on this computer. Choose a project folder to continue.");
    const LandingView v = landingView(in);
    EXPECT_TRUE(v.noticeShown);
    EXPECT_EQ(v.noticeText, in.projectSelectionNotice);
}

TEST(LandingTexts, RepositoryButtonSaysWhileAnOpeningRuns)
{
    LandingInputs in = signedIn();
    EXPECT_EQ(landingView(in).repositoryButtonText, QStringLiteral("Choose parent folder and open"));
    EXPECT_EQ(landingView(in).repositoryToggleText, QStringLiteral("Hide repository entry"));
    in.projectOpening = true;
    EXPECT_EQ(landingView(in).repositoryButtonText, QStringLiteral("Opening repository…"));
    in.showingRepository = false;
    EXPECT_EQ(landingView(in).repositoryToggleText, QStringLiteral("Open repository…"));
}

TEST(LandingTexts, ConnectionDotIsGreenOnlyWhenSignedInToAWorkspace)
{
    EXPECT_EQ(landingView(signedIn()).connectionDotColor, Palette::green());
    const QColor waiting = landingView(signedOut()).connectionDotColor;
    EXPECT_NE(waiting.rgb(), Palette::green().rgb());
    EXPECT_NEAR(waiting.alphaF(), 0.75, 0.001);
}

struct IdentityCase
{
    const char *name;
    const char *role;
    const char *plan;
    QStringList details;
    const char *access; // nullptr: no ACCESS fact
};

class LandingIdentity : public ::testing::TestWithParam<IdentityCase>
{
};

TEST_P(LandingIdentity, ShowsRoleAndPlanOnlyWhenKnown)
{
    const IdentityCase &c = GetParam();
    LandingInputs in = signedIn();
    in.role = QString::fromUtf8(c.role);
    in.planName = QString::fromUtf8(c.plan);
    const LandingView v = landingView(in);
    EXPECT_EQ(v.identityName, QStringLiteral("Acme Labs"));
    EXPECT_EQ(v.identityDetails, c.details);
    EXPECT_EQ(v.identityAccessibleName,
              (QStringList{QStringLiteral("Acme Labs")} + c.details).join(QStringLiteral(", ")));
    EXPECT_EQ(v.workspaceFact, QStringLiteral("Acme Labs"));
    EXPECT_EQ(v.accessFactShown, c.access != nullptr);
    if (c.access) {
        EXPECT_EQ(v.accessFact, QString::fromUtf8(c.access));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LandingIdentity,
    ::testing::Values(
        IdentityCase{"Neither", "", "", {}, nullptr},
        IdentityCase{"RoleOnly", "Owner", "", {QStringLiteral("Owner")}, "Owner"},
        IdentityCase{"PlanOnly", "", "Team plan", {QStringLiteral("Team plan")}, "Team plan"},
        IdentityCase{
            "Both", "Owner", "Team plan", {QStringLiteral("Owner"), QStringLiteral("Team plan")}, "Owner · Team plan"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LandingSummary, SignedOutAsksToSignInAndShowsNoAccess)
{
    LandingInputs in = signedOut();
    in.role = QStringLiteral("Owner"); // left over from an earlier sign-in
    const LandingView v = landingView(in);
    EXPECT_EQ(v.workspaceFact, QStringLiteral("Sign in to see your workspaces"));
    EXPECT_FALSE(v.accessFactShown);
    EXPECT_EQ(v.footerText, QStringLiteral("Linux · Native workspace"));
}

TEST(LandingSummary, AppearsFrom1200PointsWide)
{
    LandingInputs in = signedIn();
    for (const auto &[width, shown] : {std::pair{1199.0, false}, {1199.99, false}, {1200.0, true}, {1440.0, true}}) {
        in.columnWidth = width;
        EXPECT_EQ(landingView(in).summaryShown, shown) << width;
    }
}
} // namespace
