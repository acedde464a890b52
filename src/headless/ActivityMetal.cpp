#include "headless/ActivityMetal.h"

#include "core/HubError.h"
#include "headless/GlFunctions.h"
#include "headless/GpuContext.h"
#include "ui/LanesFrame.h"

#include <QFile>

#include <algorithm>
#include <chrono>

namespace
{
// Far beyond any frame of this size; a GPU that takes longer is treated as one that never finished.
constexpr GLuint64 kFrameWaitNanoseconds = 10'000'000'000;

struct Sentences
{
    const char *noDevice;
    const char *allocate;
    const char *encode;
    const char *incomplete;
};
constexpr Sentences kRender{"A real OpenGL device is required for frame export.",
                            "Cannot allocate offscreen OpenGL texture.", "Cannot encode OpenGL frame.",
                            "OpenGL render did not complete."};
constexpr Sentences kBenchmark{"OpenGL unavailable for throughput benchmark.", "Cannot allocate benchmark texture.",
                               "Cannot encode throughput benchmark.", "GPU benchmark command failed."};

[[noreturn]] void fail(const char *sentence)
{
    throw HubError(QString::fromUtf8(sentence));
}

[[noreturn]] void failWithDriverError(GLenum error)
{
    throw HubError(QStringLiteral("OpenGL reported error 0x%1 while drawing the activity lanes.")
                       .arg(uint(error), 4, 16, QLatin1Char('0')));
}

[[noreturn]] void failToBuild(const QByteArray &log)
{
    QString detail = QString::fromUtf8(log).simplified();
    if (detail.isEmpty())
        detail = QStringLiteral("no log");
    if (!detail.endsWith(u'.'))
        detail += u'.';
    throw HubError(QStringLiteral("OpenGL could not build the activity lanes shader: ") + detail);
}

QByteArray shaderSource(const QString &name)
{
    QFile file(QStringLiteral(":/headless/") + name);
    if (!file.open(QIODevice::ReadOnly))
        failToBuild("the shader source " + name.toUtf8() + " is not in the program");
    return file.readAll();
}

// The lanes shader on the current context, drawing into an RGBA8 texture of its own. Everything it
// creates it deletes, while the context is still current.
class LanesPass
{
public:
    LanesPass(const GpuContext &context, const Sentences &sentences) : m_gl(context.gl()), m_sentences(sentences)
    {
        try {
            build(context.api() == GpuContext::Api::OpenGL ? QStringLiteral("330") : QStringLiteral("300es"));
        } catch (...) {
            release();
            throw;
        }
    }

    ~LanesPass() { release(); }

    LanesPass(const LanesPass &) = delete;
    LanesPass &operator=(const LanesPass &) = delete;

    void allocate(int width, int height)
    {
        GLint largest = 0;
        m_gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
        if (width <= 0 || height <= 0 || width > largest || height > largest)
            fail(m_sentences.allocate);
        clearErrors();
        m_gl.glGenTextures(1, &m_texture);
        m_gl.glBindTexture(GL_TEXTURE_2D, m_texture);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        m_gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        m_gl.glGenFramebuffers(1, &m_framebuffer);
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        m_gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
        if (m_gl.glGetError() != GL_NO_ERROR)
            fail(m_sentences.allocate);
        m_width = width;
        m_height = height;
    }

