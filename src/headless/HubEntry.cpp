#include "headless/HubEntry.h"

#include "cloud/CaptureSession.h"
#include "core/HubError.h"
#include "core/async/Job.h"
#include "headless/HeadlessExportOptions.h"
#include "headless/HeadlessFrames.h"
#include "headless/WriteLine.h"
#include "platform/SignalBridge.h"
#include "ui/IconTheme.h"

#include <QGuiApplication>
#include <QStringList>

#include <csignal>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace
{
bool hasArgument(int argc, const char *const *argv, const char *wanted)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0)
            return true;
    }
    return false;
}
} // namespace

HubEntry::Mode HubEntry::mode(int argc, const char *const *argv)
{
    if (hasArgument(argc, argv, "--vision-analyze"))
        return Mode::Vision;
    for (const char *option : {"--dump-frames", "--live-profile", "--capture-session-fd"}) {
        if (hasArgument(argc, argv, option))
            return Mode::Export;
    }
    return Mode::Window;
}

int HubEntry::runExport(int argc, char **argv)
{
    // The arguments as given, before the application object takes out those it reads itself.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // The credential descriptor is kept from every child at once, before anything can start one
    // (the browser engine's helpers, the companion); the hand-off reads it later.
    try {
        if (const std::optional<QString> descriptor =
                HeadlessExportOptions::argument(QStringLiteral("--capture-session-fd"), arguments)) {
            if (const std::optional<int> number = headlessnumbers::wholeNumber(*descriptor))
                CaptureSession::keepFromChildren(*number);
        }
    } catch (const HubError &) {
        // A missing value is refused with the other options, in their order.
    }

    // The platform is fixed when the application object is made; on the offscreen one no window can
    // be shown and the hub can never become the active application. The application object sees
    // the executable's name alone, so no option of the toolkit's ("-platform") can undo the choice.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int applicationArgc = 1;
    QGuiApplication application(applicationArgc, argv);
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        writeLine(STDERR_FILENO, QByteArrayLiteral("Frame dump refused: cannot prohibit application activation.\n"));
        return 1;
    }
    // The frames draw the window's symbols from the theme the window uses, never the desktop's.
    useHubIconTheme();

    std::exception_ptr failure;
    {
        // Declared before the job, so the job's handle goes first and the dispositions found here
        // come back when the bridge goes, on every way out of this block.
        std::unique_ptr<SignalBridge> signals;
        try {
            signals = std::make_unique<SignalBridge>(QList<int>{SIGINT, SIGTERM});
        } catch (const HubError &) {
            failure = std::current_exception();
        }
        if (!failure) {
            const Job job = Job::start(
                [arguments](CancelToken token) { return HeadlessFrames::dump(arguments, std::move(token)); });
            // A signal only asks the export to stop; its clean-up runs before the process ends, and
            // a second signal changes nothing.
            QObject::connect(signals.get(), &SignalBridge::received, signals.get(), [job](int) { job.cancel(); });
            // An export refused by its options has ended already, before any event loop runs.
            if (!job.isFinished()) {
                const Job quit = Job::start([job](CancelToken) -> QCoro::Task<void> {
                    co_await job.finished();
                    QCoreApplication::quit();
                });
                QCoreApplication::exec();
            }
            failure = job.error();
        }
        if (failure)
            writeLine(STDERR_FILENO,
                      (QStringLiteral("Frame dump failed: ") + errorDescription(failure) + QLatin1Char('\n')).toUtf8());
    }
    return failure ? 1 : 0;
}
