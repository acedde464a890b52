#include "support/TestSupport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickGraphicsDevice>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickRenderTarget>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include <memory>

// The browser engine in a Qt Quick window and an off-screen frame of a Qt Quick scene, in one
// process prepared by GuiApplicationSetup. Run twice: on the offscreen platform (Qt Quick's
// software renderer, as the headless export draws) and on a display (OpenGL, as the window draws).

using testsupport::waitUntil;

namespace
{
constexpr QRgb kPageColour = 0xff00c000;
constexpr QRgb kSceneColour = 0xffc00000;

std::unique_ptr<QObject> create(QQmlEngine &engine, const QByteArray &qml)
{
    QQmlComponent component(&engine);
    component.setData(qml, QUrl());
    std::unique_ptr<QObject> object(component.isReady() ? component.create() : nullptr);
    EXPECT_TRUE(object) << component.errorString().toStdString();
    return object;
}

TEST(GuiApplicationSetup, ABrowserViewDrawsItsPageInAQuickWindow)
{
    QQmlEngine engine;
    const std::unique_ptr<QObject> root = create(engine, R"(
import QtQuick
import QtQuick.Window
import QtWebEngine
Window {
    width: 320; height: 200; visible: true
    WebEngineView {
        anchors.fill: parent
        url: "data:text/html,<body style='margin:0;background:%2300c000'></body>"
    }
})");
    auto *window = qobject_cast<QQuickWindow *>(root.get());
    ASSERT_TRUE(window);
    EXPECT_TRUE(waitUntil([&] { return window->grabWindow().pixel(160, 100) == kPageColour; }, 60s))
        << "graphics API " << int(window->rendererInterface()->graphicsApi());
}

// The frame the headless export takes of the window's scene, here of a plain rectangle.
TEST(GuiApplicationSetup, AnOffscreenFrameDrawsBesideTheBrowserEngine)
{
    QQmlEngine engine;
    const std::unique_ptr<QObject> root =
        create(engine, "import QtQuick\nRectangle { width: 64; height: 32; color: '#c00000' }");
    auto *item = qobject_cast<QQuickItem *>(root.get());
    ASSERT_TRUE(item);

    // Declared before the scene, which must go first.
    std::unique_ptr<QOpenGLContext> context;
    QOffscreenSurface surface;
    std::unique_ptr<QOpenGLFramebufferObject> target;
    QImage frame;
    QQuickRenderControl control;
    QQuickWindow window(&control);
    window.setGeometry(0, 0, 64, 32);
    item->setParentItem(window.contentItem());
    if (window.rendererInterface()->graphicsApi() == QSGRendererInterface::OpenGL) {
        // Shared with the engine's pages, so a browser view in the scene would show too.
        context = std::make_unique<QOpenGLContext>();
        context->setShareContext(QOpenGLContext::globalShareContext());
        ASSERT_TRUE(context->create());
        surface.setFormat(context->format());
        surface.create();
        window.setGraphicsDevice(QQuickGraphicsDevice::fromOpenGLContext(context.get()));
        ASSERT_TRUE(control.initialize());
        ASSERT_TRUE(context->makeCurrent(&surface));
        target =
            std::make_unique<QOpenGLFramebufferObject>(QSize(64, 32), QOpenGLFramebufferObject::CombinedDepthStencil);
        window.setRenderTarget(QQuickRenderTarget::fromOpenGLTexture(target->texture(), target->size()));
    } else {
        ASSERT_EQ(window.rendererInterface()->graphicsApi(), QSGRendererInterface::Software);
        frame = QImage(64, 32, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::transparent);
        window.setRenderTarget(QQuickRenderTarget::fromPaintDevice(&frame));
    }
    control.polishItems();
    control.beginFrame();
    control.sync();
    control.render();
    control.endFrame();
    if (target)
        frame = target->toImage();
    EXPECT_EQ(frame.pixel(32, 16), kSceneColour);
    item->setParentItem(nullptr);
}
} // namespace
