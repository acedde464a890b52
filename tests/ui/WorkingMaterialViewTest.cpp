// The working material section and the input requests card as the window shows them: driven with
// mouse and keys in an off-screen window, and drawn off screen for the vision command.
#include "OffscreenReading.h"

#include "core/HubError.h"
#include "support/TestSupport.h"
#include "session/SessionTestSupport.h"
#include "ui/BuildShellActions.h"
#include "ui/HubViewState.h"
#include "ui/IconTheme.h"
#include "ui/Palette.h"
#include "ui/WorkingMaterialPresenter.h"
#include "ui/WorkingMaterialViews.h"

#include <QJSValue>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
using namespace sessiontest;
using namespace testsupport;
using offscreen::expectFound;

// The documents card as the working screen hosts it.
const char *const kSection = R"(
import QtQuick
import Tavrilo.Ui
Rectangle {
    id: host
    required property var model
    property bool offscreen: false
    readonly property HubViewState viewState: state
    color: HubPalette.card
    HubViewState { id: state; model: host.model; offscreenExport: host.offscreen }
    DocumentsSection {
        objectName: "section"
        anchors.fill: parent
        anchors.margins: 21
        model: host.model
        viewState: state
    }
})";

// The build shell panel over a stand-in of the documents object.
const char *const kShell = R"(
import QtQuick
import Tavrilo.Ui
Rectangle {
    id: host
    required property var model
    property bool offscreen: false
    readonly property HubViewState viewState: state
    readonly property QtObject documents: QtObject {
        readonly property ListModel shellLines: ListModel {
            ListElement { text: "$ make test" }
            ListElement { text: "[1/2] Building parser.o" }
            ListElement { text: "[2/2] Linking parser" }
            ListElement { text: "$ " }
        }
        property string shellStatus: "Connected"
        property var shellID: "shell-1"
        property bool shellReady: true
    }
    color: HubPalette.card
    HubViewState { id: state; model: host.model; offscreenExport: host.offscreen }
    BuildShellPanel {
        anchors.fill: parent
        anchors.margins: 21
        model: host.model
        viewState: state
        documents: host.documents
    }
})";

// The input requests card over the model's requests, with actions that note each reply.
const char *const kInputRequests = R"(
import QtQuick
import Tavrilo.Ui
Rectangle {
    id: host
    required property var model
    property bool offscreen: false
    property var replies: []
    readonly property HubViewState viewState: state
    readonly property QtObject stand: QtObject {
        property bool controlsConnected: true
        readonly property var inputRequests: host.model.inputRequests
        readonly property QtObject actions: QtObject {
            function replyElicitation(requestID, action, content) {
                host.replies = host.replies.concat([{ requestID: requestID, action: action, content: content }])
            }
        }
    }
    color: HubPalette.paper
    HubViewState { id: state; offscreenExport: host.offscreen }
    InputRequestsCard {
        x: 12; y: 12; width: parent.width - 24
        model: host.stand
        viewState: state
    }
})";

class WorkingMaterialView : public ::testing::Test
{
protected:
    WorkingMaterialView() { useHubIconTheme(); }
    ~WorkingMaterialView() override
    {
        EXPECT_TRUE(m_watched.warnings.isEmpty()) << m_watched.warnings.join(u'\n').toStdString();
    }

    std::unique_ptr<QQuickItem> create(const char *qml, int width, int height, bool offscreen = false)
    {
        QQmlComponent component(&m_watched.engine);
        component.setData(QByteArray(qml), QUrl());
        std::unique_ptr<QObject> made(component.createWithInitialProperties(
            {{QStringLiteral("model"), QVariant::fromValue(m_model.get())},
             {QStringLiteral("offscreen"), offscreen}}));
        EXPECT_TRUE(made) << component.errorString().toStdString();
        auto *item = qobject_cast<QQuickItem *>(made.get());
        if (!item)
            return {};
        made.release();
        item->setSize(QSizeF(width, height));
        return std::unique_ptr<QQuickItem>(item);
    }

