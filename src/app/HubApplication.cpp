#include "app/HubApplication.h"

#include "platform/SecretServiceKeyring.h"
#include "platform/SignalBridge.h"
#include "platform/WebEngineAuthSession.h"
#include "session/HubModel.h"
#include "ui/IconTheme.h"
#include "ui/QuickOpenPanels.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSessionManager>
#include <QShortcut>
#include <QtQml/qqmlextensionplugin.h>

#include <csignal>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
// Runs the event loop until `job` has ended.
void waitForEnd(const Job &job)
{
    if (job.isFinished())
        return;
    QEventLoop loop;
    auto wait = [](Job watched, QEventLoop *eventLoop) -> QCoro::Task<void> {
        co_await watched.finished();
        eventLoop->quit();
    };
    auto waiting = wait(job, &loop);
    loop.exec();
}
} // namespace

HubApplication::Platform HubApplication::desktopPlatform()
{
    return {std::make_shared<SecretServiceKeyring>(), [] { return std::make_unique<WebEngineAuthSession>(); }};
}

HubApplication::HubApplication(QGuiApplication &app, Platform platform) : m_app(app), m_platform(std::move(platform)) {}

HubApplication::~HubApplication()
{
    // The window goes before the model it shows, and the dialogs with the window.
    m_closeGuard.reset();
    m_engine.reset();
    m_panels.reset();
}

HubModel *HubApplication::windowModel()
{
    if (!m_model) {
        HubModel::Dependencies dependencies;
        dependencies.keyring = m_platform.keyring;
        dependencies.webSessions = m_platform.webSessions;
        dependencies.panels = m_panels;
        m_model = std::make_unique<HubModel>(std::move(dependencies));
        m_cleanup = std::make_shared<HubModelCleanup>(m_model.get());
    }
    return m_model.get();
}

void HubApplication::quit()
{
    if (m_quitGuard.requestQuit() == QuitGuard::Answer::QuitNow)
        QCoreApplication::quit();
}

bool HubApplication::load()
{
    // Symbols come from one theme chosen here, never from the desktop's, so the window looks the
    // same on every machine.
    useHubIconTheme();
    QGuiApplication::setDesktopFileName(QStringLiteral("tavrilo-hub"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tavrilo-hub")));
    // The last window closing asks the quit guard like every other way out.
    m_app.setQuitOnLastWindowClosed(false);

    QObject::connect(&m_quitGuard, &QuitGuard::replied, &m_app, [](bool quitNow) {
        if (quitNow)
            QCoreApplication::quit();
    });
    QObject::connect(&m_app, &QGuiApplication::lastWindowClosed, &m_receiver, [this] { quit(); });
#ifndef QT_NO_SESSIONMANAGER
    // Logging out: the session's clean-up runs, and the hub quits when it has completed.
    QObject::connect(&m_app, &QGuiApplication::commitDataRequest, &m_receiver,
                     [this](QSessionManager &) { quit(); });
#endif
    m_signals = std::make_unique<SignalBridge>(QList<int>{SIGINT, SIGTERM});
    QObject::connect(m_signals.get(), &SignalBridge::received, &m_receiver, [this] { quit(); });

    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    m_panels = std::make_shared<QuickOpenPanels>(m_engine.get());
    bool creationFailed = false;
    const QMetaObject::Connection failing = QObject::connect(
        m_engine.get(), &QQmlApplicationEngine::objectCreationFailed, &m_receiver,
        [&creationFailed] { creationFailed = true; });
    m_engine->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue<QObject *>(windowModel())}});
    m_engine->load(QUrl(QStringLiteral("qrc:/qt/qml/Tavrilo/Ui/qml/HubWindow.qml")));
    const QList<QObject *> roots = m_engine->rootObjects();
    QObject::disconnect(failing);
    m_window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.constFirst());
    if (creationFailed || !m_window)
        return false;

    m_closeGuard = std::make_unique<CloseGuard>(m_cleanup);
    m_closeGuard->attach(m_window);
    m_panels->setWindow(m_window);
    auto *quitShortcut = new QShortcut(QKeySequence::Quit, m_window);
    quitShortcut->setContext(Qt::ApplicationShortcut);
    QObject::connect(quitShortcut, &QShortcut::activated, &m_receiver, [this] { quit(); });

    // The model goes to the quit guard first, then starts: a quit before this has run has nothing
    // to wait for. A failed start leaves its sentence in the status line; nothing restarts it.
    m_start = Job::start([this](CancelToken token) -> QCoro::Task<void> {
        m_quitGuard.setModel(m_cleanup);
        co_await m_model->start(token);
    });
    return true;
}

int HubApplication::exec()
{
    const int status = m_app.exec();
    // The window's content goes: its start task ends, and the model is destroyed only after it has.
    m_start.cancel();
    waitForEnd(m_start);
    return status;
}

int HubApplication::run(QGuiApplication &app)
{
    HubApplication hub(app, desktopPlatform());
    if (!hub.load())
        return 1;
    return hub.exec();
}
