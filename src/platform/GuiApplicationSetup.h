#pragma once

#include <QByteArrayList>

// The one process holds the Qt Quick window, the browser engine (the sign-in window and the live
// browser view) and off-screen rendering. They agree on the application object and on what must be
// settled before it exists; docs/ARCHITECTURE.md says why each step is there.
class GuiApplicationSetup
{
public:
    // Runs once, before the QGuiApplication is created: registers `callbackSchemes` with the
    // browser engine, shares OpenGL contexts between the engine and the windows, asks Qt Quick for
    // OpenGL (the only graphics API the engine composites into; the offscreen platform still draws
    // with Qt Quick's software renderer) and starts the engine's Qt Quick integration.
    static void prepare(const QByteArrayList &callbackSchemes);
};
