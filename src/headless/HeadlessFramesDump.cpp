#include "headless/HeadlessFrames.h"

#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/HubLayout.h"
#include "core/async/Sleep.h"
#include "headless/HeadlessExportOptions.h"
#include "headless/HeadlessFrameStage.h"

#include <chrono>
#include <cmath>

namespace
{
// The parts of the export that render the window's views into frames come with the window; until
// then the export stops where they would begin, and says so, rather than publish anything.
HubError notBuilt(const QString &what)
{
    return HubError(what + QStringLiteral(" cannot be exported yet: the window's views are not rendered off screen in "
                                          "this build. No frames were published."));
}

QString configuredAppID()
{
    try {
        return HubConfiguration(HubConfiguration::configuredEnvironment()).appID;
    } catch (const HubError &) {
        // The local export goes on without a configuration, under the hub's own id.
        return QStringLiteral("tavrilo-code");
    }
}
} // namespace

QCoro::Task<void> HeadlessFrames::dump(QStringList arguments, CancelToken token)
{
    const qint64 windowsBefore = windowCount();
    const HeadlessExportOptions options = HeadlessExportOptions::parse(arguments);
    token.throwIfCancelled();

    if (options.profile)
        throw notBuilt(QStringLiteral("A live profile"));
    // The local journal only: the layout and the events the frames would show; either failing fails
    // the run.
    HubLayout::load();
    const QString appID = configuredAppID();
    co_await readJournal(appID, token);
    if (options.waitSeconds > 0) {
        co_await sleepFor(std::chrono::milliseconds(std::llround(options.waitSeconds * 1000)), token);
    }
    if (options.document)
        throw notBuilt(QStringLiteral("A capture document"));

    // The render's first steps: the geometry check, then the stage in the output folder.
    verifyLayoutMutation();
    HeadlessFrameStage stage(options.output ? *options.output : HeadlessFrameStage::defaultOutput(appID));
    stage.discard();
    requireOffscreen(windowsBefore, QStringLiteral("render-complete"));
    throw notBuilt(QStringLiteral("Frames"));
}
