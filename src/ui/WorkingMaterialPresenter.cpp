#include "ui/WorkingMaterialPresenter.h"

#include <QFileInfo>
#include <QMetaType>

#include <optional>

namespace
{
const QString kResearch = QStringLiteral("Research");
const QString kChanges = QStringLiteral("Changes");
const QString kBrowser = QStringLiteral("Browser");
const QString kBuildShell = QStringLiteral("Build shell");

QString tabIcon(const QString &tab)
{
    if (tab == kResearch)
        return QStringLiteral("doc.text.magnifyingglass");
    if (tab == kChanges)
        return QStringLiteral("point.3.connected.trianglepath.dotted");
    if (tab == kBrowser)
        return QStringLiteral("globe");
    if (tab == kBuildShell)
        return QStringLiteral("terminal");
    return QStringLiteral("doc");
}

QString optionalText(const QVariantMap &map, const char *key)
{
    const QVariant value = map.value(QLatin1StringView(key));
    return value.isValid() && !value.isNull() ? value.toString() : QString();
}
} // namespace

DocumentsPanel documentsPanel(const DocumentsInputs &in)
{
    DocumentsPanel out;
    out.icon = tabIcon(in.tab);
    const bool research = in.tab == kResearch;
    const bool hasURL = !in.documentURL.isEmpty();
    out.nameLineShown = research && hasURL;
    if (hasURL)
        out.fileName = in.documentURL.fileName();

    if (in.tab == kBrowser)
        out.panel = QStringLiteral("browser");
    else if (in.tab == kBuildShell)
        out.panel = QStringLiteral("shell");
    else if (in.tab == kChanges)
        out.panel = QStringLiteral("changes");
    else if (research && hasURL && QFileInfo(in.documentURL.path()).suffix().toLower() == QStringLiteral("pdf"))
        out.panel = in.offscreenExport && in.hasCapturedPDF ? QStringLiteral("capturedPDF") : QStringLiteral("pdf");
    else if (research && !in.document.isEmpty())
        out.panel = QStringLiteral("text");
    else
        out.panel = QStringLiteral("empty");
    out.openButtonShown = out.panel == QStringLiteral("empty") && research;
    return out;
}

QString nextBrowserHolder(const QString &holder)
{
    return holder == QStringLiteral("customer") ? QStringLiteral("agent") : QStringLiteral("customer");
}

LiveBrowserPanel liveBrowserPanel(const LiveBrowserInputs &in)
{
    LiveBrowserPanel out;
    out.openTitle = in.browserAvailable ? QStringLiteral("Refresh live browser") : QStringLiteral("Open live browser");
    out.openEnabled = in.controlsConnected && in.browserSessionPresent;
    out.controlTitle =
        in.browserHolder == QStringLiteral("customer") ? QStringLiteral("Release control") : QStringLiteral("Take control");
    out.controlEnabled = in.controlsConnected && in.browserAvailable && !in.controlInFlight;
    if (in.offscreenExport && in.hasCapturedBrowser) {
        out.viewer = QStringLiteral("captured");
    } else if (in.browserAvailable) {
        out.viewer = QStringLiteral("live");
    } else {
        out.viewer = QStringLiteral("text");
        out.viewerText = in.browserSessionPresent ? QStringLiteral("The live browser is ready. Open its secure view.")
                         : in.running ? QStringLiteral("The specialist has not opened a live browser yet.")
                                      : QStringLiteral("Start a turn to make its secure live browser available.");
    }
    return out;
}

BuildShellPanel buildShellPanel(bool controlsConnected, bool running, bool shellHeld, bool shellReady)
{
    BuildShellPanel out;
    out.openTitle = shellHeld ? QStringLiteral("Reconnect") : QStringLiteral("Open shell");
    out.openEnabled = controlsConnected && (running || shellHeld);
    out.closeShown = shellHeld;
    out.sendEnabled = shellReady;
    return out;
}

