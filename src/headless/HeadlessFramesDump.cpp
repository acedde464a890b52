// The headless export from start to end: set-up (live profile or local journal), the waits, the
// capture document, the tool proofs, the live snapshots, the render, the clean-up, the last window
// check and the publication.
#include "headless/HeadlessFrames.h"

#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/HubLayout.h"
#include "core/RegularFile.h"
#include "core/Utf8.h"
#include "core/async/Sleep.h"
#include "headless/HeadlessExportOptions.h"
#include "headless/HeadlessFrameStage.h"
#include "headless/HeadlessProfile.h"
#include "headless/WriteLine.h"
#include "platform/SecretServiceKeyring.h"
#include "session/HubModel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPdfDocument>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
constexpr qint64 kDocumentLimit = 9'999'999;
const QString kTooLarge = QStringLiteral("Capture document is not a regular file below 10 MB.");

HubError fileError(const QString &path, int error)
{
    return HubError(QStringLiteral("The file \u201C") + QFileInfo(path).fileName() +
                    QStringLiteral("\u201D couldn\u2019t be opened: ") + QString::fromLocal8Bit(std::strerror(error)) +
                    u'.');
}

std::chrono::milliseconds seconds(double wait) { return std::chrono::milliseconds(std::llround(wait * 1000)); }

// The model of an export: no sign-in window, ever. The stored sign-in is the profile's to renew.
HubModel::Dependencies exportDependencies(const std::shared_ptr<Keyring> &keyring)
{
    HubModel::Dependencies dependencies;
    dependencies.keyring = keyring;
    return dependencies;
}

// The capture document, opened once: the path is resolved inside the project, then opened without
// following a link, and the type, size and bytes all come from that one descriptor.
void openCaptureDocument(HubModel &model, const QString &document, const std::optional<QString> &profile)
{
    QString project;
    if (profile)
        project = *profile;
    else if (model.configuration())
        project = model.configuration()->root;
    else
        throw HubError(QStringLiteral("Capture documents require an existing configured project."));
    const QString root = QDir::cleanPath(QFileInfo(project).canonicalFilePath());
    const QString named = QDir::isAbsolutePath(document) ? document : QDir(project).filePath(document);
    const QFileInfo info(named);
    // A path that does not resolve (a missing file) fails on the open below with the system's reason.
    const QString candidate = QDir::cleanPath(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath());
    if (root.isEmpty() || !candidate.startsWith(root + u'/'))
        throw HubError(QStringLiteral("Capture documents must belong to the selected project."));

    RegularFile file = RegularFile::open(QFile::encodeName(candidate), O_RDONLY | O_NOFOLLOW);
    if (file.status() == RegularFile::Status::OpenFailed || file.status() == RegularFile::Status::StatFailed) {
        if (file.error() == ELOOP)
            throw HubError(QStringLiteral("Capture documents must belong to the selected project."));
        throw fileError(candidate, file.error());
    }
    if (!file.opened() || file.info().st_size > kDocumentLimit)
        throw HubError(kTooLarge);

    if (QFileInfo(candidate).suffix().toLower() == u"pdf") {
        // The descriptor's own file, never the name again.
        QPdfDocument pdf;
        if (pdf.load(QStringLiteral("/proc/self/fd/") + QString::number(file.fd())) != QPdfDocument::Error::None ||
            pdf.pageCount() < 1)
            throw HubError(QStringLiteral("Cannot read the selected project PDF."));
        QStringList pages;
        for (int page = 0; page < pdf.pageCount(); ++page)
            pages.append(pdf.getAllText(page).text());
        model.setDocument(pages.join(u'\n'));
        const QSizeF media = pdf.pagePointSize(0);
        const QSize thumbnail = media.isEmpty() ? QSize(2000, 1400) : media.scaled(2000, 1400, Qt::KeepAspectRatio).toSize();
        model.setCapturedPDF(pdf.render(0, thumbnail));
    } else {
        const std::optional<QByteArray> bytes = file.read(kDocumentLimit + 1);
        if (!bytes)
            throw fileError(candidate, file.error());
        if (bytes->size() > kDocumentLimit)
            throw HubError(kTooLarge);
        if (!utf8::isWellFormed(*bytes))
            throw HubError(QStringLiteral("The file \u201C") + QFileInfo(candidate).fileName() +
                           QStringLiteral("\u201D couldn\u2019t be opened because it isn\u2019t UTF-8 text."));
        model.setDocument(utf8::decode(*bytes));
    }
    model.setDocumentURL(QUrl::fromLocalFile(candidate));
}

HubError turnEnded(const QString &code)
{
    return HubError(QStringLiteral("The observed turn ended (") + code +
                    QStringLiteral(") before the requested specialist activity; no connected frame was exported."));
}

// Waits until `count` specialists of the observed turn are active.
QCoro::Task<void> specialistWait(HubModel &model, const HeadlessProfile &profile, int count, double wait,
                                 CancelToken token)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const HeadlessTurnProgress &progress = model.headlessTurnProgress();
        if (model.cloudConnected() && model.headlessFrameCount() != 0 && model.activeSpecialists().size() >= count) {
            if (progress.terminalCode)
                throw turnEnded(*progress.terminalCode);
            co_return;
        }
        token.throwIfCancelled();
        if (progress.terminalCode)
            throw turnEnded(*progress.terminalCode);
        if (clock.elapsed() >= seconds(wait).count())
            throw HubError(
                QStringLiteral("The requested real specialist activity was not observed before the capture deadline "
                               "(connected=") +
                (model.cloudConnected() ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(", frames=") +
                QString::number(model.headlessFrameCount()) + QStringLiteral(", active=") +
                QString::number(model.activeSpecialists().size()) + QStringLiteral(", ") +
                profile.transportDiagnostic() + QStringLiteral(")."));
        co_await sleepFor(50ms, token);
    }
}
} // namespace