    // Shows `root` in an off-screen window that takes mouse and keys.
    void show(QQuickItem *root)
    {
        m_window = std::make_unique<QQuickWindow>();
        m_window->resize(int(root->width()), int(root->height()));
        root->setParentItem(m_window->contentItem());
        m_window->show();
        m_window->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // The item called `name` among `root`'s visual descendants (views' delegates have no object
    // parent), or an object of `root`'s.
    static QObject *search(QQuickItem *root, const QString &name)
    {
        if (root->objectName() == name)
            return root;
        for (QQuickItem *child : root->childItems())
            if (QObject *found = search(child, name))
                return found;
        return root->findChild<QObject *>(name, Qt::FindDirectChildrenOnly);
    }
    template <typename T = QQuickItem> T *find(QQuickItem *root, const QString &name)
    {
        T *found = qobject_cast<T *>(search(root, name));
        EXPECT_TRUE(found) << name.toStdString();
        return found;
    }

    void click(QQuickItem *item)
    {
        ASSERT_TRUE(item);
        ASSERT_TRUE(item->isVisible());
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centre.toPoint());
    }

    void type(QQuickItem *field, const QString &text)
    {
        click(field);
        ASSERT_TRUE(field->hasActiveFocus());
        for (const QChar c : text)
            QTest::keyClick(m_window.get(), c.toLatin1());
    }

    // The panel the documents card shows now.
    QString panel(QQuickItem *root)
    {
        QObject *loader = find<QObject>(root, QStringLiteral("documentsPanel"));
        QObject *item = loader ? loader->property("item").value<QObject *>() : nullptr;
        return item ? item->objectName() : QString();
    }

    offscreen::Reading renderAndRead(QQuickItem *root, const QString &name)
    {
        const QImage image = offscreen::render(root, int(root->width()), int(root->height()));
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        EXPECT_TRUE(image.save(path));
        if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
            image.save(qEnvironmentVariable("HUB_KEEP_RENDERS") + u'/' + name + QStringLiteral(".png"));
        return offscreen::read(path).value_or(offscreen::Reading());
    }

    offscreen::WatchedEngine m_watched;
    std::unique_ptr<HubModel> m_model = makeModel();
    std::unique_ptr<QQuickWindow> m_window;
    QTemporaryDir m_dir;
};

// Signed in with a usable configuration.
void connect(HubModel &model)
{
    model.setIdentityToken(QStringLiteral("identity"));
    model.setConfiguration(configuration());
}

void seedChanges(HubModel &model)
{
    model.setChangeFiles({{QStringLiteral("src/app.ts"), QStringLiteral("M")},
                          {QStringLiteral("src/parser/settings.ts"), QStringLiteral("A")},
                          {QStringLiteral("README.md"), QStringLiteral("D")}});
    model.setChangesTruncated(true);
    model.setSelectedChangePath(QStringLiteral("src/app.ts"));
    model.setSelectedChangeDiff(QStringLiteral("@@ -10,3 +10,6 @@\n export function main() {\n+  render(view);\n }\n"));
    NativeASTChange render;
    render.id = QStringLiteral("n1");
    render.kind = QStringLiteral("function");
    render.name = QStringLiteral("render");
    render.change = QStringLiteral("added");
    render.afterLine = 12;
    NativeASTResult ast;
    ast.status = QStringLiteral("parsed");
    ast.language = QStringLiteral("TypeScript");
    ast.scope = QStringLiteral("module src/app.ts");
    ast.nodes = QList<NativeASTChange>{render};
    model.setSelectedChangeAST(ast);
}

// A captured picture holding one line of text, as the export's captures hold pages.
QImage picture(const QString &text)
{
    QImage image(900, 560, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(40);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(40, 40, 820, 80), Qt::AlignLeft, text);
    return image;
}

EventProjection::Elicitation request(const char *id, const char *mode, QStringList fields,
                                     std::optional<QString> url = std::nullopt)
{
    EventProjection::Elicitation r;
    r.id = r.requestID = QString::fromLatin1(id);
    r.mode = QString::fromLatin1(mode);
    r.message = QStringLiteral("Which database should the migration target?");
    r.fields = std::move(fields);
    r.url = std::move(url);
    return r;
}

