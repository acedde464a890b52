#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

// The "WORKING MATERIAL" section's decisions: which panel the selected tab shows and what each
// panel's controls say and allow. Plain functions of the model's values, so they are tested as
// tables; QML reaches them through the `WorkingMaterial` singleton below and only lays out.

// The section around its panels: the tab strip, the document name line and the panel slot.
struct DocumentsPanel
{
    Q_GADGET
    QML_VALUE_TYPE(documentsPanel)
    Q_PROPERTY(QString panel MEMBER panel)
    Q_PROPERTY(QString icon MEMBER icon)
    Q_PROPERTY(bool nameLineShown MEMBER nameLineShown)
    Q_PROPERTY(QString fileName MEMBER fileName)
    Q_PROPERTY(bool openButtonShown MEMBER openButtonShown)

public:
    // "browser", "shell", "changes", "pdf" (the live PDF view), "capturedPDF" (the export's picture
    // of it), "text" or "empty".
    QString panel;
    QString icon; // the selected tab's symbol, shown by the empty state
    bool nameLineShown = false;
    QString fileName;             // the document's last path component
    bool openButtonShown = false; // the empty state's "Open a document"

    bool operator==(const DocumentsPanel &) const = default;
};

struct DocumentsInputs
{
    QString tab;
    QString document;
    QUrl documentURL; // empty when no document is open
    bool offscreenExport = false;
    bool hasCapturedPDF = false;
};
DocumentsPanel documentsPanel(const DocumentsInputs &in);

// The live browser tab's two controls and what its viewer shows.
struct LiveBrowserPanel
{
    Q_GADGET
    QML_VALUE_TYPE(liveBrowserPanel)
    Q_PROPERTY(QString openTitle MEMBER openTitle)
    Q_PROPERTY(bool openEnabled MEMBER openEnabled)
    Q_PROPERTY(QString controlTitle MEMBER controlTitle)
    Q_PROPERTY(bool controlEnabled MEMBER controlEnabled)
    Q_PROPERTY(QString viewer MEMBER viewer)
    Q_PROPERTY(QString viewerText MEMBER viewerText)

public:
    QString openTitle;
    bool openEnabled = false;
    QString controlTitle;
    bool controlEnabled = false;
    QString viewer; // "captured", "live" or "text"
    QString viewerText;

    bool operator==(const LiveBrowserPanel &) const = default;
};

struct LiveBrowserInputs
{
    bool controlsConnected = false;
    bool browserSessionPresent = false;
    bool browserAvailable = false;
    QString browserHolder;
    bool controlInFlight = false;
    bool running = false;
    bool offscreenExport = false;
    bool hasCapturedBrowser = false;
};
LiveBrowserPanel liveBrowserPanel(const LiveBrowserInputs &in);
// The holder a press of the control button asks for, decided from the holder when the press runs.
QString nextBrowserHolder(const QString &holder);

// The build shell tab's controls.
struct BuildShellPanel
{
    Q_GADGET
    QML_VALUE_TYPE(buildShellPanel)
    Q_PROPERTY(QString openTitle MEMBER openTitle)
    Q_PROPERTY(bool openEnabled MEMBER openEnabled)
    Q_PROPERTY(bool closeShown MEMBER closeShown)
    Q_PROPERTY(bool sendEnabled MEMBER sendEnabled)

public:
    QString openTitle;
    bool openEnabled = false;
    bool closeShown = false;
    bool sendEnabled = false;

    bool operator==(const BuildShellPanel &) const = default;
};
BuildShellPanel buildShellPanel(bool controlsConnected, bool running, bool shellHeld, bool shellReady);

