#pragma once

#include <QString>

#include <memory>

struct GlFunctions;

// An OpenGL context without any window, on EGL: the surfaceless platform where the driver offers
// it (no display server needed), else the default display with a one-pixel pbuffer. It is current
// on the thread that opened it until it is destroyed, which restores whatever was current before.
// One thread only; each operation opens its own.
class GpuContext
{
public:
    enum class Api { OpenGL, OpenGLES };

    // Desktop OpenGL 3.3 core, else OpenGL ES 3.0; null when the system offers neither.
    static std::unique_ptr<GpuContext> open();
    // That API only; null when unavailable.
    static std::unique_ptr<GpuContext> open(Api api);
    ~GpuContext();
    GpuContext(const GpuContext &) = delete;
    GpuContext &operator=(const GpuContext &) = delete;

    Api api() const { return m_api; }
    // The driver's name for the device (the renderer string), such as a software rasteriser's.
    QString deviceName() const;
    const GlFunctions &gl() const { return *m_gl; }

private:
    struct Egl;
    GpuContext(Api api, std::unique_ptr<Egl> egl, std::unique_ptr<GlFunctions> gl);

    Api m_api;
    std::unique_ptr<Egl> m_egl;
    std::unique_ptr<GlFunctions> m_gl;
};
