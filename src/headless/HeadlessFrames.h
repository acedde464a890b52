#pragma once

#include "core/WorkspaceEvent.h"
#include "core/async/CancelToken.h"
#include "headless/OffscreenWindowProof.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <vector>

class HubLayout;
class JournalFolder;
class ResourceBundle;

// The headless frame export and the checks it runs on its way: the local journal's tail, the
// off-screen window guard and the proof that the window's geometry follows the layout resource.
// Everything runs on the main thread.
class HeadlessFrames
{
public:
    // The whole export for the process's `arguments` (executable first). Throws HubError for every
    // refusal and failure, CancelledError once `token` fires.
    static QCoro::Task<void> dump(QStringList arguments, CancelToken token);

    // --- The local journal ------------------------------------------------------------------------

    static constexpr qint64 kJournalWindow = 98'304;
    static constexpr int kJournalLines = 5;
    static constexpr qsizetype kJournalLineLimit = 16'384;
    static constexpr std::chrono::milliseconds kJournalLockPatience{10'000};

    // The events of the last five lines of "/tmp/tavrilo/<appID>/events.jsonl", read under a shared
    // lock of "events.lock" that is asked for without blocking and again every 50 ms until
    // `patience` has passed ("Cannot lock shared journal for frame export.") or `token` fires.
    // Nothing when the lock file or the journal is missing or a symbolic link; "Unsafe event lock."
    // or "Unsafe event log owner or type." when either is not a regular file of the current user.
    static QCoro::Task<std::vector<WorkspaceEvent>> readJournal(QString appID, CancelToken token);
    static QCoro::Task<std::vector<WorkspaceEvent>> readJournal(JournalFolder folder, QString appID,
                                                                std::chrono::milliseconds patience, CancelToken token);
    // The events of the last lines of `window`, the journal's bytes from `offset` to its end; from a
    // window that starts inside the file (offset > 0, its first byte the one before the window) the
    // line cut by the window's start is dropped.
    static std::vector<WorkspaceEvent> journalEvents(const QByteArray &window, qint64 offset, const QString &appID);

    // --- The off-screen window guard --------------------------------------------------------------

    struct WindowDescription
    {
        QString className;
        qint64 number = 0;
        bool visible = false;
        bool key = false;
        bool main = false;
    };
    struct WindowCensus
    {
        QList<WindowDescription> windows; // every counted window, in the application's order
        qint64 visible = 0;
        bool frontmost = false;
    };
    // The application's windows that exist on the platform (those with a platform window; the
    // window a render control draws for is never created and so never counted), the visible ones,
    // and whether the hub is the active application or holds the focus. Empty without an
    // application object.
    static WindowCensus windowCensus();
    static qint64 windowCount() { return windowCensus().windows.size(); }

    // The proof when nothing appeared since `windowsBefore` was counted; otherwise writes the
    // "CAPTURE_WINDOW_GUARD " line to standard error in one write and throws "Offscreen guard
    // refused <phase>: ...".
    static OffscreenWindowProof requireOffscreen(qint64 windowsBefore, const QString &phase);
    static OffscreenWindowProof requireOffscreen(const WindowCensus &census, qint64 windowsBefore,
                                                 const QString &phase);
    // What a refusal writes and throws, for `census`.
    struct GuardRefusal
    {
        QByteArray line; // "CAPTURE_WINDOW_GUARD " + compact JSON with sorted keys + "\n"
        QString sentence;
    };
    static GuardRefusal guardRefusal(const WindowCensus &census, qint64 windowsBefore, const QString &phase);

    // --- The layout check -------------------------------------------------------------------------

    // Moves the workforce region of the bundled "layout.json" three columns right and makes it three
    // columns narrower, in memory, and checks that the window's region geometry follows exactly.
    // Throws "Cannot test native geometry projection.", "Native frame does not reflect mutated
    // shared JSON." or the error of reading or decoding the resource.
    static void verifyLayoutMutation();
    static void verifyLayoutMutation(const ResourceBundle &bundle);
};
