#pragma once

#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "core/async/CancelToken.h"
#include "headless/OffscreenWindowProof.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>
#include <QImage>

#include <functional>
#include <optional>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

class HeadlessFrameStage;
class HubLayout;
class HubModel;
class JournalFolder;
class QQmlComponent;
class QQmlEngine;
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

    // --- Frames ----------------------------------------------------------------------------------

    static constexpr int kLogicalWidth = 1440;
    static constexpr int kLogicalHeight = 900;
    static constexpr int kScale = 2;
    static constexpr int kLanesWidth = 1100;
    static constexpr int kLanesHeight = 128;

    // One row of the frame table: the file name without ".png" and the view selection it is drawn in.
    struct FrameRow
    {
        QString name;
        bool selected = true;
        QString inspector;
        QString tab;
    };
    // The eight frames of an export, in the order they are produced.
    static const QList<FrameRow> &frameTable();
    // The row named `name` (a live snapshot is taken with its row's values).
    static const FrameRow &frameRow(const QString &name);

    // The two ways of drawing a frame: the root view built for export (live views as captured
    // pictures, nothing scrolls), or exactly as the window shows it. Both draw off screen.
    static QString renderModeName(bool nativeHierarchy);

    // One encoded frame and what describes it in the manifest (15 keys).
    struct TemporalSnapshot
    {
        QByteArray data;
        Json metadata;
    };

    // Draws the window's root view, `HubView`, off screen: one QML engine for the export, a fresh
    // root view (and so a fresh view state) for every frame, drawn by Qt Quick's software renderer
    // through a render control into a 2880 x 1800 image. Main thread only.
    class FrameRenderer
    {
    public:
        explicit FrameRenderer(bool nativeHierarchy);
        ~FrameRenderer();
        FrameRenderer(const FrameRenderer &) = delete;
        FrameRenderer &operator=(const FrameRenderer &) = delete;

        bool nativeHierarchy() const { return m_nativeHierarchy; }
        // The root view of `model` at 1440 x 900 points and scale 2: polished, synchronised and
        // drawn in one go, so the model cannot change in between. Throws the mode's sentences.
        QImage draw(HubModel &model, const QString &name);

    private:
        bool m_nativeHierarchy;
        std::unique_ptr<QQmlEngine> m_engine;
        std::unique_ptr<QQmlComponent> m_component;
    };

    // Puts `model` into the row's view selection, draws the lanes for the current activity into
    // `renderedActivity` (kept afterwards), draws and encodes the frame, checks that no window
    // appeared, and describes the frame. The view selection is back as it was on every way out.
    static TemporalSnapshot snapshot(FrameRenderer &renderer, HubModel &model, const FrameRow &row,
                                     qint64 windowsBefore);
    // The lanes the snapshot draws, kept apart so a test can stand in for the GPU.
    using LanesDrawer = std::function<QImage(qint64 activeMask, float velocity)>;
    static TemporalSnapshot snapshot(FrameRenderer &renderer, HubModel &model, const FrameRow &row,
                                     qint64 windowsBefore, const LanesDrawer &lanes);

    // What the render hands to the capture run for publication.
    struct Export
    {
        QString output;
        std::shared_ptr<HeadlessFrameStage> stage;
        QStringList names;
        Json manifest;
        qint64 count = 0;
        QString device;
    };
    struct RenderRun
    {
        qint64 windowsBefore = 0;
        bool liveProfile = false;
        bool observingSession = false;
        bool shellRoundTripVerified = false;
        // The folder named on the command line; the private default folder when absent.
        std::optional<QString> output;
    };
    // The layout check, the GPU probe and benchmark, the stage, the eight frames (taking a live one
    // from `snapshots` where the run supplied it), the window check and the manifest's 25 keys.
    // A failure after the stage exists discards it.
    static QCoro::Task<Export> render(FrameRenderer &renderer, HubModel &model, RenderRun run,
                                      std::map<QString, TemporalSnapshot> snapshots);

    // --- The live tool proofs ---------------------------------------------------------------------

    enum class BrowserNavigationState { Pending, Succeeded, Failed };
    // Whether a specialist of turn `turnID` navigated the owned browser: the newest successful
    // navigation wins over any failed one.
    static BrowserNavigationState browserNavigationState(const QList<WorkspaceEvent> &events,
                                                         const std::optional<QString> &turnID);
    // Waits for a successful navigation of the observed turn, opens the session's live browser and
    // captures it into `capturedBrowser`. `wait` is the capture wait in seconds.
    static QCoro::Task<void> browserProof(HubModel &model, double wait, qint64 windowsBefore, CancelToken token);
    // Opens the build shell, waits for it, runs a harmless printf and waits for its output.
    static QCoro::Task<void> shellProof(HubModel &model, CancelToken token);
    // "TAVRILO_SHELL_PROOF_" and 32 upper-case hexadecimal digits, new for every call.
    static QString newProofMarker();
    // The command that prints `marker` without the shell's echo of it ever containing it.
    static QString proofCommand(const QString &marker);

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

    // The manifest's 25 keys of a render: the model, the run and the windows as `census` saw them.
    static Json manifestFor(HubModel &model, const RenderRun &run, bool nativeHierarchy, const WindowCensus &census,
                            const QString &device, const Json &throughput, const Json &frames);

    // --- The layout check -------------------------------------------------------------------------

    // Moves the workforce region of the bundled "layout.json" three columns right and makes it three
    // columns narrower, in memory, and checks that the window's region geometry follows exactly.
    // Throws "Cannot test native geometry projection.", "Native frame does not reflect mutated
    // shared JSON." or the error of reading or decoding the resource.
    static void verifyLayoutMutation();
    static void verifyLayoutMutation(const ResourceBundle &bundle);
};
