#pragma once

#include <QStringList>
#include <QUrl>

#include <functional>

// A sign-in page shown to the user in a browser session of its own (no cookies or storage shared
// with anything else, nothing kept afterwards), which ends when the page navigates to the callback
// scheme.
class WebAuthSession
{
public:
    enum class Error {
        None,
        // The user closed the window before the callback arrived, or the session was cancelled.
        CanceledLogin,
    };

    struct Request
    {
        QUrl url;                 // the first page
        QString callbackScheme;   // a navigation to this scheme ends the session with its URL
        QStringList allowedHosts; // https hosts the session may navigate to; every other navigation is refused
    };

    // Runs exactly once per started session: with the callback URL and Error::None, with an empty
    // URL and an error, or with an empty URL and Error::None when the session ended with neither.
    using Completion = std::function<void(QUrl callbackURL, Error error)>;

    virtual ~WebAuthSession() = default;

    // Shows the page. Returns false, and never runs `completion`, when the session cannot start.
    // At most one start per object.
    virtual bool start(Request request, Completion completion) = 0;
    // Ends a running session with Error::CanceledLogin; nothing once it has ended.
    virtual void cancel() = 0;
};
