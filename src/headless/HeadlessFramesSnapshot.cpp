// One frame of the export: the window's root view drawn off screen and described.
#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "headless/ActivityMetal.h"
#include "session/HubModel.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickRenderTarget>
#include <QQuickWindow>
#include <QScopeGuard>

#include <algorithm>

namespace
{
const QString kRootView = QStringLiteral("qrc:/qt/qml/Tavrilo/Ui/qml/HubView.qml");

QByteArray encodePNG(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return png;
}
} // namespace

const QList<HeadlessFrames::FrameRow> &HeadlessFrames::frameTable()
{
    static const QList<FrameRow> table{
        {QStringLiteral("01-app-selector"), false, QString(), QStringLiteral("Research")},
        {QStringLiteral("02-workspace-overview"), true, QString(), QStringLiteral("Research")},
        {QStringLiteral("03-parallel-workforce-metal"), true, QStringLiteral("workforce"), QStringLiteral("Research")},
        {QStringLiteral("04-documents-preview-shell"), true, QStringLiteral("documents"), QStringLiteral("Browser")},
        {QStringLiteral("05-events-reconciliation-gates"), true, QStringLiteral("events"), QStringLiteral("Research")},
        {QStringLiteral("06-documents-changes"), true, QStringLiteral("documents"), QStringLiteral("Changes")},
        {QStringLiteral("07-documents-browser"), true, QStringLiteral("documents"), QStringLiteral("Browser")},
        {QStringLiteral("08-documents-build-shell"), true, QStringLiteral("documents"), QStringLiteral("Build shell")},
    };
    return table;
}

const HeadlessFrames::FrameRow &HeadlessFrames::frameRow(const QString &name)
{
    const QList<FrameRow> &table = frameTable();
    const auto found = std::find_if(table.begin(), table.end(), [&](const FrameRow &row) { return row.name == name; });
    Q_ASSERT(found != table.end());
    return *found;
}

QString HeadlessFrames::renderModeName(bool nativeHierarchy)
{
    return nativeHierarchy ? QStringLiteral("windowless-native-hierarchy")
                           : QStringLiteral("image-renderer-capture-representation");
}

HeadlessFrames::FrameRenderer::FrameRenderer(bool nativeHierarchy)
    : m_nativeHierarchy(nativeHierarchy), m_engine(std::make_unique<QQmlEngine>())
{
    m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    // Compiled once for the export; each frame makes a new instance of it.
    m_component = std::make_unique<QQmlComponent>(m_engine.get(), QUrl(kRootView), QQmlComponent::PreferSynchronous);
}

HeadlessFrames::FrameRenderer::~FrameRenderer()
{
    m_component.reset();
    m_engine.reset();
}