ChangesPanel changesPanel(const ChangesInputs &in)
{
    ChangesPanel out;
    const bool selected = in.selectedPath.isValid() && !in.selectedPath.isNull();
    const QString path = selected ? in.selectedPath.toString() : QString();
    out.title = selected ? path : QStringLiteral("Working-tree changes");
    out.progressShown = in.loading;
    out.emptyListShown = in.filesEmpty && !in.loading;

    const bool hasAST = in.ast.isValid() && !in.ast.isNull();
    const QVariantMap ast = in.ast.toMap();
    if (hasAST && ast.value(QStringLiteral("status")).toString() == QStringLiteral("parsed")) {
        const QString language = optionalText(ast, "language");
        out.astHeading = (ast.value(QStringLiteral("language")).isValid() ? language : QStringLiteral("Source")) +
                         QStringLiteral(" AST declaration changes");
        out.astScope = optionalText(ast, "scope");
        out.outlineShown = !ast.value(QStringLiteral("nodes")).toList().isEmpty();
        if (!out.outlineShown)
            out.astNote =
                QStringLiteral("No named declaration or import changes. Inspect the unified diff for other edits.");
    } else if (selected) {
        const QVariant reason = ast.value(QStringLiteral("reason"));
        out.astNote = hasAST && reason.isValid() && !reason.isNull()
                          ? reason.toString()
                          : QStringLiteral("This project host did not supply an AST preview. Showing unified diff.");
    }

    if (!in.diff.isEmpty()) {
        if (in.diff.size() > kShownDiffLimit) {
            // Cut at a line end where there is one, and never inside a surrogate pair.
            qsizetype cut = in.diff.lastIndexOf(u'\n', kShownDiffLimit - 1);
            if (cut <= 0) {
                cut = kShownDiffLimit;
                if (in.diff.at(cut - 1).isHighSurrogate())
                    --cut;
            }
            out.diff = in.diff.left(cut);
            out.diffCutNote = QStringLiteral("Diff cut after %1 of %2 characters; the rest is not shown.")
                                  .arg(cut)
                                  .arg(in.diff.size());
        } else {
            out.diff = in.diff;
        }
    } else {
        out.diffPlaceholder = selected ? QStringLiteral("No textual diff reported for this selection.")
                                       : QStringLiteral("Select a file to inspect its working-tree diff.");
    }
    return out;
}

bool inputrequests::showsFields(const QString &mode)
{
    return mode == QStringLiteral("form");
}

bool inputrequests::showsBrowser(const QString &mode, const QVariant &url)
{
    if (mode != QStringLiteral("url") || !url.isValid() || url.isNull())
        return false;
    // QUrl lower-cases the scheme it parses; the address is judged as the agent wrote it.
    const QString text = url.toString();
    const QUrl parsed(text, QUrl::StrictMode);
    return parsed.isValid() && text.startsWith(QStringLiteral("https:")) && parsed.scheme() == QStringLiteral("https");
}

QString inputrequests::valueKey(const QString &requestID, const QString &field)
{
    return requestID + u':' + field;
}

QVariantMap inputrequests::content(const QString &requestID, const QStringList &fields, const QVariantMap &values,
                                   const QString &action)
{
    QVariantMap out;
    if (action != QStringLiteral("accept"))
        return out;
    for (const QString &field : fields)
        out.insert(field, values.value(valueKey(requestID, field), QString()).toString());
    return out;
}

const QStringList &WorkingMaterial::tabs()
{
    static const QStringList list{kResearch, kChanges, kBrowser, kBuildShell};
    return list;
}

DocumentsPanel WorkingMaterial::documents(const QString &tab, const QString &document, const QVariant &documentURL,
                                          bool offscreenExport, bool hasCapturedPDF)
{
    return documentsPanel({tab, document, documentURL.toUrl(), offscreenExport, hasCapturedPDF});
}

LiveBrowserPanel WorkingMaterial::liveBrowser(bool controlsConnected, bool browserSessionPresent, bool browserAvailable,
                                              const QString &browserHolder, bool controlInFlight, bool running,
                                              bool offscreenExport, bool hasCapturedBrowser)
{
    return liveBrowserPanel({controlsConnected, browserSessionPresent, browserAvailable, browserHolder,
                             controlInFlight, running, offscreenExport, hasCapturedBrowser});
}

BuildShellPanel WorkingMaterial::buildShell(bool controlsConnected, bool running, const QVariant &shellID,
                                            bool shellReady)
{
    // The documents object announces its shell id as an optional, which reaches QML as it stands.
    const bool held = shellID.metaType() == QMetaType::fromType<std::optional<QString>>()
                          ? shellID.value<std::optional<QString>>().has_value()
                          : shellID.isValid() && !shellID.isNull();
    return buildShellPanel(controlsConnected, running, held, shellReady);
}

ChangesPanel WorkingMaterial::changes(bool loading, int fileCount, const QVariant &selectedPath, const QString &diff,
                                      const QVariant &ast)
{
    return changesPanel({loading, fileCount == 0, selectedPath, diff, ast});
}
