// The working screen as the root view shows it, drawn off screen by the software scene graph at the
// frames' scale: its regions where the shared geometry puts them, the placeholder without a layout,
// the journal strip, the controls driven like a user, and the frames read back with the vision
// command.
#include "core/HubLayout.h"
#include "session/HubModel.h"
#include "session/SessionTestSupport.h"
#include "support/TestSupport.h"
#include "ui/HubViewState.h"
#include "ui/IconTheme.h"
#include "ui/Palette.h"

#include "OffscreenReading.h"

#include <QFile>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickRenderTarget>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace
{
using namespace sessiontest;

// The grid of the worked example: 12 by 6, the header across the top, the events on the right.
HubLayout workedExampleLayout()
{
    return HubLayout::decode(R"({"version": 1, "columns": 12, "rows": 6,
        "regions": [{"id": "header", "x": 0, "y": 0, "width": 12, "height": 1},
                    {"id": "workforce", "x": 0, "y": 1, "width": 8, "height": 3},
                    {"id": "documents", "x": 0, "y": 4, "width": 8, "height": 2},
                    {"id": "events", "x": 8, "y": 1, "width": 4, "height": 5}],
        "motion": {"standard": [0.2, 0, 0, 1], "emphasised": [0.3, 0, 0.1, 1],
                   "spring": {"mass": 1, "stiffness": 180, "damping": 24}}})");
}