TEST_F(WorkingMaterialView, TabsPickThePanelAndAnUnknownValueShowsTheEmptyState)
{
    const auto root = create(kSection, 760, 520);
    ASSERT_TRUE(root);
    show(root.get());
    EXPECT_EQ(panel(root.get()), QStringLiteral("emptyPanel"));
    EXPECT_TRUE(find(root.get(), QStringLiteral("openADocument"))->isVisible());
    EXPECT_FALSE(find(root.get(), QStringLiteral("documentNameLine"))->isVisible());

    const std::vector<std::pair<QString, QString>> tabs{{"Changes", "changesPanel"},
                                                        {"Browser", "browserPanel"},
                                                        {"Build shell", "shellPanel"},
                                                        {"Research", "emptyPanel"}};
    for (const auto &[tab, shown] : tabs) {
        click(find(root.get(), QStringLiteral("tab:") + tab));
        EXPECT_EQ(m_model->selectedDocumentTab(), tab);
        EXPECT_EQ(panel(root.get()), shown) << tab.toStdString();
        for (const QString &other : WorkingMaterial::tabs())
            EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("tab:") + other)->property("selected").toBool(),
                      other == tab);
    }

    // A value another writer put there: no tab highlighted, the plain document symbol, no button.
    m_model->setSelectedDocumentTab(QStringLiteral("Notes"));
    EXPECT_EQ(panel(root.get()), QStringLiteral("emptyPanel"));
    for (const QString &tab : WorkingMaterial::tabs())
        EXPECT_FALSE(find<QObject>(root.get(), QStringLiteral("tab:") + tab)->property("selected").toBool());
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("emptyIcon"))->property("symbol").toString(),
              QStringLiteral("doc"));
    EXPECT_FALSE(find(root.get(), QStringLiteral("openADocument"))->isVisible());

    // An opened text document on the research tab, with its name line.
    m_model->setDocumentURL(QUrl::fromLocalFile(QStringLiteral("/work/notes.md")));
    m_model->setDocument(QStringLiteral("# Notes\nThe parser rejects unknown keys."));
    click(find(root.get(), QStringLiteral("tab:Research")));
    EXPECT_EQ(panel(root.get()), QStringLiteral("textPanel"));
    EXPECT_TRUE(find(root.get(), QStringLiteral("documentNameLine"))->isVisible());
    click(find(root.get(), QStringLiteral("tab:Changes")));
    EXPECT_FALSE(find(root.get(), QStringLiteral("documentNameLine"))->isVisible());
}

TEST_F(WorkingMaterialView, TheChangesPanelListsTheFilesAndTheSelectedDiff)
{
    seedChanges(*m_model);
    m_model->setSelectedDocumentTab(QStringLiteral("Changes"));
    const auto root = create(kSection, 760, 520);
    ASSERT_TRUE(root);
    show(root.get());
    auto *files = find<QObject>(root.get(), QStringLiteral("changeFiles"));
    ASSERT_TRUE(files);
    EXPECT_EQ(files->property("count").toInt(), 3);
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("changeFile:src/app.ts"))->property("tint").value<QColor>(),
              Palette::green());
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("changeFile:README.md"))->property("tint").value<QColor>(),
              Palette::ink());
    EXPECT_TRUE(find<QObject>(root.get(), QStringLiteral("changeDiff"))->property("text").toString().contains(
        QStringLiteral("render(view)")));
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("changesTitle"))->property("text").toString(),
              QStringLiteral("src/app.ts"));
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("astOutline"))->property("rows").toInt(), 1);

    // The model clears its changes (a project switch): the empty texts.
    m_model->clearChanges();
    EXPECT_EQ(files->property("count").toInt(), 0);
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("diffPlaceholder"))->property("text").toString(),
              QStringLiteral("Select a file to inspect its working-tree diff."));
}

