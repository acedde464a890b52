// The eight frames of an export, staged, and the manifest that describes them.
#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "headless/ActivityMetal.h"
#include "headless/HeadlessFrameStage.h"
#include "headless/StageFiles.h"
#include "session/HubModel.h"

#include <QDir>

Json HeadlessFrames::manifestFor(HubModel &model, const RenderRun &run, bool nativeHierarchy,
                                 const WindowCensus &census, const QString &device, const Json &throughput,
                                 const Json &frames)
{
    const std::optional<QString> &source = model.documents()->browserCaptureSource();
    const bool pixelsCaptured = !nativeHierarchy;
    return Json{
        {"renderMode", json::toStd(renderModeName(nativeHierarchy))},
        {"pixelFidelityVerified", false},
        {"logicalWidth", kLogicalWidth},
        {"logicalHeight", kLogicalHeight},
        {"scale", kScale},
        {"metalDevice", json::toStd(device)},
        {"metalTextureReadback", true},
        {"metalThroughput", throughput},
        {"layoutMutationVerified", true},
        {"cloudConnected", model.cloudConnected() && model.headlessFrameCount() > 0},
        {"liveProfile", run.liveProfile},
        {"observingExistingSession", run.observingSession},
        {"liveFramesReceived", model.headlessFrameCount()},
        {"journalEntries", model.events().size()},
        {"researchDocumentLoaded", !model.documentURL().isEmpty()},
        {"pdfPixelsCaptured", pixelsCaptured && model.hasCapturedPDF()},
        {"browserSessionPixelsCaptured", pixelsCaptured && model.hasCapturedBrowser()},
        {"browserViewerPixelsCaptured", source == QLatin1StringView("dcv-screenshot")},
        {"browserCaptureSource", pixelsCaptured && source ? Json(json::toStd(*source)) : Json(nullptr)},
        {"shellStatus", json::toStd(model.documents()->shellStatus())},
        {"shellRoundTripVerified", run.shellRoundTripVerified},
        {"windowCreated", census.windows.size() != run.windowsBefore},
        {"visibleWindowCount", census.visible},
        {"becameFrontmost", census.frontmost},
        {"frames", frames},
    };
}

QCoro::Task<HeadlessFrames::Export> HeadlessFrames::render(FrameRenderer &renderer, HubModel &model, RenderRun run,
                                                           std::map<QString, TemporalSnapshot> snapshots)
{
    verifyLayoutMutation();
    const QString device = ActivityMetal::render(kLanesWidth, kLanesHeight, 0, 0).device;
    const Json throughput = ActivityMetal::benchmark().manifest();

    const QString appID = model.configuration() ? model.configuration()->appID : QStringLiteral("tavrilo-code");
    const QString output = QDir::cleanPath(run.output ? *run.output : HeadlessFrameStage::defaultOutput(appID));
    auto stage = std::make_shared<HeadlessFrameStage>(output);

    QStringList names;
    Json frames = Json::array();
    try {
        for (const FrameRow &row : frameTable()) {
            if (row.tab == QLatin1StringView("Changes") && model.configuration()) {
                // Named first: GCC 12 may destroy a temporary of a co_await expression twice.
                std::optional<QString> selected = model.selectedChangePath();
                co_await model.refreshChanges(std::move(selected));
                if (!model.selectedChangePath() && !model.changeFiles().isEmpty()) {
                    std::optional<QString> first = model.changeFiles().first().path;
                    co_await model.refreshChanges(std::move(first));
                }
            }
            const auto live = snapshots.find(row.name);
            const TemporalSnapshot frame =
                live != snapshots.end() ? live->second : snapshot(renderer, model, row, run.windowsBefore);
            const QString file = row.name + QStringLiteral(".png");
            StageFiles::system().writeAtomically(stage->directory() + u'/' + file, frame.data);
            Json metadata = frame.metadata;
            metadata["file"] = json::toStd(output + u'/' + file);
            frames.push_back(std::move(metadata));
            names << row.name;
        }
    } catch (...) {
        stage->discard();
        throw;
    }

    // The census and the check see the same window list: nothing runs in between.
    const WindowCensus census = windowCensus();
    try {
        requireOffscreen(census, run.windowsBefore, QStringLiteral("render-complete"));
    } catch (...) {
        stage->discard();
        throw;
    }
    Json manifest = manifestFor(model, run, renderer.nativeHierarchy(), census, device, throughput, frames);
    const qint64 count = qint64(frames.size());
    co_return Export{output, std::move(stage), names, std::move(manifest), count, device};
}