QCoro::Task<void> HeadlessFrames::dump(QStringList arguments, CancelToken token)
{
    const qint64 windowsBefore = windowCount();
    const auto keyring = std::make_shared<SecretServiceKeyring>();
    HubModel model(exportDependencies(keyring));
    HeadlessProfile profile(model, keyring);
    const HeadlessExportOptions options = HeadlessExportOptions::parse(arguments);
    // After the model: the views it draws go before the model does.
    FrameRenderer renderer(options.nativeHierarchy);
    std::map<QString, TemporalSnapshot> snapshots;
    const bool shellRoundTrip = options.tools.contains(QStringLiteral("shell"));
    const auto take = [&](const QString &name) {
        snapshots[name] = snapshot(renderer, model, frameRow(name), windowsBefore);
    };

    std::optional<Export> exported;
    std::exception_ptr failure;
    try {
        token.throwIfCancelled();
        if (options.profile) {
            co_await profile.prepare(*options.profile, options.session, options.descriptor);
            if (options.session)
                writeLine(STDOUT_FILENO, QByteArrayLiteral("LIVE_CAPTURE_SUBSCRIPTION_READY\n"));
        } else {
            model.setLayout(HubLayout::load());
            try {
                model.setConfiguration(HubConfiguration(HubConfiguration::configuredEnvironment()));
            } catch (const HubError &) {
                // The local export goes on without a configuration, under the hub's own id.
            }
            model.setMessage(QStringLiteral("Local journal only · no authenticated cloud session started."));
            const QString appID = model.configuration() ? model.configuration()->appID : QStringLiteral("tavrilo-code");
            const std::vector<WorkspaceEvent> read = co_await readJournal(appID, token);
            const QList<WorkspaceEvent> events(read.begin(), read.end());
            model.setEvents(events);
            model.setEventProjection(EventProjection(events));
        }

        if (options.specialists) {
            co_await specialistWait(model, profile, *options.specialists, options.waitSeconds, token);
            take(QStringLiteral("03-parallel-workforce-metal"));
        } else if (options.waitSeconds > 0) {
            co_await sleepFor(seconds(options.waitSeconds), token);
        }

        if (options.document)
            openCaptureDocument(model, *options.document, options.profile);

        if (options.tools.contains(QStringLiteral("browser")))
            co_await browserProof(model, options.waitSeconds, windowsBefore, token);
        if (shellRoundTrip)
            co_await shellProof(model, token);
        token.throwIfCancelled();

        if (options.session) {
            take(QStringLiteral("04-documents-preview-shell"));
            if (shellRoundTrip)
                take(QStringLiteral("08-documents-build-shell"));
            QElapsedTimer clock;
            clock.start();
            const qint64 deadline = std::max<qint64>(seconds(options.waitSeconds).count(), 120'000);
            while (!model.headlessTurnProgress().terminalCode) {
                token.throwIfCancelled();
                if (clock.elapsed() >= deadline)
                    throw HubError(
                        QStringLiteral("The observed turn did not reach a terminal verifier state before capture."));
                co_await sleepFor(100ms, token);
            }
            take(QStringLiteral("05-events-reconciliation-gates"));
        }

        // Named first: GCC 12 destroys an aggregate temporary of a co_await expression twice.
        RenderRun run{windowsBefore, bool(options.profile), bool(options.session), shellRoundTrip, options.output};
        exported = co_await render(renderer, model, std::move(run), std::move(snapshots));
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        // Nothing was staged that survives (a failing render removed its own stage); the profile is
        // cleaned up whatever happened, and a failed clean-up reports both failures.
        std::exception_ptr cleanupFailure;
        try {
            co_await profile.finish();
        } catch (...) {
            cleanupFailure = std::current_exception();
        }
        if (cleanupFailure)
            throw HubError(QStringLiteral("Frame capture failed and resource cleanup failed: ") +
                           errorDescription(cleanupFailure) + QStringLiteral(" The capture failed first: ") +
                           errorDescription(failure));
        std::rethrow_exception(failure);
    }

    std::exception_ptr cleanupFailure;
    try {
        co_await profile.finish();
    } catch (...) {
        cleanupFailure = std::current_exception();
    }
    if (cleanupFailure) {
        if (exported)
            exported->stage->discard();
        std::rethrow_exception(cleanupFailure);
    }
    if (!exported)
        throw HubError(QStringLiteral("Frame export produced no result."));
    try {
        const OffscreenWindowProof proof =
            requireOffscreen(windowsBefore, QStringLiteral("after-cleanup-before-publication"));
        exported->manifest["cleanupAwaited"] = true;
        exported->stage->publish(exported->manifest, exported->names, proof);
    } catch (...) {
        exported->stage->discard();
        throw;
    }
    writeLine(STDOUT_FILENO, (QStringLiteral("Rendered ") + QString::number(exported->count) +
                              QStringLiteral(" shared-production Qt Quick frames at 2880×1800, OpenGL: ") +
                              exported->device + QStringLiteral(". Output: ") + exported->output + u'\n')
                                 .toUtf8());
    exported->stage->discard();
}
