#include "headless/GpuContext.h"

#include "headless/GlFunctions.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <string_view>

struct GpuContext::Egl
{
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    // What was current on this thread before, put back on destruction.
    EGLenum previousApi = EGL_OPENGL_ES_API;
    EGLDisplay previousDisplay = EGL_NO_DISPLAY;
    EGLSurface previousDraw = EGL_NO_SURFACE;
    EGLSurface previousRead = EGL_NO_SURFACE;
    EGLContext previousContext = EGL_NO_CONTEXT;

    ~Egl()
    {
        // The display stays initialised: it is shared by every context of the process on it, and
        // terminating it would pull the ground from under any other.
        if (display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != EGL_NO_CONTEXT)
            eglDestroyContext(display, context);
        if (surface != EGL_NO_SURFACE)
            eglDestroySurface(display, surface);
        eglBindAPI(previousApi);
        if (previousContext != EGL_NO_CONTEXT)
            eglMakeCurrent(previousDisplay, previousDraw, previousRead, previousContext);
    }
};

namespace
{
bool listed(const char *extensions, std::string_view name)
{
    if (!extensions)
        return false;
    std::string_view rest(extensions);
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        if (rest.substr(0, space) == name)
            return true;
        if (space == std::string_view::npos)
            break;
        rest.remove_prefix(space + 1);
    }
    return false;
}

EGLDisplay windowlessDisplay()
{
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (listed(client, "EGL_EXT_platform_base") && listed(client, "EGL_MESA_platform_surfaceless")) {
        const auto platformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (platformDisplay) {
            EGLDisplay display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
                return display;
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
        return display;
    return EGL_NO_DISPLAY;
}

template <typename T> bool resolve(T &function, const char *name)
{
    function = reinterpret_cast<T>(eglGetProcAddress(name));
    return function != nullptr;
}

bool hasGlExtension(const GlFunctions &gl, std::string_view name)
{
    GLint count = 0;
    gl.glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const auto *extension = reinterpret_cast<const char *>(gl.glGetStringi(GL_EXTENSIONS, GLuint(i)));
        if (extension && name == extension)
            return true;
    }
    return false;
}

std::unique_ptr<GlFunctions> loadFunctions(GpuContext::Api api)
{
    auto gl = std::make_unique<GlFunctions>();
    bool complete = true;
#define HUB_GL_RESOLVE(type, name) complete = resolve(gl->name, #name) && complete;
    HUB_GL_FUNCTIONS(HUB_GL_RESOLVE)
#undef HUB_GL_RESOLVE
    if (!complete)
        return nullptr;
    if (api == GpuContext::Api::OpenGL) {
        resolve(gl->glQueryCounter, "glQueryCounter");
        resolve(gl->glGetQueryObjectui64v, "glGetQueryObjectui64v");
    } else if (hasGlExtension(*gl, "GL_EXT_disjoint_timer_query")) {
        resolve(gl->glQueryCounter, "glQueryCounterEXT");
        resolve(gl->glGetQueryObjectui64v, "glGetQueryObjectui64vEXT");
        gl->timestampsCanBeDisjoint = true;
    }
    if (!gl->glQueryCounter || !gl->glGetQueryObjectui64v) {
        gl->glQueryCounter = nullptr;
        gl->glGetQueryObjectui64v = nullptr;
    }
    return gl;
}
} // namespace

GpuContext::GpuContext(Api api, std::unique_ptr<Egl> egl, std::unique_ptr<GlFunctions> gl)
    : m_api(api), m_egl(std::move(egl)), m_gl(std::move(gl))
{}

GpuContext::~GpuContext() = default;

std::unique_ptr<GpuContext> GpuContext::open()
{
    if (auto context = open(Api::OpenGL))
        return context;
    return open(Api::OpenGLES);
}

std::unique_ptr<GpuContext> GpuContext::open(Api api)
{
    auto egl = std::make_unique<Egl>();
    egl->previousApi = eglQueryAPI();
    egl->previousDisplay = eglGetCurrentDisplay();
    egl->previousDraw = eglGetCurrentSurface(EGL_DRAW);
    egl->previousRead = eglGetCurrentSurface(EGL_READ);
    egl->previousContext = eglGetCurrentContext();

    const EGLDisplay display = windowlessDisplay();
    if (display == EGL_NO_DISPLAY)
        return nullptr;
    // From here on a failure unwinds through Egl's destructor, which restores the thread's state.
    egl->display = display;
    const bool desktop = api == Api::OpenGL;
    if (!eglBindAPI(desktop ? EGL_OPENGL_API : EGL_OPENGL_ES_API))
        return nullptr;
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       desktop ? EGL_OPENGL_BIT : EGL_OPENGL_ES3_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_ALPHA_SIZE,
                                       8,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1)
        return nullptr;
    const EGLint desktopAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION,           3,       EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    const EGLint esAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    egl->context = eglCreateContext(display, config, EGL_NO_CONTEXT, desktop ? desktopAttributes : esAttributes);
    if (egl->context == EGL_NO_CONTEXT)
        return nullptr;
    // Nothing is drawn to the surface: frames go to a texture of their own. Without surfaceless
    // contexts a one-pixel pbuffer stands in.
    if (!listed(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context")) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        egl->surface = eglCreatePbufferSurface(display, config, pbufferAttributes);
        if (egl->surface == EGL_NO_SURFACE)
            return nullptr;
    }
    if (!eglMakeCurrent(display, egl->surface, egl->surface, egl->context))
        return nullptr;
    auto gl = loadFunctions(api);
    if (!gl)
        return nullptr;
    return std::unique_ptr<GpuContext>(new GpuContext(api, std::move(egl), std::move(gl)));
}

QString GpuContext::deviceName() const
{
    const auto *name = reinterpret_cast<const char *>(m_gl->glGetString(GL_RENDERER));
    return name ? QString::fromUtf8(name) : QString();
}
