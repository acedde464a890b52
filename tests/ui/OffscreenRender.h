#pragma once

// Draws a Qt Quick item off screen with the software scene graph at the exported frames' scale,
// saves it as PNG and reads it back with the hub's own vision command.
#include "VisionReadBack.h"

#include <QCoreApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickRenderTarget>
#include <QQuickWindow>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace offscreenrender
{
// `root` drawn at twice its point size, as the exported frames are; it is given back unparented.
inline QImage render(QQuickItem *root, int width, int height)
{
    constexpr qreal kScale = 2;
    QImage image(int(width * kScale), int(height * kScale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(kScale);
    QQuickRenderControl control;
    QQuickWindow window(&control);
    window.setGeometry(0, 0, width, height);
    root->setParentItem(window.contentItem());
    QQuickRenderTarget target = QQuickRenderTarget::fromPaintDevice(&image);
    target.setDevicePixelRatio(kScale);
    window.setRenderTarget(target);
    // Two passes: views that lay out on their first polish (lists, tables) settle on the second.
    for (int pass = 0; pass < 2; ++pass) {
        QCoreApplication::processEvents();
        control.polishItems();
        control.beginFrame();
        control.sync();
        control.render();
        control.endFrame();
    }
    root->setParentItem(nullptr);
    return image;
}

// Saves `image` at `path` (and under $HUB_KEEP_RENDERS when set) and reads it back.
inline visionreadback::Reading read(const QImage &image, const QString &path)
{
    EXPECT_TRUE(image.save(path));
    if (qEnvironmentVariableIsSet("HUB_KEEP_RENDERS"))
        image.save(qEnvironmentVariable("HUB_KEEP_RENDERS") + u'/' + path.section(u'/', -1));
    return visionreadback::read(path);
}
} // namespace offscreenrender