// The changes tab: its title, its notices and the selected file's detail.
struct ChangesPanel
{
    Q_GADGET
    QML_VALUE_TYPE(changesPanel)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(bool progressShown MEMBER progressShown)
    Q_PROPERTY(bool emptyListShown MEMBER emptyListShown)
    Q_PROPERTY(QString astHeading MEMBER astHeading)
    Q_PROPERTY(QString astScope MEMBER astScope)
    Q_PROPERTY(bool outlineShown MEMBER outlineShown)
    Q_PROPERTY(QString astNote MEMBER astNote)
    Q_PROPERTY(QString diff MEMBER diff)
    Q_PROPERTY(QString diffCutNote MEMBER diffCutNote)
    Q_PROPERTY(QString diffPlaceholder MEMBER diffPlaceholder)

public:
    QString title;
    bool progressShown = false;
    bool emptyListShown = false;
    QString astHeading;    // empty: no syntax-tree heading
    QString astScope;      // empty: none
    bool outlineShown = false;
    QString astNote;       // the note under the heading, or the fallback without one; empty: none
    QString diff;          // as much of the diff as is shown
    QString diffCutNote;   // says the diff was cut; empty when it is whole
    QString diffPlaceholder;

    bool operator==(const ChangesPanel &) const = default;
};

struct ChangesInputs
{
    bool loading = false;
    bool filesEmpty = true;
    QVariant selectedPath; // a string, or invalid when no file is selected
    QString diff;
    QVariant ast; // the model's syntax-tree result map, or invalid
};
// Longest diff shown, in UTF-16 code units: a multi-megabyte diff would hold the window for seconds
// in one text layout.
inline constexpr qsizetype kShownDiffLimit = 100'000;
ChangesPanel changesPanel(const ChangesInputs &in);

// One input request: what shows and what an answer sends.
namespace inputrequests
{
// The form's fields show only for a form request.
bool showsFields(const QString &mode);
// The page of a "url" request shows only for an address that parses with the scheme exactly "https".
bool showsBrowser(const QString &mode, const QVariant &url);
// The key of one typed value in the view's map.
QString valueKey(const QString &requestID, const QString &field);
// What an answer sends: for "accept" every field of the request with its typed value, the empty
// string where nothing was typed, untrimmed. A decline sends nothing: what the user typed and then
// refused stays on this computer.
QVariantMap content(const QString &requestID, const QStringList &fields, const QVariantMap &values,
                    const QString &action);
} // namespace inputrequests

// The section's decisions for QML: `WorkingMaterial.documents(...)` and its siblings.
class WorkingMaterial : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QStringList tabs READ tabs CONSTANT)

public:
    using QObject::QObject;

    // "Research", "Changes", "Browser", "Build shell": each at once the label and the identity.
    static const QStringList &tabs();

    // `documentURL` is the model's value: a URL, or undefined when no document is open.
    Q_INVOKABLE static DocumentsPanel documents(const QString &tab, const QString &document, const QVariant &documentURL,
                                                bool offscreenExport, bool hasCapturedPDF);
    Q_INVOKABLE static LiveBrowserPanel liveBrowser(bool controlsConnected, bool browserSessionPresent,
                                                    bool browserAvailable, const QString &browserHolder,
                                                    bool controlInFlight, bool running, bool offscreenExport,
                                                    bool hasCapturedBrowser);
    Q_INVOKABLE static QString nextHolder(const QString &holder) { return nextBrowserHolder(holder); }
    // `shellID` is the documents' value: a string, or undefined when no shell is held.
    Q_INVOKABLE static BuildShellPanel buildShell(bool controlsConnected, bool running, const QVariant &shellID,
                                                  bool shellReady);
    Q_INVOKABLE static ChangesPanel changes(bool loading, int fileCount, const QVariant &selectedPath,
                                            const QString &diff, const QVariant &ast);

    Q_INVOKABLE static bool requestShowsFields(const QString &mode) { return inputrequests::showsFields(mode); }
    Q_INVOKABLE static bool requestShowsBrowser(const QString &mode, const QVariant &url)
    {
        return inputrequests::showsBrowser(mode, url);
    }
    Q_INVOKABLE static QString valueKey(const QString &requestID, const QString &field)
    {
        return inputrequests::valueKey(requestID, field);
    }
    Q_INVOKABLE static QVariantMap replyContent(const QString &requestID, const QStringList &fields,
                                                const QVariantMap &values, const QString &action)
    {
        return inputrequests::content(requestID, fields, values, action);
    }
};
