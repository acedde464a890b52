#include "session/SessionTestSupport.h"
#include "ui/GatesPresenter.h"
#include "ui/HeaderPresenter.h"
#include "ui/LandingPresenter.h"
#include "ui/RunControlsPresenter.h"
#include "ui/SectionTitles.h"
#include "ui/WorkforcePresenter.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <functional>

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
// The gates section's blocks are announced one by one, each only when what it shows changed, and
// the thinking body is told what to append while the reasoning only grows.
TEST(GatesBinding, AnnouncesEachBlockAndAppendsTheReasoning)
{
    const auto model = makeModel();
    HubViewState state;
    GatesPresenter gates;
    gates.setModel(model.get());
    gates.setViewState(&state);
    int section = 0, journal = 0, positions = 0, reset = 0;
    QStringList appended;
    QObject::connect(&gates, &GatesPresenter::sectionChanged, [&] { ++section; });
    QObject::connect(&gates, &GatesPresenter::journalChanged, [&] { ++journal; });
    QObject::connect(&gates, &GatesPresenter::positionsChanged, [&] { ++positions; });
    QObject::connect(&gates, &GatesPresenter::reasoningReset, [&] { ++reset; });
    QObject::connect(&gates, &GatesPresenter::reasoningAppended, [&](const QString &text) { appended.append(text); });

    model->setMessage(QStringLiteral("Runtime session stopped."));
    EXPECT_EQ(section, 1);
    EXPECT_EQ(journal, 0);
    EXPECT_EQ(positions, 0);

    EventProjection projection;
    projection.positions.append(
        {QStringLiteral("p1"), QStringLiteral("tavrilo_builder"), QStringLiteral("Ship it"), {}, {}, {}});
    projection.reasoning = {QStringLiteral("First. ")};
    model->setEventProjection(projection);
    EXPECT_EQ(positions, 1);
    ASSERT_EQ(appended.size(), 1);
    EXPECT_EQ(appended.at(0), QStringLiteral("First. "));

    projection.reasoning.append(QStringLiteral("Second."));
    model->setEventProjection(projection);
    ASSERT_EQ(appended.size(), 2);
    EXPECT_EQ(appended.at(1), QStringLiteral("Second."));
    EXPECT_EQ(positions, 1);
    EXPECT_EQ(gates.reasoningText(), QStringLiteral("First. Second."));

    // A new turn's reasoning does not continue the shown text: the body reads it whole.
    projection.reasoning = {QStringLiteral("Other.")};
    model->setEventProjection(projection);
    EXPECT_EQ(appended.size(), 2);
    EXPECT_EQ(reset, 1);
    EXPECT_EQ(gates.reasoningText(), QStringLiteral("Other."));

    // The root view's state is followed too.
    state.setExpandedPositionOwners({QStringLiteral("tavrilo_builder")});
    EXPECT_EQ(positions, 2);
    EXPECT_TRUE(gates.positions().rows.value(0).expanded);
}