QImage HeadlessFrames::FrameRenderer::draw(HubModel &model, const QString &name)
{
    const HubError unrendered(m_nativeHierarchy ? QStringLiteral("Cannot allocate windowless native-hierarchy capture.")
                                                : QStringLiteral("Cannot render temporal frame ") + name);
    const HubError uncaptured(m_nativeHierarchy ? QStringLiteral("Cannot capture the windowless native hierarchy.")
                                                : QStringLiteral("Cannot render temporal frame ") + name);
    if (!m_component->isReady()) {
        // The view's own errors say why; the sentence says which frame.
        qWarning().noquote() << m_component->errorString();
        throw unrendered;
    }
    // The window's root view exactly (native hierarchy) or built for export; a new one per frame.
    std::unique_ptr<QObject> created(m_component->createWithInitialProperties(
        {{QStringLiteral("model"), QVariant::fromValue<QObject *>(&model)},
         {QStringLiteral("offscreenExport"), !m_nativeHierarchy},
         {QStringLiteral("width"), kLogicalWidth},
         {QStringLiteral("height"), kLogicalHeight}}));
    auto *root = qobject_cast<QQuickItem *>(created.get());
    if (!root)
        throw unrendered;

    QImage image(kLogicalWidth * kScale, kLogicalHeight * kScale, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        throw unrendered;
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(kScale);
    {
        // The window a render control draws for is never created on the platform: nothing can
        // appear, and the guard never counts it.
        QQuickRenderControl control;
        QQuickWindow window(&control);
        window.setGeometry(0, 0, kLogicalWidth, kLogicalHeight);
        root->setParentItem(window.contentItem());
        const auto detach = qScopeGuard([root] { root->setParentItem(nullptr); });
        QQuickRenderTarget target = QQuickRenderTarget::fromPaintDevice(&image);
        target.setDevicePixelRatio(kScale);
        window.setRenderTarget(target);
        control.polishItems();
        if (window.handle())
            throw unrendered;
        control.beginFrame();
        control.sync();
        control.render();
        control.endFrame();
        if (window.handle())
            throw uncaptured;
    }
    if (image.isNull())
        throw uncaptured;
    return image;
}

HeadlessFrames::TemporalSnapshot HeadlessFrames::snapshot(FrameRenderer &renderer, HubModel &model,
                                                          const FrameRow &row, qint64 windowsBefore)
{
    return snapshot(renderer, model, row, windowsBefore, [](qint64 mask, float velocity) {
        return ActivityMetal::render(kLanesWidth, kLanesHeight, int(mask), velocity).image;
    });
}

HeadlessFrames::TemporalSnapshot HeadlessFrames::snapshot(FrameRenderer &renderer, HubModel &model,
                                                          const FrameRow &row, qint64 windowsBefore,
                                                          const LanesDrawer &lanes)
{
    const bool selected = model.selectedProfile();
    const QString tab = model.selectedDocumentTab();
    const QString inspector = model.expandedInspector();
    model.setSelectedProfile(row.selected);
    model.setSelectedDocumentTab(row.tab);
    model.setExpandedInspector(row.inspector);
    const auto restore = qScopeGuard([&] {
        model.setSelectedProfile(selected);
        model.setSelectedDocumentTab(tab);
        model.setExpandedInspector(inspector);
    });

    const bool running = model.running();
    const NativePresence &presence = model.presence();
    model.setRenderedActivity(lanes(NativePresence::mask(running ? presence.working : QSet<QString>()),
                                    running ? presence.velocity : 0.0F));

    const QImage image = renderer.draw(model, row.name);
    const QByteArray png = encodePNG(image);
    if (png.isEmpty())
        throw HubError(QStringLiteral("Cannot encode temporal frame ") + row.name);
    requireOffscreen(windowsBefore, QStringLiteral("snapshot-") + row.name);

    Json agents = Json::array();
    if (model.running()) {
        QStringList working(model.presence().working.begin(), model.presence().working.end());
        working.sort();
        for (const QString &agent : working)
            agents.push_back(json::toStd(agent));
    }
    const HeadlessTurnProgress &progress = model.headlessTurnProgress();
    Json metadata{
        {"name", json::toStd(row.name)},
        {"renderMode", json::toStd(renderModeName(renderer.nativeHierarchy()))},
        {"pixelFidelityVerified", false},
        {"documentTab", json::toStd(row.tab)},
        {"pixelWidth", image.width()},
        {"pixelHeight", image.height()},
        {"cloudConnected", model.cloudConnected() && model.headlessFrameCount() > 0},
        {"activeSpecialists", model.activeSpecialists().size()},
        {"activeAgents", agents},
        {"capturedAt", json::toStd(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))},
        {"turnId", json::toStd(progress.turnID.value_or(QString()))},
        {"terminalCode", json::toStd(progress.terminalCode.value_or(QString()))},
        {"liveFramesReceived", model.headlessFrameCount()},
        {"persistedLedger", model.ledgerCaptureEvidence()},
        {"sha256", QCryptographicHash::hash(png, QCryptographicHash::Sha256).toHex().toStdString()},
    };
    return {png, std::move(metadata)};
}
