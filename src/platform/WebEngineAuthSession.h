#pragma once

#include "platform/WebAuthSession.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QPointer>

#include <memory>

class QQmlEngine;
class QQuickWindow;

// The web session as a modal Qt Quick window (SignInWindow.qml) whose browser view runs on an
// off-the-record profile of its own. The callback is caught by a URL scheme handler; the window
// never loads it. Destroying a running session cancels it.
class WebEngineAuthSession : public WebAuthSession
{
public:
    WebEngineAuthSession();
    ~WebEngineAuthSession() override;

    // Makes `callbackSchemes` known to the browser engine, which reads them once, before the
    // application object exists (GuiApplicationSetup::prepare does this in its place). A session
    // whose callback scheme was not named here does not start.
    static void registerCallbackSchemes(const QByteArrayList &callbackSchemes);

    bool start(Request request, Completion completion) override;
    void cancel() override;

private:
    class CallbackHandler;

    void finish(QUrl callbackURL, Error error);

    Completion m_completion;
    bool m_started = false;
    bool m_finished = false;
    std::unique_ptr<QObject> m_context;
    QPointer<QQuickWindow> m_window;
    QPointer<QQmlEngine> m_engine;
};
