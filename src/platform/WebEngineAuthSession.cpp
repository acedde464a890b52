#include "platform/WebEngineAuthSession.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QWindow>

// Hands the first callback URL the page navigates to over to the session. The request itself is
// failed: the callback is for the hub, not a page to show.
class WebEngineAuthSession::CallbackHandler : public QWebEngineUrlSchemeHandler
{
public:
    // `context` lives exactly as long as the session runs; after it is gone callbacks are dropped.
    CallbackHandler(WebEngineAuthSession *session, QObject *context, QObject *parent)
        : QWebEngineUrlSchemeHandler(parent), m_session(session), m_context(context)
    {}

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const QUrl url = job->requestUrl();
        job->fail(QWebEngineUrlRequestJob::RequestAborted);
        if (m_context)
            m_session->finish(url, Error::None);
    }

private:
    WebEngineAuthSession *m_session;
    QPointer<QObject> m_context;
};

// Keeps the window on the sign-in hosts: only https pages of the allowed hosts and a top-level
// navigation to the callback scheme load.
class WebEngineAuthSession::Page : public QWebEnginePage
{
public:
    Page(QWebEngineProfile *profile, QString callbackScheme, QStringList allowedHosts, QObject *parent)
        : QWebEnginePage(profile, parent), m_callbackScheme(std::move(callbackScheme)),
          m_allowedHosts(std::move(allowedHosts))
    {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        if (url.scheme().compare(m_callbackScheme, Qt::CaseInsensitive) == 0)
            return isMainFrame;
        return url.scheme() == QLatin1String("https") && m_allowedHosts.contains(url.host(), Qt::CaseInsensitive);
    }

private:
    QString m_callbackScheme;
    QStringList m_allowedHosts;
};

WebEngineAuthSession::WebEngineAuthSession() = default;

WebEngineAuthSession::~WebEngineAuthSession()
{
    if (m_started && !m_finished)
        finish({}, Error::CanceledLogin);
}

void WebEngineAuthSession::prepare(const QByteArrayList &callbackSchemes)
{
    // The engine's widgets share their OpenGL context with the application's windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    for (const QByteArray &name : callbackSchemes) {
        const QByteArray scheme = name.toLower();
        if (scheme.isEmpty() || !QWebEngineUrlScheme::schemeByName(scheme).name().isEmpty())
            continue;
        QWebEngineUrlScheme callback(scheme);
        // Path syntax keeps the URL as the page wrote it: host and path are compared exactly later.
        callback.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        callback.setFlags(QWebEngineUrlScheme::SecureScheme);
        QWebEngineUrlScheme::registerScheme(callback);
    }
}

bool WebEngineAuthSession::start(Request request, Completion completion)
{
    if (m_started || !completion || !request.url.isValid() || request.callbackScheme.isEmpty())
        return false;
    // The window is a widget, and the engine can only catch schemes it was told about at start-up.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QByteArray scheme = request.callbackScheme.toLower().toUtf8();
    if (QWebEngineUrlScheme::schemeByName(scheme).name().isEmpty())
        return false;

    m_context = std::make_unique<QObject>();
    // A profile without a storage name is off the record: cookies, cache and storage live in
    // memory and go with it. One per session, so nothing is shared either.
    m_profile = new QWebEngineProfile();
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->installUrlSchemeHandler(scheme, new CallbackHandler(this, m_context.get(), m_profile));

    m_window = new QDialog();
    m_window->setWindowTitle(QStringLiteral("Sign in to Tavrilo"));
    m_window->setWindowModality(Qt::ApplicationModal);
    m_window->resize(480, 640);
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *view = new QWebEngineView(m_window);
    auto *page = new Page(m_profile, request.callbackScheme, request.allowedHosts, view);
    view->setPage(page);
    layout->addWidget(view);

    m_completion = std::move(completion);
    m_started = true;
    QObject::connect(m_window, &QDialog::rejected, m_context.get(), [this] { finish({}, Error::CanceledLogin); });
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, m_context.get(),
                     [this] { finish({}, Error::None); });

    m_window->winId();
    if (QWindow *anchor = QGuiApplication::focusWindow(); anchor && m_window->windowHandle())
        m_window->windowHandle()->setTransientParent(anchor);
    m_window->show();
    view->load(request.url);
    return true;
}

void WebEngineAuthSession::cancel()
{
    if (m_started && !m_finished)
        finish({}, Error::CanceledLogin);
}

void WebEngineAuthSession::finish(QUrl callbackURL, Error error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_context.reset(); // ends every connection and the callback handler's link to this object
    // The page goes before its profile: deferred deletions run in the order they were asked for.
    if (m_window) {
        m_window->hide();
        m_window->deleteLater();
    }
    if (m_profile)
        m_profile->deleteLater();
    auto completion = std::move(m_completion);
    m_completion = nullptr;
    completion(std::move(callbackURL), error);
}
