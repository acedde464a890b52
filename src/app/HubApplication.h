#pragma once

#include "cloud/CognitoLogin.h"
#include "core/async/Job.h"
#include "ui/CleanupGuards.h"

#include <QObject>

#include <memory>

class HubModel;
class Keyring;
class QGuiApplication;
class QQmlApplicationEngine;
class QQuickWindow;
class QuickOpenPanels;
class SignalBridge;

// The window application: one workspace window on one session model, with the quit and close
// guards in front of every way out (Ctrl+Q, SIGINT and SIGTERM, the session manager, closing the
// window).
class HubApplication
{
public:
    // The platform's parts the model is assembled from.
    struct Platform
    {
        std::shared_ptr<Keyring> keyring;
        CognitoLogin::WebAuthSessionFactory webSessions;
    };
    // The Secret Service keyring and the Qt Quick sign-in window.
    static Platform desktopPlatform();

    HubApplication(QGuiApplication &app, Platform platform);
    ~HubApplication();
    HubApplication(const HubApplication &) = delete;
    HubApplication &operator=(const HubApplication &) = delete;

    // Makes the model and the window and starts the model; false when the window could not be made.
    bool load();
    // Runs until the hub quits; returns the exit status once the model's start task has ended.
    int exec();
    // Quits through the quit guard.
    void quit();

    HubModel *model() const { return m_model.get(); }
    QQuickWindow *window() const { return m_window; }
    const QuitGuard &quitGuard() const { return m_quitGuard; }

    // The whole program's window branch: load, then run.
    static int run(QGuiApplication &app);

private:
    HubModel *windowModel();

    QGuiApplication &m_app;
    Platform m_platform;
    QuitGuard m_quitGuard;
    // The context of this object's connections to the application: they end with it, so a window
    // closing after it is gone (a later window of the same process) never reaches it.
    QObject m_receiver;
    // The model outlives the engine: the window's bindings read it until the engine has destroyed it.
    std::unique_ptr<HubModel> m_model;
    std::shared_ptr<HubModelCleanup> m_cleanup;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::shared_ptr<QuickOpenPanels> m_panels;
    std::unique_ptr<CloseGuard> m_closeGuard;
    std::unique_ptr<SignalBridge> m_signals;
    QQuickWindow *m_window = nullptr;
    Job m_start;
};
