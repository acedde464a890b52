// The landing selector as the root view shows it, against a model seeded into the states that change
// what the screen says, drawn off screen at the frames' scale and read back by the vision command.
#include "OffscreenReading.h"
#include "session/SessionTestSupport.h"
#include "ui/HubViewState.h"
#include "ui/IconTheme.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{
using namespace sessiontest;

const QString kCleanupFailure =
    QStringLiteral("Session cleanup failed. Retry Stop or close. The platform did not confirm the stop.");

void signIn(HubModel &m)
{
    m.setIdentityToken(identityToken());
    m.setUserID(QStringLiteral("user-1"));
    m.setTenantName(QStringLiteral("Atlas Studio"));
    m.setRole(QStringLiteral("owner"));
    m.setPlanName(QStringLiteral("Team plan"));
    m.setWorkspaces({{kTenant, QStringLiteral("Atlas Studio"), QStringLiteral("owner"), true},
                     {QStringLiteral("tenant-c"), QStringLiteral("Cobalt"), QStringLiteral("member"), false}});
    m.setRecentProjects({{QStringLiteral("/srv/projects/atlas"), QDateTime::currentDateTimeUtc()},
                         {QStringLiteral("/home/ada/Code/shop"), QDateTime::currentDateTimeUtc()},
                         {QStringLiteral("/home/ada/Code/notes"), QDateTime::currentDateTimeUtc()}});
    m.setMessage(QStringLiteral("Signed in to your Tavrilo workspace."));
}

struct LandingCase
{
    const char *name;
    int width;
    int height;
    std::function<void(HubModel &, HubViewState &)> seed;
    QStringList shown;
    QStringList absent;
};

class LandingRender : public ::testing::TestWithParam<LandingCase>
{
};

TEST_P(LandingRender, ShowsWhatTheStateSays)
{
    const LandingCase &c = GetParam();
    useHubIconTheme();
    const auto model = makeModel();
    model->setConfiguration(configuration());
    model->setMessage(QStringLiteral("Your Tavrilo workspace is ready."));

    offscreen::WatchedEngine watched;
    QQmlComponent component(&watched.engine);
    component.setData(QStringLiteral("import Tavrilo.Ui\nHubView { width: %1; height: %2; offscreenExport: true }")
                          .arg(c.width)
                          .arg(c.height)
                          .toUtf8(),
                      QUrl());
    std::unique_ptr<QObject> created(
        component.createWithInitialProperties({{QStringLiteral("model"), QVariant::fromValue(model.get())}}));
    auto *view = qobject_cast<QQuickItem *>(created.get());
    ASSERT_TRUE(view) << component.errorString().toStdString();
    auto *state = view->property("viewState").value<HubViewState *>();
    ASSERT_TRUE(state);
    c.seed(*model, *state);

    const QImage image = offscreen::render(view, c.width, c.height);
    EXPECT_TRUE(watched.warnings.isEmpty()) << watched.warnings.join(u'\n').toStdString();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("landing.png"));
    ASSERT_TRUE(image.save(path));
    if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
        image.save(qEnvironmentVariable("HUB_KEEP_RENDERS") + QStringLiteral("/landing-") +
                   QString::fromLatin1(c.name) + QStringLiteral(".png"));

    const std::optional<offscreen::Reading> reading = offscreen::read(path);
    ASSERT_TRUE(reading);
    offscreen::expectFound(*reading, c.shown);
    for (const QString &text : c.absent)
        EXPECT_FALSE(reading->text.contains(text)) << text.toStdString() << " in: " << reading->text.toStdString();
}

// The 9-point monospaced labels with wide tracking (the summary's fact labels, the footer's left
// half) are below what recognition reads at this scale; their values and the larger texts are checked.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    States, LandingRender,
    ::testing::Values(
        LandingCase{"SignedOut", 1440, 900, [](HubModel &, HubViewState &state) { state.setShowingRepository(true); },
                    {"Sign in required", "YOUR APPLICATIONS", "Pick up where", "you left off.",
                     "One workspace for your people, documents, and decisions.", "atlas", "Open workspace",
                     "Existing local application", "Sign in", "Choose project folder",
                     "to verify workspace membership.", "Your Tavrilo workspace is ready.",
                     "SELECTED PROJECT", "/srv/projects/atlas", "Sign in to see your workspaces",
                     "Native workspace"},
                    // The form asked for stays away until the user signs in.
                    {"Refresh account", "HTTPS repository address", "Workspace membership verified", "Recent projects"}},
        LandingCase{"SignedInWithTheRepositoryForm", 1440, 900,
                    [](HubModel &m, HubViewState &state) {
                        signIn(m);
                        m.setProjectSelectionNotice(QStringLiteral("Recent project history is unavailable on this computer. Choose a project folder to continue."));
                        state.setShowingRepository(true);
                    },
                    {"Signed in", "Refresh account", "Hide repository entry", "Atlas Studio",
                     "Workspace membership verified by your account.", "Recent projects (3)",
                     "HTTPS repository address", "Branch or tag (optional)", "Choose parent folder and open",
                     "Existing checkouts and uncommitted work are preserved",
                     "Recent project history is unavailable on this computer.",
                     "Signed in to your Tavrilo workspace.", "Team plan"},
                    {"Sign in required", "Sign in to see your workspaces"}},
        // At exactly 1200 points the panel is there; a turn locks the project; a failed clean-up
        // takes the status line.
        LandingCase{"RunningWithACleanupFailureAt1200", 1200, 900,
                    [](HubModel &m, HubViewState &) {
                        signIn(m);
                        m.setRunning(true);
                        m.setCleanupFailure(kCleanupFailure);
                    },
                    {"Project locked during this run", "Session cleanup failed. Retry Stop or close.",
                     "SELECTED PROJECT", "Open repository"},
                    {"Signed in to your Tavrilo workspace."}},
        LandingCase{"NarrowerThan1200", 1199, 900, [](HubModel &m, HubViewState &) { signIn(m); },
                    {"Refresh account", "Recent projects (3)"},
                    {"SELECTED PROJECT", "/srv/projects/atlas"}},
        // A window shorter than the column with the form open: it scrolls on screen and is clipped
        // off screen; nothing overlaps.
        LandingCase{"ShortWindow", 1280, 800,
                    [](HubModel &m, HubViewState &state) {
                        signIn(m);
                        state.setShowingRepository(true);
                    },
                    {"Refresh account", "Hide repository entry", "Choose parent folder and open",
                     "SELECTED PROJECT", "Signed in to your Tavrilo workspace."},
                    {}}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on
} // namespace
