#pragma once

#include <QObject>
#include <QUrl>

#include <chrono>

// The web view the live browser is shown in, as the workspace tools drive it: the window's browser
// view implements it. The tools hold it weakly and never own it.
class LiveBrowserView : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void stopLoading() = 0;
    // Shows an empty page (an empty HTML document without a base URL).
    virtual void loadBlank() = 0;
    // Loads `url` with the protocol's default cache policy, giving up after `timeout`.
    virtual void loadPage(const QUrl &url, std::chrono::milliseconds timeout) = 0;
};