TEST_F(WorkingMaterialView, TheBuildShellShowsItsTranscriptAndSendsTheTypedLine)
{
    const auto root = create(kShell, 760, 420);
    ASSERT_TRUE(root);
    show(root.get());
    EXPECT_EQ(find<QObject>(root.get(), QStringLiteral("shellTranscript"))->property("count").toInt(), 4);
    EXPECT_FALSE(find(root.get(), QStringLiteral("shellPlaceholder"))->isVisible());
    EXPECT_TRUE(find(root.get(), QStringLiteral("closeShell"))->isVisible());

    auto *actions = find<BuildShellActions>(root.get(), QStringLiteral("shellActions"));
    ASSERT_TRUE(actions);
    QStringList sent;
    bool fail = false;
    actions->setSender([&](QString text) -> QCoro::Task<void> {
        sent.append(text);
        if (fail)
            throw HubError(QStringLiteral("Wait for the shell's initial STATUS before sending input."));
        co_return;
    });
    auto *state = root->property("viewState").value<HubViewState *>();
    QQuickItem *field = find(root.get(), QStringLiteral("shellInput"));

    type(field, QStringLiteral("ls -la"));
    EXPECT_EQ(state->shellInput(), QStringLiteral("ls -la"));
    QTest::keyClick(m_window.get(), Qt::Key_Return);
    EXPECT_EQ(sent, QStringList{"ls -la\n"});
    EXPECT_TRUE(state->shellInput().isEmpty());
    EXPECT_TRUE(field->property("text").toString().isEmpty());

    // "Send" with nothing typed sends one line feed.
    click(find(root.get(), QStringLiteral("sendShell")));
    EXPECT_EQ(sent.last(), QStringLiteral("\n"));

    // A send that fails keeps the line: it is back in the field, the failure in the status line.
    fail = true;
    type(field, QStringLiteral("make"));
    QTest::keyClick(m_window.get(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !state->shellInput().isEmpty(); }));
    EXPECT_EQ(state->shellInput(), QStringLiteral("make"));
    EXPECT_EQ(field->property("text").toString(), QStringLiteral("make"));
    EXPECT_EQ(m_model->message(), QStringLiteral("Wait for the shell's initial STATUS before sending input."));
}

TEST(ShellInput, AFailedSendLeavesWhatTheUserTypedSince)
{
    QString field = QStringLiteral("first");
    QString report;
    const shellinput::Field access{[&] { return field; }, [&](const QString &text) { field = text; }};
    awaitFor(shellinput::send(
        access,
        [&](QString) -> QCoro::Task<void> {
            field = QStringLiteral("second"); // typed while the send was under way
            throw HubError(QStringLiteral("The shell connection closed."));
            co_return;
        },
        [&](const QString &sentence) { report = sentence; }));
    EXPECT_EQ(field, QStringLiteral("second"));
    EXPECT_EQ(report, QStringLiteral("The shell connection closed."));
}

TEST_F(WorkingMaterialView, AnAnswerCarriesEveryTypedFieldAndADeclineNothing)
{
    EventProjection projection;
    projection.elicitations = {request("req-1", "form", {"a", "b"}), request("req-2", "form", {"a"})};
    m_model->setEventProjection(projection);
    const auto root = create(kInputRequests, 520, 420);
    ASSERT_TRUE(root);
    show(root.get());
    EXPECT_FALSE(find(root.get(), QStringLiteral("noInputRequest"))->isVisible());

    // The same field name in two requests keeps two values.
    type(find(root.get(), QStringLiteral("field:req-1:b")), QStringLiteral("postgres "));
    type(find(root.get(), QStringLiteral("field:req-2:a")), QStringLiteral("kept here"));
    EXPECT_TRUE(find<QObject>(root.get(), QStringLiteral("field:req-1:a"))->property("text").toString().isEmpty());

    auto *req1 = find(root.get(), QStringLiteral("inputRequest:req-1"));
    auto *req2 = find(root.get(), QStringLiteral("inputRequest:req-2"));
    click(find(req1, QStringLiteral("respond")));
    click(find(req2, QStringLiteral("decline")));

    QVariant replies = root->property("replies");
    if (replies.metaType() == QMetaType::fromType<QJSValue>())
        replies = replies.value<QJSValue>().toVariant();
    const QVariantList list = replies.toList();
    ASSERT_EQ(list.size(), 2);
    const QVariantMap respond = list.at(0).toMap();
    EXPECT_EQ(respond.value("requestID").toString(), QStringLiteral("req-1"));
    EXPECT_EQ(respond.value("action").toString(), QStringLiteral("accept"));
    EXPECT_EQ(respond.value("content").toMap(), (QVariantMap{{"a", QString()}, {"b", "postgres "}}));
    const QVariantMap decline = list.at(1).toMap();
    EXPECT_EQ(decline.value("requestID").toString(), QStringLiteral("req-2"));
    EXPECT_EQ(decline.value("action").toString(), QStringLiteral("decline"));
    EXPECT_TRUE(decline.value("content").toMap().isEmpty());

    // Signed out: no answer can be pressed, but the fields still take typing.
    root->property("stand").value<QObject *>()->setProperty("controlsConnected", false);
    EXPECT_FALSE(find(req1, QStringLiteral("respond"))->isEnabled());
    EXPECT_FALSE(find(req1, QStringLiteral("decline"))->isEnabled());
    type(find(root.get(), QStringLiteral("field:req-1:a")), QStringLiteral("x"));
    EXPECT_EQ(root->property("viewState").value<HubViewState *>()->elicitationValues().value("req-1:a").toString(),
              QStringLiteral("x"));

    // Answered and gone: the empty text; a url request with an http address shows no page or field.
    projection.elicitations = {request("req-3", "url", {"token"}, QStringLiteral("http://example.test/"))};
    m_model->setEventProjection(projection);
    EXPECT_EQ(search(root.get(), QStringLiteral("field:req-3:token")), nullptr);
    m_model->setEventProjection(EventProjection());
    EXPECT_TRUE(find(root.get(), QStringLiteral("noInputRequest"))->isVisible());
}