    // Clears the texture, draws one frame and waits until the GPU has completed it. Returns the
    // GPU time of the frame in milliseconds when the driver reports a usable one.
    std::optional<double> draw(const LanesFrame &frame)
    {
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        if (m_gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            fail(m_sentences.encode);
        m_gl.glViewport(0, 0, m_width, m_height);
        m_gl.glDisable(GL_BLEND);
        m_gl.glDisable(GL_DITHER);
        m_gl.glUseProgram(m_program);
        m_gl.glBindVertexArray(m_vertexArray);
        m_gl.glUniform1f(m_time, frame.time);
        m_gl.glUniform1i(m_activeMask, frame.activeMask & LanesFrame::kLaneBits);
        m_gl.glUniform1f(m_velocity, frame.velocity);
        m_gl.glUniform1f(m_opacity, 1.0f);
        const bool timed = m_gl.glQueryCounter != nullptr;
        if (timed)
            m_gl.glQueryCounter(m_queries[0], GL_TIMESTAMP);
        m_gl.glClearColor(0, 0, 0, 0);
        m_gl.glClear(GL_COLOR_BUFFER_BIT);
        m_gl.glDrawArrays(GL_TRIANGLES, 0, 3);
        if (timed)
            m_gl.glQueryCounter(m_queries[1], GL_TIMESTAMP);
        GLsync fence = m_gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        if (!fence)
            fail(m_sentences.encode);
        const GLenum waited = m_gl.glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, kFrameWaitNanoseconds);
        m_gl.glDeleteSync(fence);
        if (const GLenum error = m_gl.glGetError(); error != GL_NO_ERROR)
            failWithDriverError(error);
        if (waited != GL_ALREADY_SIGNALED && waited != GL_CONDITION_SATISFIED)
            fail(m_sentences.incomplete);
        if (!timed)
            return std::nullopt;
        GLuint64 start = 0;
        GLuint64 end = 0;
        m_gl.glGetQueryObjectui64v(m_queries[0], GL_QUERY_RESULT, &start);
        m_gl.glGetQueryObjectui64v(m_queries[1], GL_QUERY_RESULT, &end);
        if (m_gl.timestampsCanBeDisjoint) {
            // A disjoint event (a clock change, a reset) makes the pair meaningless.
            GLint disjoint = 0;
            m_gl.glGetIntegerv(kGpuDisjoint, &disjoint);
            if (disjoint)
                return std::nullopt;
        }
        if (m_gl.glGetError() != GL_NO_ERROR || end <= start)
            return std::nullopt;
        return double(end - start) / 1e6;
    }

    // The texture's pixels, top row first (OpenGL keeps the bottom row first).
    QImage readBack()
    {
        QImage image(m_width, m_height, QImage::Format_RGBA8888_Premultiplied);
        if (image.isNull())
            fail("Cannot read back OpenGL image.");
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        m_gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
        for (int y = 0; y < m_height; ++y)
            m_gl.glReadPixels(0, m_height - 1 - y, m_width, 1, GL_RGBA, GL_UNSIGNED_BYTE, image.scanLine(y));
        if (m_gl.glGetError() != GL_NO_ERROR)
            fail("Cannot read back OpenGL image.");
        return image;
    }

private:
    void build(const QString &language)
    {
        m_program = m_gl.glCreateProgram();
        attach(GL_VERTEX_SHADER, shaderSource(QStringLiteral("fullscreen.%1.vert").arg(language)));
        attach(GL_FRAGMENT_SHADER, shaderSource(QStringLiteral("lanes.%1.frag").arg(language)));
        m_gl.glLinkProgram(m_program);
        GLint linked = GL_FALSE;
        m_gl.glGetProgramiv(m_program, GL_LINK_STATUS, &linked);
        if (!linked)
            failToBuild(infoLog(m_gl.glGetProgramInfoLog, m_program));
        // The scene graph's names for the uniform block's members, flattened into plain uniforms.
        m_time = uniform("ubuf.time");
        m_activeMask = uniform("ubuf.activeMask");
        m_velocity = uniform("ubuf.velocity");
        m_opacity = uniform("ubuf.qt_Opacity");
        m_gl.glGenVertexArrays(1, &m_vertexArray);
        if (m_gl.glQueryCounter)
            m_gl.glGenQueries(2, m_queries);
    }

    // Compiles `source` and attaches it; the shader then lives as long as the program.
    void attach(GLenum stage, const QByteArray &source)
    {
        const GLuint shader = m_gl.glCreateShader(stage);
        const char *text = source.constData();
        const GLint length = GLint(source.size());
        m_gl.glShaderSource(shader, 1, &text, &length);
        m_gl.glCompileShader(shader);
        m_gl.glAttachShader(m_program, shader);
        m_gl.glDeleteShader(shader);
        GLint compiled = GL_FALSE;
        m_gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
        if (!compiled)
            failToBuild(infoLog(m_gl.glGetShaderInfoLog, shader));
    }

    static QByteArray infoLog(PFNGLGETSHADERINFOLOGPROC read, GLuint object)
    {
        QByteArray log(4096, '\0');
        GLsizei length = 0;
        read(object, GLsizei(log.size()), &length, log.data());
        return log.left(std::clamp<qsizetype>(length, 0, log.size()));
    }

