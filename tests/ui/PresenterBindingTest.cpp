#include "session/SessionTestSupport.h"
#include "ui/HeaderPresenter.h"
#include "ui/LandingPresenter.h"
#include "ui/RunControlsPresenter.h"
#include "ui/SectionTitles.h"
#include "ui/WorkforcePresenter.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
using namespace sessiontest;

TEST(PresenterBinding, AnnouncesOnlyChangesOfWhatTheViewShows)
{
    const auto model = makeModel();
    LandingPresenter presenter;
    int changes = 0;
    QObject::connect(&presenter, &LandingPresenter::viewChanged, &presenter, [&changes] { ++changes; });
    presenter.setModel(model.get());
    EXPECT_EQ(presenter.view().statusText, model->message());

    changes = 0;
    model->setMessage(QStringLiteral("Signed in to your Tavrilo workspace."));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(presenter.view().statusText, QStringLiteral("Signed in to your Tavrilo workspace."));

    // A value the landing selector does not read.
    model->setHeadlessFrameCount(7);
    EXPECT_EQ(changes, 1);

    presenter.setShowingRepository(true); // the toggle's text changes, though it is hidden while signed out
    presenter.setColumnWidth(1300);
    EXPECT_TRUE(presenter.view().summaryShown);
    EXPECT_EQ(changes, 3);
    presenter.setColumnWidth(1310);
    EXPECT_EQ(changes, 3);
}

// The header reads values that only C++ sees (the access token, the ledger task), not only QML's.
TEST(PresenterBinding, FollowsValuesBeyondTheQmlProperties)
{
    const auto model = makeModel();
    HeaderPresenter presenter;
    presenter.setModel(model.get());
    EXPECT_EQ(presenter.view().accountText, QStringLiteral("Sign in"));
    model->setToken(QStringLiteral("access"));
    EXPECT_EQ(presenter.view().accountText, QStringLiteral("Account"));
    model->setConfiguration(configuration());
    EXPECT_TRUE(presenter.view().accountEnabled);
}

TEST(PresenterBinding, FollowsNoModelOnceItIsGone)
{
    auto model = makeModel();
    RunControlsPresenter presenter;
    presenter.setModel(model.get());
    model->setRunning(true);
    EXPECT_EQ(presenter.view().statusWord, QStringLiteral("Observing another client"));
    model.reset();
    EXPECT_EQ(presenter.model(), nullptr);
    EXPECT_EQ(presenter.view().statusWord, QStringLiteral("No active session"));
}

// A pressed title opens its section and closes the one open before; pressing it again keeps it.
TEST(SectionTitle, StoresTheLastPressedTitleLowerCased)
{
    const auto model = makeModel();
    WorkforcePresenter workforce;
    workforce.setModel(model.get());
    SectionTitles::pick(model.get(), QStringLiteral("Workforce"));
    EXPECT_EQ(model->expandedInspector(), QStringLiteral("workforce"));
    EXPECT_TRUE(workforce.view().lanesCaptionShown);
    SectionTitles::pick(model.get(), QStringLiteral("Events"));
    SectionTitles::pick(model.get(), QStringLiteral("Events"));
    EXPECT_EQ(model->expandedInspector(), QStringLiteral("events"));
    EXPECT_FALSE(workforce.view().lanesCaptionShown);
    SectionTitles::pick(model.get(), QStringLiteral("Documents"));
    EXPECT_EQ(model->expandedInspector(), QStringLiteral("documents"));
    SectionTitles::pick(nullptr, QStringLiteral("Events"));
}

// The views read the presenters' values from QML and follow their changes.
TEST(PresenterBinding, QmlBindsToTheViewValues)
{
    const auto model = makeModel();
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Tavrilo.Ui
        QtObject {
            property var hubModel
            property WorkforcePresenter workforce: WorkforcePresenter { model: hubModel; inspectedAgent: "tavrilo_builder" }
            readonly property string caption: workforce.view.caption
            readonly property string firstName: workforce.view.columns[0].name
            readonly property string inspection: workforce.view.inspectionTitle
        })",
                      QUrl());
    std::unique_ptr<QObject> root(
        component.createWithInitialProperties({{QStringLiteral("hubModel"), QVariant::fromValue(model.get())}}));
    ASSERT_TRUE(root) << qPrintable(component.errorString());
    EXPECT_EQ(root->property("caption").toString(), QStringLiteral("STANDING BY"));
    EXPECT_EQ(root->property("firstName").toString(), QStringLiteral("Liaison"));
    EXPECT_EQ(root->property("inspection").toString(), QStringLiteral("Builder · Live inspection"));
    model->setRunning(true);
    EXPECT_EQ(root->property("caption").toString(), QStringLiteral("LIVE ROUND"));
}
} // namespace