// Each tab of the card as the headless export draws it, read back by the vision command.
TEST_F(WorkingMaterialView, EachTabRendersItsTexts)
{
    struct Frame
    {
        QString name;
        std::function<void(HubModel &)> seed;
        QStringList texts;
    };
    const std::vector<Frame> frames{
        {"research-empty", [](HubModel &) {},
         {"Documents", "WORKING MATERIAL", "Research", "Changes", "Browser", "Build shell", "Research documents",
          "Open a project document or PDF", "Open a document"}},
        {"research-text",
         [](HubModel &m) {
             m.setDocumentURL(QUrl::fromLocalFile(QStringLiteral("/work/notes/release-plan.md")));
             m.setDocument(QStringLiteral("Release plan\n\nThe parser rejects unknown keys and reports each one."));
         },
         {"release-plan.md", "Release plan", "rejects unknown keys"}},
        {"changes",
         [](HubModel &m) {
             seedChanges(m);
             m.setSelectedDocumentTab(QStringLiteral("Changes"));
         },
         {"src/app.ts", "Refresh", "TypeScript AST declaration changes", "First 200 changed files shown.",
          "function render", "render(view)"}},
        {"browser",
         [](HubModel &m) {
             connect(m);
             m.setBrowserSessionPresent(true);
             m.setSelectedDocumentTab(QStringLiteral("Browser"));
         },
         // "Take control" is disabled without a grant: too faint for the reader.
         {"Open live browser", "The live browser is ready. Open its secure view."}},
        {"research-captured-pdf",
         [](HubModel &m) {
             m.setDocumentURL(QUrl::fromLocalFile(QStringLiteral("/work/papers/quarterly.pdf")));
             m.setCapturedPDF(picture(QStringLiteral("Quarterly report")));
         },
         {"quarterly.pdf", "Quarterly report"}},
        {"browser-captured",
         [](HubModel &m) {
             m.setCapturedBrowser(picture(QStringLiteral("Checkout page")));
             m.setSelectedDocumentTab(QStringLiteral("Browser"));
         },
         {"Checkout page"}},
        {"build-shell",
         [](HubModel &m) {
             connect(m);
             m.setRunning(true);
             m.setSelectedDocumentTab(QStringLiteral("Build shell"));
         },
         {"Not opened", "Open shell", "Shell output appears here after connection.", "Shell input"}},
    };
    for (const Frame &frame : frames) {
        m_model = makeModel();
        frame.seed(*m_model);
        const auto root = create(kSection, 760, 520, true);
        ASSERT_TRUE(root);
        SCOPED_TRACE(frame.name.toStdString());
        expectFound(renderAndRead(root.get(), frame.name), frame.texts);
    }

    connect(*m_model);
    const auto shell = create(kShell, 760, 360, true);
    ASSERT_TRUE(shell);
    expectFound(renderAndRead(shell.get(), QStringLiteral("shell-transcript")),
                {"Connected", "Reconnect", "Close", "make test", "Linking parser", "Shell input"});

    EventProjection projection;
    projection.elicitations = {request("req-1", "form", {"database", "schema"})};
    m_model->setEventProjection(projection);
    const auto card = create(kInputRequests, 520, 200, true);
    ASSERT_TRUE(card);
    expectFound(renderAndRead(card.get(), QStringLiteral("input-requests")),
                {"MCP input", "Which database should the migration target?", "database", "schema",
                 "Original request state retained", "Decline", "Respond"});
}
} // namespace
