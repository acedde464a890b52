#pragma once

// Views drawn off screen by the software scene graph at the frames' scale, saved as PNG and read back
// with the hub's own vision command.

#include "core/Json.h"

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickRenderTarget>
#include <QQuickWindow>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>

namespace offscreen
{
// The exported frames' device pixel ratio.
inline constexpr qreal kScale = 2;

// A QML engine that imports the hub's module and keeps its warnings: any warning or script error
// is a fault of the view.
struct WatchedEngine
{
    WatchedEngine()
    {
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine.setOutputWarningsToStandardError(false);
        QObject::connect(&engine, &QQmlEngine::warnings, &engine, [this](const QList<QQmlError> &errors) {
            for (const QQmlError &error : errors)
                warnings.append(error.toString());
        });
    }
    WatchedEngine(const WatchedEngine &) = delete;
    WatchedEngine &operator=(const WatchedEngine &) = delete;

    QQmlEngine engine;
    QStringList warnings;
};

// `root`, `width` by `height` points, drawn once at kScale as the exported frames are, in a window of
// its own so that every frame is drawn whole. The item is handed back to the parent it had.
inline QImage render(QQuickItem *root, int width, int height)
{
    QImage image(int(width * kScale), int(height * kScale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(kScale);
    QQuickRenderControl control;
    QQuickWindow window(&control);
    window.setGeometry(0, 0, width, height);
    QQuickItem *const parent = root->parentItem();
    root->setParentItem(window.contentItem());
    QQuickRenderTarget target = QQuickRenderTarget::fromPaintDevice(&image);
    target.setDevicePixelRatio(kScale);
    window.setRenderTarget(target);
    control.polishItems();
    control.beginFrame();
    control.sync();
    control.render();
    control.endFrame();
    root->setParentItem(parent);
    return image;
}

struct Reading
{
    QString text; // every recognised block, joined by spaces
    Json issues;  // the copy defects the command reported
};

// The vision command's reading of the PNG at `path` (beside the test program); none, and a test
// failure, when the command gave no report.
inline std::optional<Reading> read(const QString &path)
{
    QProcess vision;
    vision.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-hub"),
                 {QStringLiteral("--vision-analyze"), path});
    EXPECT_TRUE(vision.waitForFinished(120000));
    const std::optional<Json> report = json::tryParse(vision.readAllStandardOutput().trimmed());
    EXPECT_TRUE(report && report->value("ok", false));
    if (!report)
        return std::nullopt;
    Reading reading;
    QStringList blocks;
    for (const Json &block : report->value("ocrBlocks", Json::array()))
        blocks.append(json::toQString(block.value("text", std::string())));
    reading.text = blocks.join(u' ').simplified();
    reading.issues = report->value("copyQuality", Json::object()).value("issues", Json::array());
    return reading;
}

// Every one of `texts` was read, and no copy defect reported.
inline void expectFound(const Reading &reading, const QStringList &texts)
{
    for (const QString &text : texts)
        EXPECT_TRUE(reading.text.contains(text)) << text.toStdString() << " not in: " << reading.text.toStdString();
    EXPECT_TRUE(reading.issues.empty()) << reading.issues.dump();
}
} // namespace offscreen
