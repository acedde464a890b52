#pragma once

#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqml.h>

#include <chrono>

// Loads a page into a web view and gives that load a deadline, as a request's own time-out would:
// a load still under way when the deadline passes is stopped, and what the view then shows is the
// view's own affair. Only the load it was given counts; once that one has ended, the navigations the
// page makes later are not held to it.
class PageLoadDeadline : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    // The WebEngineView it loads.
    Q_PROPERTY(QObject *view READ view WRITE setView NOTIFY viewChanged)
    // Milliseconds a load may take.
    Q_PROPERTY(int timeout READ timeout WRITE setTimeout NOTIFY timeoutChanged)

public:
    explicit PageLoadDeadline(QObject *parent = nullptr);

    QObject *view() const { return m_view; }
    void setView(QObject *view);
    int timeout() const { return int(m_timeout.count()); }
    void setTimeout(int milliseconds);

    Q_INVOKABLE void load(const QUrl &url);
    // Stops the view's loading, and with it the deadline.
    Q_INVOKABLE void stop();

Q_SIGNALS:
    void viewChanged();
    void timeoutChanged();

private Q_SLOTS:
    void viewLoadingChanged();

private:
    bool viewLoading() const;

    QPointer<QObject> m_view;
    QMetaObject::Connection m_loadingChanges;
    std::chrono::milliseconds m_timeout{std::chrono::seconds(60)};
    QTimer m_deadline;
    // The view has reported the load under the deadline as started: its next report of not loading
    // is that load's end (a load it replaced may report its end first).
    bool m_started = false;
};