HubLayout bundledLayout()
{
    QFile file(QStringLiteral(HUB_SOURCE_DIR "/resources/layout.json"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return HubLayout::decode(file.readAll());
}

class WorkingScreen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        useHubIconTheme();
        m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        m_engine.setOutputWarningsToStandardError(false);
        QObject::connect(&m_engine, &QQmlEngine::warnings, &m_engine, [this](const QList<QQmlError> &errors) {
            for (const QQmlError &error : errors)
                m_warnings.append(error.toString());
        });
        m_model->setSelectedProfile(true);
        m_model->setLayout(workedExampleLayout());
    }
    void TearDown() override
    {
        if (m_root)
            m_root->setParentItem(nullptr);
        m_root.reset();
        EXPECT_TRUE(m_warnings.isEmpty()) << m_warnings.join(u'\n').toStdString();
    }

    // The root view, as the window and the headless frames make it, in a window of `size` points.
    void show(QSize size)
    {
        QQmlComponent component(&m_engine);
        component.setData("import Tavrilo.Ui\nHubView {}\n", QUrl());
        ASSERT_TRUE(component.isReady()) << component.errorString().toStdString();
        m_root.reset(qobject_cast<QQuickItem *>(component.createWithInitialProperties(
            {{QStringLiteral("model"), QVariant::fromValue(m_model.get())},
             {QStringLiteral("offscreenExport"), m_offscreen}})));
        ASSERT_TRUE(m_root) << component.errorString().toStdString();
        m_root->setParentItem(m_window.contentItem());
        resize(size);
    }
    void resize(QSize size)
    {
        m_window.setGeometry(0, 0, size.width(), size.height());
        m_root->setSize(size);
        m_control.polishItems();
    }

    // The frame as the export draws it: the software scene graph at twice the point size.
    QImage frame() { return offscreen::render(m_root.get(), m_window.width(), m_window.height()); }
    // The vision report keeps its first 64 text blocks, and a whole window holds more: the frame is
    // read as two overlapping halves, so that the texts at its bottom (the journal strip, the
    // events card's status line) are read too.
    offscreen::Reading readBack(const QString &name)
    {
        const QImage image = frame();
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        EXPECT_TRUE(image.save(path));
        if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
            QFile::copy(path, qEnvironmentVariable("HUB_KEEP_RENDERS") + u'/' + name + QStringLiteral(".png"));
        offscreen::Reading whole;
        const int half = image.height() / 2;
        const int overlap = image.height() / 10;
        const QRect halves[] = {{0, 0, image.width(), half + overlap},
                                {0, half - overlap, image.width(), image.height() - half + overlap}};
        for (const QRect &part : halves) {
            const QString partPath = m_dir.filePath(name + QStringLiteral("-%1.png").arg(part.top()));
            EXPECT_TRUE(image.copy(part).save(partPath));
            const offscreen::Reading reading = offscreen::read(partPath).value_or(offscreen::Reading{});
            whole.text = (whole.text + u' ' + reading.text).simplified();
            for (const Json &issue : reading.issues)
                whole.issues.push_back(issue);
        }
        return whole;
    }

    template <typename Type = QQuickItem> Type *find(const char *name) const
    {
        auto *found = m_root->findChild<Type *>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    // A button pressed as its own press handler sees it.
    static void press(QQuickItem *item)
    {
        ASSERT_TRUE(item->isEnabled() && item->isVisible());
        ASSERT_TRUE(QMetaObject::invokeMethod(item, "clicked"));
    }
    HubViewState *viewState() const { return m_root->property("viewState").value<HubViewState *>(); }

    std::unique_ptr<HubModel> m_model = makeModel();
    bool m_offscreen = true;
    QQuickRenderControl m_control;
    QQuickWindow m_window{&m_control};
    QQmlEngine m_engine;
    std::unique_ptr<QQuickItem> m_root;
    QStringList m_warnings;
    QTemporaryDir m_dir;
};

TEST_F(WorkingScreen, PlacesEachSectionWhereTheSharedGeometryPutsIt)
{
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    auto *area = find("regionArea");
    ASSERT_TRUE(area);
    // The worked example's area of 1200 by 600: the working screen takes 18 points on each side and
    // 8 at the top, the journal strip what it needs below.
    EXPECT_EQ(area->width(), 1200);
    resize({1236, int(700 + 600 - area->height())});
    ASSERT_EQ(area->size(), QSizeF(1200, 600));

    const HubLayout layout = workedExampleLayout();
    for (const HubLayout::Region &region : layout.regions) {
        auto *placed = find(qPrintable(region.id + QStringLiteral("Region")));
        ASSERT_TRUE(placed);
        EXPECT_TRUE(placed->isVisible()) << region.id.toStdString();
        EXPECT_EQ(QRectF(placed->position(), placed->size()), layout.regionRect(region, area->size()))
            << region.id.toStdString();
    }
    auto *header = find("headerRegion");
    auto *events = find("eventsRegion");
    EXPECT_EQ(QRectF(header->position(), header->size()), QRectF(6, 6, 1188, 88));
    EXPECT_EQ(QRectF(events->position(), events->size()), QRectF(806, 106, 388, 488));

    // A window too small for a region's inset leaves it an empty frame, never a negative one.
    resize({120, 200});
    for (const HubLayout::Region &region : layout.regions) {
        auto *placed = find(qPrintable(region.id + QStringLiteral("Region")));
        EXPECT_GE(placed->width(), 0);
        EXPECT_GE(placed->height(), 0);
    }
}

TEST_F(WorkingScreen, WithoutALayoutSaysSoWithTheStatusLine)
{
    m_model->setLayout(std::nullopt);
    m_model->setMessage(QStringLiteral("Shared layout resource missing."));
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    auto *placeholder = find("layoutUnavailable");
    auto *message = find("layoutUnavailableMessage");
    ASSERT_TRUE(placeholder && message);
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_EQ(message->property("text").toString(), QStringLiteral("Shared layout resource missing."));
    for (const char *region : {"headerRegion", "workforceRegion", "documentsRegion", "eventsRegion"})
        EXPECT_FALSE(find(region)->isVisible()) << region;
    EXPECT_TRUE(find("journalStrip")->isVisible());

    m_model->setMessage(QStringLiteral("Invalid shared workspace geometry or motion tokens."));
    EXPECT_EQ(message->property("text").toString(),
              QStringLiteral("Invalid shared workspace geometry or motion tokens."));
    const offscreen::Reading reading = readBack(QStringLiteral("layout-unavailable"));
    offscreen::expectFound(reading, {QStringLiteral("Layout unavailable"), QStringLiteral("Invalid shared"),
                                          QStringLiteral("LOCAL JOURNAL")});

    m_model->setLayout(workedExampleLayout());
    EXPECT_FALSE(placeholder->isVisible());
    EXPECT_TRUE(find("eventsRegion")->isVisible());
}

TEST_F(WorkingScreen, JournalStripFollowsTheConnection)
{
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    auto *scope = find("journalScope");
    auto *signIn = find("journalSignIn");
    ASSERT_TRUE(scope && signIn);
    EXPECT_EQ(scope->property("text").toString(), QStringLiteral("· Last five deltas · App-local journal"));
    EXPECT_EQ(signIn->property("text").toString(), QStringLiteral("Sign in to connect your workspace"));

    HubConfiguration noWorkspace = configuration();
    noWorkspace.tenantID.clear();
    m_model->setConfiguration(noWorkspace);
    m_model->setIdentityToken(identityToken());
    ASSERT_TRUE(m_model->controlsConnected() && !m_model->cloudConnected());
    EXPECT_EQ(scope->property("text").toString(), QStringLiteral("· Last five deltas · Tenant scoped"));
    EXPECT_EQ(signIn->property("text").toString(), QStringLiteral("Sign in to connect your workspace"));

    m_model->setConfiguration(configuration());
    EXPECT_EQ(scope->property("text").toString(), QStringLiteral("· Last five deltas · Tenant scoped"));
    EXPECT_EQ(signIn->property("text").toString(), QStringLiteral("Signed in to your Tavrilo workspace"));
}

TEST_F(WorkingScreen, SectionTitlesPickTheExpandedSection)
{
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    auto titleOf = [this](const char *region) {
        return find(region)->findChild<QQuickItem *>(QStringLiteral("sectionTitle"));
    };
    struct Step
    {
        const char *region;
        const char *stored;
    };
    for (const Step step : {Step{"eventsRegion", "events"}, Step{"documentsRegion", "documents"},
                            Step{"workforceRegion", "workforce"}, Step{"workforceRegion", "workforce"}}) {
        QQuickItem *title = titleOf(step.region);
        ASSERT_TRUE(title) << step.region;
        press(title);
        EXPECT_EQ(m_model->expandedInspector(), QString::fromLatin1(step.stored));
    }
}

TEST_F(WorkingScreen, RunControlsFollowTheTurnAndOpenTheComposer)
{
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    auto enabled = [this](const char *name) { return find(name)->isEnabled(); };
    auto status = [this] { return find("statusWord")->property("text").toString(); };

    // Idle, signed out: nothing to steer, and no task to run.
    EXPECT_FALSE(enabled("runButton"));
    for (const char *control : {"interruptButton", "pauseButton", "skipButton", "stopButton", "interjectButton"})
        EXPECT_FALSE(enabled(control)) << control;
    EXPECT_EQ(status(), QStringLiteral("No active session"));
    // A disabled button reads as disabled: its label (and the run arrow) muted, Stop's red too.
    auto label = [this](const char *name) {
        return QQmlProperty::read(find(name), QStringLiteral("palette.buttonText")).value<QColor>();
    };
    for (const char *control : {"runButton", "pauseButton", "stopButton", "interruptButton"})
        EXPECT_EQ(label(control), Palette::muted()) << control;

    // A turn this window did not start: steerable, but not stoppable from here.
    m_model->setConfiguration(configuration());
    m_model->setIdentityToken(identityToken());
    m_model->setRunning(true);
    EXPECT_TRUE(enabled("interruptButton"));
    EXPECT_TRUE(enabled("pauseButton"));
    EXPECT_TRUE(enabled("interjectButton"));
    EXPECT_FALSE(enabled("stopButton"));
    EXPECT_EQ(status(), QStringLiteral("Observing another client"));

    m_model->setActiveSessionID(QStringLiteral("prj-1"));
    m_model->setActiveTools({{QStringLiteral("tu-2"), {QStringLiteral("tu-2"), QStringLiteral("project_write"),
                                                       QStringLiteral("tavrilo_builder"), {}}},
                             {QStringLiteral("tu-1"), {QStringLiteral("tu-1"), QStringLiteral("project_read"),
                                                       QStringLiteral("tavrilo_architect"), {}}}});
    EXPECT_TRUE(enabled("stopButton"));
    EXPECT_EQ(label("pauseButton"), Palette::ink());
    EXPECT_EQ(label("stopButton"), Palette::error());
    EXPECT_TRUE(find("toolPicker")->isVisible());
    EXPECT_FALSE(enabled("skipButton")); // two calls: one must be chosen
    // The picker lists the calls by tool-use id; choosing one makes it the skip target, and the
    // picker keeps following the model's choice afterwards.
    auto *picker = find("toolPicker");
    EXPECT_EQ(picker->property("currentIndex").toInt(), 0);
    // As the box does on a choice: its own index first, then the signal.
    picker->setProperty("currentIndex", 2);
    ASSERT_TRUE(QMetaObject::invokeMethod(picker, "activated", Q_ARG(int, 2)));
    EXPECT_EQ(m_model->selectedSkipID(), QStringLiteral("tu-2"));
    EXPECT_TRUE(enabled("skipButton"));
    m_model->setSelectedSkipID({});
    EXPECT_EQ(picker->property("currentIndex").toInt(), 0);
    EXPECT_FALSE(enabled("skipButton"));
    EXPECT_EQ(status(), QStringLiteral("Runtime active"));
    m_model->setControlInFlight(true);
    for (const char *control : {"pauseButton", "stopButton", "interjectButton"})
        EXPECT_FALSE(enabled(control)) << control;
    m_model->setControlInFlight(false);

    // The user's own buttons: the interjection composer, then the task composer.
    HubViewState *state = viewState();
    ASSERT_TRUE(state);
    press(find("interjectButton"));
    EXPECT_TRUE(state->showingComposer());
    EXPECT_TRUE(state->composingInterjection());
    state->cancelComposer();
    press(find("taskButton"));
    EXPECT_TRUE(state->showingComposer());
    EXPECT_FALSE(state->composingInterjection());
    state->cancelComposer();
}

// Stop acts on the session it was pressed for: the session changes before the press's one hop
// through the event loop, so nothing is closed and the status line says why.
TEST_F(WorkingScreen, StopPressedForAnEndedSessionStopsNothing)
{
    ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
    m_model->setConfiguration(configuration());
    m_model->setIdentityToken(identityToken());
    m_model->setSessionID(QStringLiteral("prj-1"));
    m_model->setActiveSessionID(QStringLiteral("prj-1"));
    QQuickItem *stop = find("stopButton");
    ASSERT_TRUE(stop->isEnabled());
    m_model->setMessage({});
    QMetaObject::invokeMethod(
        m_model.get(), [this] { m_model->setSessionID(QStringLiteral("prj-2")); }, Qt::QueuedConnection);
    press(stop);
    ASSERT_TRUE(testsupport::waitUntil([this] { return !m_model->message().isEmpty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(m_model->message(), QStringLiteral("Stop does not match the active session."));
    EXPECT_FALSE(m_model->closingSession());
}

TEST_F(WorkingScreen, FramesReadBackWithTheirTexts)
{
    m_model->setLayout(bundledLayout());
    m_model->setTenantName(QStringLiteral("Atlas"));
    m_model->setRole(QStringLiteral("owner"));
    m_model->setPlanName(QStringLiteral("Team plan"));
    m_model->setTeamRevision(QStringLiteral("9f3c2a7be41d0c55aa"));
    ASSERT_NO_FATAL_FAILURE(show({1440, 900}));
    offscreen::expectFound(readBack(QStringLiteral("working-idle")),
                                {QStringLiteral("Atlas"), QStringLiteral("Workforce"),
                                 QStringLiteral("Documents"), QStringLiteral("Events"), QStringLiteral("Human operator"),
                                 QStringLiteral("Interject"), QStringLiteral("Sign in to connect your workspace")});
    // The captions and the status word (8 and 9 points) are below what recognition reads; their
    // texts are the presenters' and checked where they are chosen.
    // The brand word is in the rounded display face, which recognition reads whole or not by what
    // shares its line: beside a speaker glyph it read "Tavrilo", beside the drawn waveform "Tavrit".
    // The mark and the word are checked as the items that draw them.
    EXPECT_EQ(find("brandWaveform")->width(), 21);
    EXPECT_EQ(find("brandWord")->property("text").toString(), QStringLiteral("Tavrilo"));

    // A live parallel round: three specialists working, one inspected, the lanes the export drew.
    m_model->setConfiguration(configuration());
    m_model->setIdentityToken(identityToken());
    m_model->setPrompt(QStringLiteral("Add a parser for the settings file"));
    m_model->setRunning(true);
    m_model->setSessionID(QStringLiteral("prj-1"));
    m_model->setActiveSessionID(QStringLiteral("prj-1"));
    NativePresence presence;
    const QStringList &roles = NativePresence::roles();
    presence.working = {roles[0], roles[1], roles[2], roles[3]};
    presence.parallel = true;
    presence.measuredRate = true;
    presence.velocity = 42.5f;
    m_model->setPresence(presence);
    m_model->setExpandedInspector(QStringLiteral("workforce"));
    QImage lanes(800, 96, QImage::Format_ARGB32_Premultiplied);
    lanes.fill(QColor(0x2f, 0x8f, 0x5b));
    m_model->setRenderedActivity(lanes);
    viewState()->setInspectedAgent(roles[1]);
    const offscreen::Reading live = readBack(QStringLiteral("working-live"));
    offscreen::expectFound(live, {QStringLiteral("Parallel round width"), QStringLiteral("3 / 5 specialists"),
                                       QStringLiteral("Live inspection"), QStringLiteral("Cost unavailable"),
                                       QStringLiteral("Add a parser for the settings file")});
}
} // namespace

namespace
{
// Off screen the workforce viewport is a fixed clip of its content's top; on screen it scrolls, with
// room under the last row. Off screen the content gets the viewport's width; on screen it keeps
// clear of the always-shown vertical scroll bar, which otherwise covered its right edge.
TEST_F(WorkingScreen, ViewportScrollsOnScreenAndClipsOffScreen)
{
    for (const bool offscreen : {true, false}) {
        m_offscreen = offscreen;
        ASSERT_NO_FATAL_FAILURE(show({1236, 700}));
        viewState()->setInspectedAgent(NativePresence::roles()[1]); // content taller than the viewport
        m_control.polishItems();
        auto *viewport = find("workforceViewport");
        auto *flick = find("viewportFlickable");
        ASSERT_TRUE(viewport && flick);
        const auto *body = viewport->property("body").value<QQuickItem *>();
        ASSERT_TRUE(body);
        const qreal barWidth = [&] {
            for (const QQuickItem *child : viewport->findChildren<QQuickItem *>())
                if (child->inherits("QQuickScrollBar") && child->property("orientation").toInt() == Qt::Vertical)
                    return child->width();
            return qreal(-1);
        }();
        ASSERT_GT(barWidth, 0);
        EXPECT_EQ(body->width(), viewport->width() - (offscreen ? 0 : barWidth)) << offscreen;
        EXPECT_TRUE(viewport->clip());
        EXPECT_EQ(flick->property("interactive").toBool(), !offscreen);
        EXPECT_EQ(flick->property("contentHeight").toReal(), body->implicitHeight() + (offscreen ? 0 : 8));
        EXPECT_EQ(flick->property("contentY").toReal(), 0);
        m_root->setParentItem(nullptr);
        m_root.reset();
    }
}
} // namespace