    void release()
    {
        if (m_queries[0])
            m_gl.glDeleteQueries(2, m_queries);
        if (m_framebuffer)
            m_gl.glDeleteFramebuffers(1, &m_framebuffer);
        if (m_texture)
            m_gl.glDeleteTextures(1, &m_texture);
        if (m_vertexArray)
            m_gl.glDeleteVertexArrays(1, &m_vertexArray);
        if (m_program)
            m_gl.glDeleteProgram(m_program);
    }

    GLint uniform(const char *name)
    {
        const GLint location = m_gl.glGetUniformLocation(m_program, name);
        if (location < 0)
            failToBuild(QByteArray("it has no uniform ") + name);
        return location;
    }

    void clearErrors()
    {
        // Bounded: a lost context may keep reporting.
        for (int i = 0; i < 16 && m_gl.glGetError() != GL_NO_ERROR; ++i) {
        }
    }

    const GlFunctions &m_gl;
    const Sentences &m_sentences;
    GLuint m_program = 0;
    GLuint m_vertexArray = 0;
    GLuint m_texture = 0;
    GLuint m_framebuffer = 0;
    GLuint m_queries[2] = {0, 0};
    GLint m_time = -1;
    GLint m_activeMask = -1;
    GLint m_velocity = -1;
    GLint m_opacity = -1;
    int m_width = 0;
    int m_height = 0;
};
} // namespace

ActivityMetal::Throughput ActivityMetal::Throughput::measured(double wallSeconds, std::vector<double> gpuMilliseconds)
{
    if (!(wallSeconds > 0))
        throw HubError(QStringLiteral("Invalid throughput clock interval."));
    Throughput result;
    result.wallSeconds = wallSeconds;
    result.completedFramesPerSecond = double(kBenchmarkFrames) / wallSeconds;
    if (!gpuMilliseconds.empty()) {
        std::sort(gpuMilliseconds.begin(), gpuMilliseconds.end());
        result.gpuMedianMilliseconds = gpuMilliseconds[gpuMilliseconds.size() / 2];
    }
    return result;
}

Json ActivityMetal::Throughput::manifest() const
{
    Json manifest = Json::object();
    manifest["kind"] = "offscreen-command-completion-throughput";
    manifest["frames"] = frames;
    manifest["textureWidth"] = kBenchmarkWidth;
    manifest["textureHeight"] = kBenchmarkHeight;
    manifest["wallSeconds"] = wallSeconds;
    manifest["completedFramesPerSecond"] = completedFramesPerSecond;
    manifest["gpuMedianMilliseconds"] = gpuMedianMilliseconds ? Json(*gpuMedianMilliseconds) : Json(nullptr);
    // The off-screen benchmark has no display, so no display rate.
    manifest["liveDisplayFPS"] = nullptr;
    manifest["workload"] = "same production shader; five staves; velocity60; sequential GPU completion";
    return manifest;
}

ActivityMetal::Rendered ActivityMetal::render(int width, int height, int activeMask, float velocity)
{
    const auto context = GpuContext::open();
    if (!context)
        fail(kRender.noDevice);
    return render(*context, width, height, activeMask, velocity);
}

ActivityMetal::Rendered ActivityMetal::render(GpuContext &context, int width, int height, int activeMask,
                                              float velocity)
{
    LanesPass pass(context, kRender);
    pass.allocate(width, height);
    pass.draw(LanesFrame{0.0f, activeMask & LanesFrame::kLaneBits, velocity});
    return {pass.readBack(), context.deviceName()};
}

ActivityMetal::Throughput ActivityMetal::benchmark()
{
    const auto context = GpuContext::open();
    if (!context)
        fail(kBenchmark.noDevice);
    return benchmark(*context);
}

ActivityMetal::Throughput ActivityMetal::benchmark(GpuContext &context)
{
    LanesPass pass(context, kBenchmark);
    pass.allocate(kBenchmarkWidth, kBenchmarkHeight);
    std::vector<double> gpuMilliseconds;
    gpuMilliseconds.reserve(size_t(kBenchmarkFrames));
    const auto start = std::chrono::steady_clock::now();
    for (qint64 i = 0; i < kBenchmarkFrames; ++i) {
        // The first second of the animation at 120 frames per second; lanes 1 to 5 active.
        const LanesFrame frame{float(i) / 120.0f, 0x3E, 60.0f};
        if (const auto milliseconds = pass.draw(frame))
            gpuMilliseconds.push_back(*milliseconds);
    }
    const auto end = std::chrono::steady_clock::now();
    return Throughput::measured(std::chrono::duration<double>(end - start).count(), std::move(gpuMilliseconds));
}