// The positions and updates reach the view as lists that change by rows: one change of the turn
// touches the rows it changed, and a list that stays the same length is never reset or rebuilt.
TEST(GatesBinding, ListsChangeByTheRowsThatChanged)
{
    struct Touched
    {
        int resets = 0;
        QList<int> inserted, removed, changed;
        bool operator==(const Touched &) const = default;
    };
    struct Case
    {
        const char *name;
        std::function<void(EventProjection &, HubViewState &)> change;
        Touched positions, updates;
    };
    const QString builder = QStringLiteral("tavrilo_builder");
    const QString reviewer = QStringLiteral("tavrilo_reviewer");
    const QList<Case> cases{
        {"one position's text", [](EventProjection &p, HubViewState &) { p.positions[1].position = "Hold it"; },
         {0, {}, {}, {1}}, {}},
        {"one owner opened", [&](EventProjection &, HubViewState &s) { s.setExpandedPositionOwners({reviewer}); },
         {0, {}, {}, {1}}, {}},
        {"a position past the shown three", [&](EventProjection &p, HubViewState &) {
             p.positions.append({"p4", builder, "Later", {}, {}, {}});
         }, {}, {}},
        {"the shown position removed", [](EventProjection &p, HubViewState &) { p.positions.removeAt(0); },
         {0, {}, {0}, {}}, {}},
        {"the newest update grew", [&](EventProjection &p, HubViewState &) { p.responses[reviewer] += " More."; },
         {}, {0, {}, {}, {0}}},
        {"another specialist wrote last", [&](EventProjection &p, HubViewState &) {
             p.responseOrder = {reviewer, builder};
         }, {}, {0, {0}, {0}, {}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto model = makeModel();
        HubViewState state;
        GatesPresenter gates;
        gates.setModel(model.get());
        gates.setViewState(&state);
        EventProjection projection;
        projection.positions = {{"p1", builder, "Ship it", "High", {}, {}},
                                {"p2", reviewer, "Wait", "Low", "p1", {}},
                                {"p3", builder, "Test first", {}, {}, "p2"}};
        projection.responses = {{builder, QStringLiteral("Built.")}, {reviewer, QStringLiteral("Reviewed.")}};
        projection.responseOrder = {builder, reviewer};
        model->setEventProjection(projection);
        ASSERT_EQ(gates.positionRows()->count(), 3);
        ASSERT_EQ(gates.updateRows()->count(), 1);

        const auto watch = [](KeyedListModel *list, Touched &touched) {
            QObject::connect(list, &QAbstractItemModel::modelReset, [&touched] { ++touched.resets; });
            QObject::connect(list, &QAbstractItemModel::rowsInserted,
                             [&touched](const QModelIndex &, int first, int) { touched.inserted.append(first); });
            QObject::connect(list, &QAbstractItemModel::rowsRemoved,
                             [&touched](const QModelIndex &, int first, int) { touched.removed.append(first); });
            QObject::connect(list, &QAbstractItemModel::dataChanged,
                             [&touched](const QModelIndex &from, const QModelIndex &to) {
                                 for (int row = from.row(); row <= to.row(); ++row)
                                     touched.changed.append(row);
                             });
            return std::make_unique<QAbstractItemModelTester>(list,
                                                              QAbstractItemModelTester::FailureReportingMode::Fatal);
        };
        Touched positions, updates;
        const auto positionsTester = watch(gates.positionRows(), positions);
        const auto updatesTester = watch(gates.updateRows(), updates);
        c.change(projection, state);
        model->setEventProjection(projection);
        EXPECT_EQ(positions, c.positions);
        EXPECT_EQ(updates, c.updates);

        // What the rows hold is what the block gives, field by field.
        ASSERT_EQ(gates.positionRows()->count(), gates.positions().rows.size());
        for (qsizetype i = 0; i < gates.positions().rows.size(); ++i)
            EXPECT_EQ(gates.positionRows()->get(int(i)).value("position"), gates.positions().rows.at(i).position);
        ASSERT_EQ(gates.updateRows()->count(), gates.updates().updates.size());
        for (qsizetype i = 0; i < gates.updates().updates.size(); ++i)
            EXPECT_EQ(gates.updateRows()->get(int(i)).value("body"), gates.updates().updates.at(i).body);
    }
}
} // namespace

namespace
{
// The journal shows the five newest events; while a turn streams each new event reaches the view as
// one row in and one row out, never as the whole list again.
TEST(GatesBinding, AStreamedEventMovesTheJournalByOneRow)
{
    const auto model = makeModel();
    GatesPresenter gates;
    gates.setModel(model.get());
    QList<WorkspaceEvent> events;
    for (int i = 1; i <= 5; ++i)
        events.append(event(QStringLiteral("e%1").arg(i), "text", {{"text", QStringLiteral("word ")}}));
    model->setEvents(events);
    ASSERT_EQ(gates.journalRows()->count(), 5);

    int resets = 0, inserted = 0, removed = 0;
    QAbstractItemModelTester tester(gates.journalRows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QObject::connect(gates.journalRows(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(gates.journalRows(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex &, int first, int last) { inserted += last - first + 1; });
    QObject::connect(gates.journalRows(), &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex &, int first, int last) { removed += last - first + 1; });
    events.append(event(QStringLiteral("e6"), "done"));
    model->setEvents(events);

    EXPECT_EQ(resets, 0);
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(removed, 1);
    ASSERT_EQ(gates.journalRows()->count(), gates.journal().rows.size());
    for (qsizetype i = 0; i < gates.journal().rows.size(); ++i)
        EXPECT_EQ(gates.journalRows()->get(int(i)).value("headline"), gates.journal().rows.at(i).headline);
    EXPECT_EQ(gates.journalRows()->rows().first().key, QStringLiteral("e6"));
}
} // namespace
