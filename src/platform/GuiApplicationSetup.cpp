#include "platform/GuiApplicationSetup.h"

#include "platform/WebEngineAuthSession.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

void GuiApplicationSetup::prepare(const QByteArrayList &callbackSchemes)
{
    // The engine reads its schemes once, when it starts.
    WebEngineAuthSession::registerCallbackSchemes(callbackSchemes);
    // The engine's pages are textures in one context shared with every window's scene graph.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QtWebEngineQuick::initialize();
}
