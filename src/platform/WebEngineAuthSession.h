#pragma once

#include "platform/WebAuthSession.h"

#include <QByteArray>
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

    // Makes `scheme` known to the browser engine as a callback scheme. Must run before the
    // application object is created; a session whose callback scheme was never registered does not
    // start.
    static void registerCallbackScheme(const QByteArray &scheme);

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
