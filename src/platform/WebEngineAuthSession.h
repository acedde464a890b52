#pragma once

#include "platform/WebAuthSession.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QPointer>

#include <memory>

class QDialog;
class QWebEngineProfile;

// The web session as a modal Qt WebEngine window with an off-the-record profile. The callback is
// caught by a URL scheme handler; the window never loads it. Destroying a running session cancels it.
class WebEngineAuthSession : public WebAuthSession
{
public:
    WebEngineAuthSession();
    ~WebEngineAuthSession() override;

    // Prepares the process for sign-in windows and makes `callbackSchemes` known to the browser
    // engine. Must run before the application object (a QApplication) is created; a session whose
    // callback scheme was not named here does not start.
    static void prepare(const QByteArrayList &callbackSchemes);

    bool start(Request request, Completion completion) override;
    void cancel() override;

private:
    class CallbackHandler;
    class Page;

    void finish(QUrl callbackURL, Error error);

    Completion m_completion;
    bool m_started = false;
    bool m_finished = false;
    std::unique_ptr<QObject> m_context;
    QPointer<QDialog> m_window;
    QPointer<QWebEngineProfile> m_profile;
};
