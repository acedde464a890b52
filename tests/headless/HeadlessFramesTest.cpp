// The export's frames: the window's root view drawn off screen into one frame, the view selection
// put back whatever happens, and the manifest's description of a run.
#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "platform/MemoryKeyring.h"
#include "session/HubModel.h"

#include <QCryptographicHash>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
std::unique_ptr<HubModel> makeModel()
{
    return std::make_unique<HubModel>(HubModel::Dependencies{std::make_shared<MemoryKeyring>(), {}, {}});
}

struct Selection
{
    bool profile;
    QString tab;
    QString inspector;
    bool operator==(const Selection &) const = default;
};
Selection selectionOf(const HubModel &model)
{
    return {model.selectedProfile(), model.selectedDocumentTab(), model.expandedInspector()};
}

TEST(HeadlessFrames, TheEightFramesInTheirOrder)
{
    QStringList names;
    for (const HeadlessFrames::FrameRow &row : HeadlessFrames::frameTable())
        names << row.name;
    EXPECT_EQ(names, QStringList({"01-app-selector", "02-workspace-overview", "03-parallel-workforce-metal",
                                  "04-documents-preview-shell", "05-events-reconciliation-gates",
                                  "06-documents-changes", "07-documents-browser", "08-documents-build-shell"}));
    const HeadlessFrames::FrameRow &shell = HeadlessFrames::frameRow(QStringLiteral("08-documents-build-shell"));
    EXPECT_EQ(shell.inspector, QStringLiteral("documents"));
    EXPECT_EQ(shell.tab, QStringLiteral("Build shell"));
    EXPECT_FALSE(HeadlessFrames::frameRow(QStringLiteral("01-app-selector")).selected);
}

TEST(HeadlessFrames, ASnapshotDrawsTheRootViewAndPutsTheSelectionBack)
{
    const auto model = makeModel();
    model->setExpandedInspector(QStringLiteral("events"));
    model->setSelectedDocumentTab(QStringLiteral("Changes"));
    const Selection before = selectionOf(*model);
    HeadlessFrames::FrameRenderer renderer(false);

    // The lanes follow the running turn's presence; none without a turn.
    std::vector<std::pair<qint64, float>> lanes;
    const auto drawer = [&](qint64 mask, float velocity) {
        lanes.emplace_back(mask, velocity);
        QImage image(HeadlessFrames::kLanesWidth, HeadlessFrames::kLanesHeight, QImage::Format_RGBA8888_Premultiplied);
        image.fill(Qt::darkGreen);
        return image;
    };
    const HeadlessFrames::TemporalSnapshot frame = HeadlessFrames::snapshot(
        renderer, *model, HeadlessFrames::frameRow(QStringLiteral("04-documents-preview-shell")), 0, drawer);
    EXPECT_EQ(selectionOf(*model), before);
    EXPECT_FALSE(model->renderedActivity().isNull());
    ASSERT_EQ(lanes.size(), 1U);
    EXPECT_EQ(lanes[0], std::make_pair(qint64(0), 0.0F));

    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(frame.data, "PNG"));
    EXPECT_EQ(decoded.size(), QSize(2880, 1800));
    const Json &m = frame.metadata;
    EXPECT_EQ(m.size(), 15U) << m.dump();
    EXPECT_EQ(m["name"], "04-documents-preview-shell");
    EXPECT_EQ(m["renderMode"], "image-renderer-capture-representation");
    EXPECT_EQ(m["documentTab"], "Browser");
    EXPECT_EQ(m["pixelWidth"], 2880);
    EXPECT_EQ(m["pixelHeight"], 1800);
    EXPECT_EQ(m["cloudConnected"], false);
    EXPECT_EQ(m["activeAgents"], Json::array());
    EXPECT_EQ(m["turnId"], "");
    EXPECT_EQ(m["terminalCode"], "");
    EXPECT_EQ(m["pixelFidelityVerified"], false);
    EXPECT_EQ(m["sha256"], QCryptographicHash::hash(frame.data, QCryptographicHash::Sha256).toHex().toStdString());
    EXPECT_TRUE(m["persistedLedger"].is_object());

    // A running turn's working specialists light their lanes and are listed in order.
    NativePresence presence;
    presence.working = {QStringLiteral("tavrilo_builder"), QStringLiteral("tavrilo_architect")};
    presence.velocity = 42;
    model->setPresence(presence);
    model->setRunning(true);
    const Json running = HeadlessFrames::snapshot(renderer, *model,
                                                  HeadlessFrames::frameRow(QStringLiteral("01-app-selector")), 0, drawer)
                             .metadata;
    EXPECT_EQ(lanes.back(), std::make_pair(NativePresence::mask(presence.working), 42.0F));
    EXPECT_EQ(running["activeAgents"], Json::array({"tavrilo_architect", "tavrilo_builder"}));

    // A failure on the way leaves the selection as it found it.
    const auto failing = [](qint64, float) -> QImage { throw HubError(QStringLiteral("no GPU")); };
    EXPECT_THROW(HeadlessFrames::snapshot(renderer, *model,
                                          HeadlessFrames::frameRow(QStringLiteral("06-documents-changes")), 0, failing),
                 HubError);
    EXPECT_EQ(selectionOf(*model), before);
}

TEST(HeadlessFrames, TheManifestDescribesTheRun)
{
    const auto model = makeModel();
    QImage captured(4, 3, QImage::Format_RGB32);
    captured.fill(Qt::white);
    model->setCapturedBrowser(captured);
    const HeadlessFrames::RenderRun run{2, true, true, true, std::nullopt};
    const HeadlessFrames::WindowCensus census{{{}, {}}, 0, false};
    const Json frames = Json::array({Json{{"name", "01-app-selector"}}});

    const Json image = HeadlessFrames::manifestFor(*model, run, false, census, "llvmpipe", Json::object(), frames);
    EXPECT_EQ(image.size(), 25U) << image.dump();
    EXPECT_EQ(image["renderMode"], "image-renderer-capture-representation");
    EXPECT_EQ(image["browserSessionPixelsCaptured"], true);
    EXPECT_EQ(image["browserCaptureSource"], nullptr); // no capture source without a grant
    EXPECT_EQ(image["windowCreated"], false);
    EXPECT_EQ(image["cloudConnected"], false);
    EXPECT_EQ(image["metalDevice"], "llvmpipe");
    EXPECT_EQ(image["logicalWidth"], 1440);
    EXPECT_EQ(image["scale"], 2);
    EXPECT_EQ(image["shellRoundTripVerified"], true);
    EXPECT_EQ(image["frames"], frames);
    EXPECT_FALSE(image.contains("cleanupAwaited"));

    // The window's own hierarchy captures no pixels of live views, whatever the model holds.
    const Json native = HeadlessFrames::manifestFor(*model, run, true, census, "llvmpipe", Json::object(), frames);
    EXPECT_EQ(native["renderMode"], "windowless-native-hierarchy");
    EXPECT_EQ(native["browserSessionPixelsCaptured"], false);
    EXPECT_EQ(native["pdfPixelsCaptured"], false);
    EXPECT_EQ(native["browserCaptureSource"], nullptr);

    // A window more than before is "created".
    const HeadlessFrames::WindowCensus more{{{}, {}, {}}, 0, false};
    EXPECT_EQ(HeadlessFrames::manifestFor(*model, run, false, more, "x", Json::object(), frames)["windowCreated"], true);
}
} // namespace
