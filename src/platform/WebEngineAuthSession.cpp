#include "platform/WebEngineAuthSession.h"

#include "platform/SignInPage.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWebEngineProfile>
#include <QQuickWindow>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

// Generated with the QML module: registers SignInPage for the window. The module has no plugin
// (the library is static), so nothing else would call it.
void qml_register_types_Tavrilo_Platform_SignIn();

namespace
{
const QString kWindowFile = QStringLiteral("qrc:/qt/qml/Tavrilo/Platform/SignIn/SignInWindow.qml");
} // namespace

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

WebEngineAuthSession::WebEngineAuthSession() = default;

WebEngineAuthSession::~WebEngineAuthSession()
{
    if (m_started && !m_finished)
        finish({}, Error::CanceledLogin);
}

void WebEngineAuthSession::registerCallbackSchemes(const QByteArrayList &callbackSchemes)
{
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
    // The window needs the GUI application, and the engine can only catch schemes it was told
    // about at start-up.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    const QByteArray scheme = request.callbackScheme.toLower().toUtf8();
    if (QWebEngineUrlScheme::schemeByName(scheme).name().isEmpty())
        return false;
    [[maybe_unused]] static const bool registered = [] {
        qml_register_types_Tavrilo_Platform_SignIn();
        return true;
    }();

    auto context = std::make_unique<QObject>();
    // The engine, the profile and the window live exactly as long as the session runs.
    auto engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    // A profile without a storage name is off the record: cookies, cache and storage live in
    // memory and go with it. One per session, so nothing is shared either.
    auto *profile = new QQuickWebEngineProfile(engine.get());
    profile->setHttpCacheType(QQuickWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QQuickWebEngineProfile::NoPersistentCookies);
    profile->installUrlSchemeHandler(scheme, new CallbackHandler(this, context.get(), profile));
    auto *page = new SignInPage(request.url, request.callbackScheme, request.allowedHosts, engine.get());

    // The file is compiled into the program: a failure here is a fault of the program itself.
    QQmlComponent component(engine.get(), QUrl(kWindowFile));
    std::unique_ptr<QObject> root;
    if (component.isReady())
        root.reset(component.createWithInitialProperties({{QStringLiteral("page"), QVariant::fromValue(page)},
                                                          {QStringLiteral("profile"), QVariant::fromValue(profile)}}));
    auto *window = qobject_cast<QQuickWindow *>(root.get());
    if (!window) {
        qWarning().noquote() << "The sign-in window cannot be made:" << component.errorString();
        return false;
    }
    root.release();

    m_context = std::move(context);
    m_window = window;
    m_engine = engine.release();
    m_completion = std::move(completion);
    m_started = true;
    // However the window goes off screen (the user closes it, the desktop takes it away), the user
    // can no longer finish signing in there.
    QObject::connect(window, &QWindow::visibleChanged, m_context.get(), [this](bool visible) {
        if (!visible)
            finish({}, Error::CanceledLogin);
    });
    QObject::connect(page, &SignInPage::ended, m_context.get(), [this] { finish({}, Error::None); });

    window->setModality(Qt::ApplicationModal);
    if (QWindow *anchor = QGuiApplication::focusWindow(); anchor && anchor != window)
        window->setTransientParent(anchor);
    window->show();
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
    // The window goes before its profile, which goes with the engine: deferred deletions run in
    // the order they were asked for.
    if (m_window) {
        m_window->hide();
        m_window->deleteLater();
    }
    if (m_engine)
        m_engine->deleteLater();
    auto completion = std::move(m_completion);
    m_completion = nullptr;
    completion(std::move(callbackURL), error);
}
