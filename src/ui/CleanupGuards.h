#pragma once

#include "core/async/Job.h"
#include "ui/SessionCleanup.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWindow;

// Holds quitting back while the model owns a clean-up: the clean-up runs once, and the hub quits
// only when it completed. Every way of quitting (Ctrl+Q, SIGINT and SIGTERM, the session manager,
// the last window closing) asks `requestQuit()`.
class QuitGuard : public QObject
{
    Q_OBJECT

public:
    enum class Answer { QuitNow, QuitLater };
    static constexpr const char *blockedLine =
        "Tavrilo shutdown blocked: session cleanup did not complete; retry Stop or Quit.";

    using QObject::QObject;

    // The window's model, held weakly; set by the window's start task before the model starts.
    void setModel(std::weak_ptr<SessionCleanup> model) { m_model = std::move(model); }
    bool terminationPending() const { return m_terminationPending; }

    // QuitNow: nothing is owned, quit at once. QuitLater: a clean-up runs (started now or already
    // running); `replied` says later whether to quit.
    Answer requestQuit();

Q_SIGNALS:
    // The outcome of a clean-up this guard started: true when the hub may quit now.
    void replied(bool quit);

private:
    std::weak_ptr<SessionCleanup> m_model;
    bool m_terminationPending = false;
    Job m_cleanup;
};

// Holds the closing of the window back while the model owns a clean-up; after a successful
// clean-up the guard closes the window again itself, and that close is let through. Install it as
// an event filter on the window, or call `shouldClose()` from the window's close handling.
class CloseGuard : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *remainsOpenLine =
        "Tavrilo window remains open: session cleanup failed; retry Stop or Close.";

    // What the window would decide without the guard; true when it has no opinion.
    using Previous = std::function<bool()>;

    explicit CloseGuard(std::shared_ptr<SessionCleanup> model, QObject *parent = nullptr);

    // The window the guard closes again after a clean-up; held weakly.
    void attach(QWindow *window);
    void setPrevious(Previous previous) { m_previous = std::move(previous); }
    void setModel(std::shared_ptr<SessionCleanup> model) { m_model = std::move(model); }

    bool pending() const { return m_pending; }
    bool cleanupApprovedClose() const { return m_cleanupApprovedClose; }

    // Whether the window may close now; false starts (or waits for) the clean-up.
    bool shouldClose();

    // Refuses the window's close events that `shouldClose()` refuses.
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // A clean-up this guard started has ended (for tests and the application's bookkeeping).
    void cleanupFinished(bool succeeded);

private:
    bool askPrevious() const { return m_previous ? m_previous() : true; }

    std::shared_ptr<SessionCleanup> m_model;
    Previous m_previous;
    QPointer<QWindow> m_window;
    bool m_pending = false;
    bool m_cleanupApprovedClose = false;
    Job m_cleanup;
};
