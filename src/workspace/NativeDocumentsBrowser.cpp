// The live browser: its grant with renewal, the view it is shown in, and frame capture.

#include "workspace/NativeDocuments.h"

#include "core/HubError.h"
#include "workspace/BrowserFrame.h"
#include "workspace/BrowserGrant.h"

namespace
{
constexpr qint64 kFrameAnswerBytes = 3145728;
constexpr std::chrono::seconds kPageTimeout{60};

const QString kCaptureSource = QStringLiteral("agentcore-invoke-browser");
} // namespace

QCoro::Task<void> NativeDocuments::openBrowser()
{
    if (!m_sessionID)
        throw HubError(QStringLiteral("Start a session before opening the browser."));
    const QString session = *m_sessionID;
    const qint64 generation = m_browserGrantGeneration;
    const QPointer<NativeDocuments> self(this);

    Json variables{{"sessionId", json::toStd(session)}};
    const Json grant = co_await call(
        QStringLiteral("tavriloOpenBrowserLiveView"), QStringLiteral("$sessionId: ID!"),
        QStringLiteral("(sessionId: $sessionId) { ok refusal detail url browserSessionId expiresAt }"),
        std::move(variables), kGrantAnswerBytes);
    if (!self)
        co_return;
    const std::optional<QUrl> url = browsergrant::liveViewURL(grant);
    if (!url)
        throw HubError(QStringLiteral("The browser grant did not contain a secure live view."));
    const std::optional<QString> identity = browsergrant::sessionIdentity(grant);
    if (!identity)
        throw HubError(QStringLiteral("The browser grant has no live session identity."));
    if (m_closed || m_sessionID != session || m_browserGrantGeneration != generation)
        throw HubError(QStringLiteral("The browser grant changed while opening the live view."));

    const qint64 grantGeneration = ++m_browserGrantGeneration;
    m_browserSessionID = identity;
    setBrowserURL(url);
    setBrowserAvailable(true);
    setBrowserCaptureSource(std::nullopt);
    if (m_browserView)
        loadBrowser(m_browserView);

    const std::chrono::milliseconds delay = browsergrant::renewalDelay(grant, QDateTime::currentDateTimeUtc());
    Job previous = std::exchange(m_refresh, {});
    m_refresh = Job::start([self, clock = m_options.clock, delay, grantGeneration](CancelToken token) -> QCoro::Task<void> {
        bool failed = false;
        try {
            co_await clock->sleepUntil(clock->now() + delay, token);
            if (token.cancelled() || !self)
                co_return;
            co_await self->openBrowser();
        } catch (...) {
            failed = true;
        }
        // A renewal that failed drops the grant, unless another grant operation came first.
        if (failed && !token.cancelled() && self && self->m_browserGrantGeneration == grantGeneration)
            self->invalidateBrowser();
    });
    previous.cancel();
}

void NativeDocuments::loadBrowser(LiveBrowserView *view)
{
    const bool attached = view && view == m_browserView;
    m_browserView = view;
    if (!view || !m_browserURL)
        return;
    if (attached && m_loadedBrowserURL == m_browserURL)
        return;
    m_loadedBrowserURL = m_browserURL;
    view->loadPage(*m_browserURL, kPageTimeout);
}

QCoro::Task<QImage> NativeDocuments::captureBrowserSession()
{
    if (!m_browserAvailable || !m_sessionID || !m_browserSessionID || !m_browserURL || m_closed)
        throw HubError(QStringLiteral("Open a real browser grant before capturing it."));
    const QString session = *m_sessionID;
    const QString browserSession = *m_browserSessionID;
    const QUrl url = *m_browserURL;
    const qint64 context = m_contextGeneration;
    const QPointer<NativeDocuments> self(this);

    Json variables{{"sessionId", json::toStd(session)}, {"browserSessionId", json::toStd(browserSession)}};
    const Json frame = co_await call(
        QStringLiteral("tavriloCaptureBrowserFrame"), QStringLiteral("$sessionId: ID!, $browserSessionId: ID!"),
        QStringLiteral("(sessionId: $sessionId, browserSessionId: $browserSessionId) { ok refusal png }"),
        std::move(variables), kFrameAnswerBytes);
    // A renewal that kept the URL and the browser session is no change.
    if (!self || m_contextGeneration != context || m_sessionID != session || m_browserSessionID != browserSession ||
        m_browserURL != url || !m_browserAvailable || m_closed)
        throw HubError(QStringLiteral("The browser grant changed during capture."));
    const auto png = frame.find("png");
    if (png == frame.end() || !png->is_string())
        throw HubError(QStringLiteral("The browser did not return a real PNG screenshot."));
    const std::string &text = png->get_ref<const std::string &>();
    co_return decodeBrowserPNG(QByteArrayView(text.data(), qsizetype(text.size())), kCaptureSource);
}

QImage NativeDocuments::decodeBrowserPNG(QByteArrayView png, QString source)
{
    QImage image = browserframe::decode(png);
    setBrowserCaptureSource(std::move(source));
    return image;
}
