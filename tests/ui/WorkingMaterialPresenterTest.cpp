#include "ui/WorkingMaterialPresenter.h"
#include "ui/WorkingMaterialViews.h"


#include <gtest/gtest.h>

namespace
{
const QUrl kPDF = QUrl::fromLocalFile(QStringLiteral("/work/papers/Report.PDF"));
const QUrl kNotes = QUrl::fromLocalFile(QStringLiteral("/work/notes.md"));

TEST(DocumentsPanel, TheFirstMatchingCaseWins)
{
    struct Case
    {
        DocumentsInputs in;
        QString panel;
        bool nameLine;
        bool openButton;
    };
    const QString text = QStringLiteral("# Notes");
    const std::vector<Case> cases{
        {{"Research", {}, {}, false, false}, "empty", false, true},
        {{"Browser", text, kPDF, false, false}, "browser", false, false},
        {{"Build shell", text, kPDF, false, false}, "shell", false, false},
        {{"Changes", text, kPDF, false, false}, "changes", false, false},
        // The extension is compared lower-cased, and a PDF wins over a text.
        {{"Research", text, kPDF, false, false}, "pdf", true, false},
        {{"Research", text, kPDF, true, false}, "pdf", true, false},
        {{"Research", text, kPDF, true, true}, "capturedPDF", true, false},
        {{"Research", text, kPDF, false, true}, "pdf", true, false},
        {{"Research", text, kNotes, false, false}, "text", true, false},
        {{"Research", text, {}, false, false}, "text", false, false},
        // A text document with no text: the empty state under the name line.
        {{"Research", {}, kNotes, false, false}, "empty", true, true},
        // Tab names are exact.
        {{"research", text, kNotes, false, false}, "empty", false, false},
        {{"Notes", {}, {}, false, false}, "empty", false, false},
    };
    for (const Case &c : cases) {
        const DocumentsPanel out = documentsPanel(c.in);
        EXPECT_EQ(out.panel, c.panel) << c.in.tab.toStdString();
        EXPECT_EQ(out.nameLineShown, c.nameLine) << c.in.tab.toStdString();
        EXPECT_EQ(out.openButtonShown, c.openButton) << c.in.tab.toStdString();
    }
    EXPECT_EQ(documentsPanel({"Research", {}, kPDF, false, false}).fileName, QStringLiteral("Report.PDF"));
}

TEST(DocumentsPanel, EachTabHasItsSymbolAndAnyOtherValueTheDocument)
{
    const std::vector<std::pair<QString, QString>> cases{
        {"Research", "doc.text.magnifyingglass"},
        {"Changes", "point.3.connected.trianglepath.dotted"},
        {"Browser", "globe"},
        {"Build shell", "terminal"},
        {"Build Shell", "doc"},
        {"", "doc"},
    };
    for (const auto &[tab, icon] : cases)
        EXPECT_EQ(documentsPanel({tab, {}, {}, false, false}).icon, icon) << tab.toStdString();
    EXPECT_EQ(WorkingMaterial::tabs(), (QStringList{"Research", "Changes", "Browser", "Build shell"}));
}

TEST(LiveBrowserPanel, ButtonsAndViewerFollowTheModel)
{
    struct Case
    {
        LiveBrowserInputs in;
        LiveBrowserPanel out;
    };
    const QString ready = QStringLiteral("The live browser is ready. Open its secure view.");
    const QString notYet = QStringLiteral("The specialist has not opened a live browser yet.");
    const QString start = QStringLiteral("Start a turn to make its secure live browser available.");
    // connected, session present, grant held, holder, in flight, running, off screen, captured
    const std::vector<Case> cases{
        {{false, true, false, "agent", false, true, false, false}, {"Open live browser", false, "Take control", false, "text", ready}},
        {{true, false, false, "agent", false, true, false, false}, {"Open live browser", false, "Take control", false, "text", notYet}},
        {{true, false, false, "agent", false, false, false, false}, {"Open live browser", false, "Take control", false, "text", start}},
        {{true, true, false, "agent", false, false, false, false}, {"Open live browser", true, "Take control", false, "text", ready}},
        {{true, true, true, "agent", false, false, false, false}, {"Refresh live browser", true, "Take control", true, "live", {}}},
        {{true, true, true, "customer", true, false, false, false}, {"Refresh live browser", true, "Release control", false, "live", {}}},
        // The grant held while the platform stops reporting a browser.
        {{true, false, true, "agent", false, false, false, false}, {"Refresh live browser", false, "Take control", true, "live", {}}},
        // Off screen the captured frame wins even without a grant; without one the window's rule.
        {{true, false, false, "agent", false, false, true, true}, {"Open live browser", false, "Take control", false, "captured", {}}},
        {{true, true, true, "agent", false, false, true, false}, {"Refresh live browser", true, "Take control", true, "live", {}}},
        {{true, true, true, "agent", false, false, false, true}, {"Refresh live browser", true, "Take control", true, "live", {}}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(liveBrowserPanel(cases[i].in), cases[i].out) << "case " << i;

    EXPECT_EQ(nextBrowserHolder(QStringLiteral("customer")), QStringLiteral("agent"));
    EXPECT_EQ(nextBrowserHolder(QStringLiteral("agent")), QStringLiteral("customer"));
    EXPECT_EQ(nextBrowserHolder(QString()), QStringLiteral("customer"));
}

TEST(BuildShellPanel, OpenCloseAndSendFollowTheShell)
{
    struct Case
    {
        bool connected, running, held, ready;
        BuildShellPanel out;
    };
    const std::vector<Case> cases{
        {false, true, true, true, {"Reconnect", false, true, true}},
        {false, true, false, false, {"Open shell", false, false, false}},
        {true, false, false, false, {"Open shell", false, false, false}},
        {true, true, false, false, {"Open shell", true, false, false}},
        {true, false, true, false, {"Reconnect", true, true, false}},
        {true, false, true, true, {"Reconnect", true, true, true}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        EXPECT_EQ(buildShellPanel(c.connected, c.running, c.held, c.ready), c.out) << "case " << i;
    }
    // The documents object's shell id reaches QML as an optional.
    EXPECT_TRUE(WorkingMaterial::buildShell(true, false, QVariant::fromValue(std::optional<QString>("s")), false)
                    .closeShown);
    EXPECT_FALSE(WorkingMaterial::buildShell(true, false, QVariant::fromValue(std::optional<QString>()), false)
                     .closeShown);
    EXPECT_FALSE(WorkingMaterial::buildShell(true, false, QVariant(), false).closeShown);
}

QVariantMap ast(const char *status, QVariant language, QVariant nodes, QVariant reason = {}, QVariant scope = {})
{
    return {{"status", QString::fromLatin1(status)}, {"language", language}, {"nodes", nodes},
            {"reason", reason},                      {"scope", scope}};
}

TEST(ChangesPanel, TitleNoticesAndTheSyntaxTreePart)
{
    const QVariant path(QStringLiteral("src/app.ts"));
    const QVariantList oneNode{QVariantMap{{"label", "added · function render · new → 12"}}};
    const QString noHost = QStringLiteral("This project host did not supply an AST preview. Showing unified diff.");
    const QString noNamed =
        QStringLiteral("No named declaration or import changes. Inspect the unified diff for other edits.");
    struct Case
    {
        ChangesInputs in;
        QString heading, scope, note;
        bool outline;
    };
    const std::vector<Case> cases{
        {{false, true, {}, {}, {}}, {}, {}, {}, false},
        {{false, false, path, "diff", {}}, {}, {}, noHost, false},
        {{false, false, path, "diff", ast("parsed", {}, QVariantList())}, "Source AST declaration changes", {}, noNamed, false},
        {{false, false, path, "diff", ast("parsed", {}, {})}, "Source AST declaration changes", {}, noNamed, false},
        {{false, false, path, "diff", ast("parsed", "TypeScript", oneNode, {}, "module app")},
         "TypeScript AST declaration changes", "module app", {}, true},
        {{false, false, path, "diff", ast("unsupported", {}, {}, "Binary file")}, {}, {}, "Binary file", false},
        {{false, false, path, "diff", ast("unsupported", {}, {})}, {}, {}, noHost, false},
        // A parsed result without a selection still shows.
        {{false, false, {}, {}, ast("parsed", "Go", oneNode)}, "Go AST declaration changes", {}, {}, true},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const ChangesPanel out = changesPanel(cases[i].in);
        EXPECT_EQ(out.astHeading, cases[i].heading) << "case " << i;
        EXPECT_EQ(out.astScope, cases[i].scope) << "case " << i;
        EXPECT_EQ(out.astNote, cases[i].note) << "case " << i;
        EXPECT_EQ(out.outlineShown, cases[i].outline) << "case " << i;
    }

    const ChangesPanel none = changesPanel({false, true, {}, {}, {}});
    EXPECT_EQ(none.title, QStringLiteral("Working-tree changes"));
    EXPECT_TRUE(none.emptyListShown);
    EXPECT_EQ(none.diffPlaceholder, QStringLiteral("Select a file to inspect its working-tree diff."));
    // An empty list during a read shows the indicator and not the empty text.
    const ChangesPanel reading = changesPanel({true, true, {}, {}, {}});
    EXPECT_TRUE(reading.progressShown);
    EXPECT_FALSE(reading.emptyListShown);
    const ChangesPanel selected = changesPanel({false, false, path, {}, {}});
    EXPECT_EQ(selected.title, QStringLiteral("src/app.ts"));
    EXPECT_EQ(selected.diffPlaceholder, QStringLiteral("No textual diff reported for this selection."));
    EXPECT_EQ(changesPanel({false, false, path, "@@ -1 +1 @@", {}}).diff, QStringLiteral("@@ -1 +1 @@"));
}

TEST(ChangesPanel, AHugeDiffIsCutAtALineAndSaysSo)
{
    const QString line = QStringLiteral("+ an added line of the generated file\n");
    QString diff;
    while (diff.size() < 4 * 1024 * 1024)
        diff += line;
    const ChangesPanel out = changesPanel({false, false, QStringLiteral("gen.txt"), diff, {}});
    EXPECT_LE(out.diff.size(), kShownDiffLimit);
    EXPECT_TRUE(diff.startsWith(out.diff));
    EXPECT_TRUE(out.diff.endsWith(u'\n') || diff.at(out.diff.size()) == u'\n');
    EXPECT_TRUE(out.diffCutNote.contains(QString::number(diff.size()))) << out.diffCutNote.toStdString();

    // One long line with no line end: cut at the limit, never inside a surrogate pair.
    QString emoji;
    while (emoji.size() <= kShownDiffLimit + 4)
        emoji += QStringLiteral("😀");
    emoji.prepend(u'x'); // an odd offset puts a high surrogate at the limit
    const ChangesPanel cut = changesPanel({false, false, QStringLiteral("e"), emoji, {}});
    EXPECT_FALSE(cut.diff.back().isHighSurrogate());
    EXPECT_FALSE(cut.diffCutNote.isEmpty());
    EXPECT_TRUE(changesPanel({false, false, QStringLiteral("e"), line, {}}).diffCutNote.isEmpty());
}

TEST(InputRequests, AnAcceptSendsEveryFieldAndADeclineNothing)
{
    const QStringList fields{"a", "b"};
    const QVariantMap values{{"req-1:b", "  typed  "}, {"req-2:a", "other request"}};
    EXPECT_EQ(inputrequests::content("req-1", fields, values, "accept"),
              (QVariantMap{{"a", QString()}, {"b", "  typed  "}}));
    EXPECT_EQ(inputrequests::content("req-1", fields, values, "decline"), QVariantMap());
    EXPECT_EQ(inputrequests::content("req-3", {}, values, "accept"), QVariantMap());
    // A url request's schema fields are still answered, empty.
    EXPECT_EQ(inputrequests::content("req-3", {"token"}, values, "accept"), (QVariantMap{{"token", QString()}}));
}

TEST(InputRequests, OnlyAFormShowsFieldsAndOnlyAnHttpsAddressAPage)
{
    EXPECT_TRUE(inputrequests::showsFields("form"));
    EXPECT_FALSE(inputrequests::showsFields("url"));
    const std::vector<std::pair<QVariant, bool>> cases{
        {QVariant("https://example.test/authorize"), true},
        {QVariant("http://example.test/authorize"), false},
        {QVariant("HTTPS://example.test/"), false}, // exact, though QUrl lower-cases what it parses
        {QVariant("javascript:alert(1)"), false},
        {QVariant("https://exa mple.test/"), false},
        {QVariant("not a url"), false},
        {QVariant(), false},
    };
    for (const auto &[url, shown] : cases)
        EXPECT_EQ(inputrequests::showsBrowser("url", url), shown) << url.toString().toStdString();
    EXPECT_FALSE(inputrequests::showsBrowser("form", QVariant("https://example.test/")));
}

TEST(ASTOutlineModel, NodesBecomeATree)
{
    ASTOutlineModel outline;
    outline.setNodes({QVariantMap{{"label", "changed · class App · 1 → 1"},
                                  {"children", QVariantList{QVariantMap{{"label", "added · method run · new → 4"}}}}},
                      QVariantMap{{"label", "removed · import os · 2 → removed"}}});
    ASSERT_EQ(outline.rowCount(), 2);
    const QModelIndex app = outline.index(0, 0);
    ASSERT_EQ(outline.rowCount(app), 1);
    const QModelIndex run = outline.index(0, 0, app);
    EXPECT_EQ(run.data(ASTOutlineModel::LabelRole).toString(), QStringLiteral("added · method run · new → 4"));
    EXPECT_EQ(outline.parent(run), app);
    EXPECT_FALSE(outline.parent(app).isValid());
    EXPECT_EQ(outline.rowCount(outline.index(1, 0)), 0);
    EXPECT_FALSE(outline.index(2, 0).isValid());
}
} // namespace
