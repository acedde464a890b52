#include "ui/CleanupGuards.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <QCoroSignal>
#include <QGuiApplication>
#include <QTemporaryFile>
#include <QWindow>

#include <gtest/gtest.h>

#include <unistd.h>

using testsupport::waitUntil;

namespace
{
// A model whose clean-up the test ends: it waits until `finish(true)` (completed) or `finish(false)`
// (failed) and counts how often it was started.
class ControlledCleanup : public QObject, public SessionCleanup
{
    Q_OBJECT

public:
    bool owned = false;
    int started = 0;

    bool hasOwnedCleanup() const override { return owned; }
    QCoro::Task<bool> closeSession() override
    {
        ++started;
        const bool succeeded = co_await qCoro(this, &ControlledCleanup::finished);
        if (succeeded)
            owned = false;
        co_return succeeded;
    }
    void finish(bool succeeded) { Q_EMIT finished(succeeded); }

Q_SIGNALS:
    void finished(bool succeeded);
};

// Everything written to standard error while it lives.
class StandardErrorCapture
{
public:
    StandardErrorCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StandardErrorCapture() { restore(); }
    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

const QByteArray quitLine = QByteArray(QuitGuard::blockedLine) + '\n';
const QByteArray closeLine = QByteArray(CloseGuard::remainsOpenLine) + '\n';

// A window that records the close events it was finally given.
class RecordingWindow : public QWindow
{
public:
    int closesReached = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            ++closesReached;
        return QWindow::event(event);
    }
};

enum class Guard { quit, close };

// What the user and the clean-up do, in order. `request` asks the guard to let the hub quit (or the
// window close); `succeed` and `fail` end the running clean-up; `dropWindow` destroys the window.
enum class Step { request, succeed, fail, dropWindow };

struct GuardCase
{
    const char *name;
    Guard guard;
    bool owned;
    QList<Step> script;
    QList<bool> answers; // per request: true when the guard lets it through at once
    int cleanups;
    QList<bool> replies;  // the guard's report of each clean-up it started
    int windowCloses = 0; // closes the guard itself re-issued and let through to the window
    int previousAsks = 0; // how often the close guard asked the window's own predicate
    bool pendingAtEnd = false;
    QByteArray standardError = {};
    bool haveModel = true;      // the quit guard has been given the model
    bool previousAllows = true; // the window's own predicate
};

// Both guards behind one face, so that one table drives them through the same scripts.
struct GuardUnderTest
{
    explicit GuardUnderTest(const GuardCase &c) : model(std::make_shared<ControlledCleanup>())
    {
        model->owned = c.owned;
        if (c.guard == Guard::quit) {
            quit = std::make_unique<QuitGuard>();
            if (c.haveModel)
                quit->setModel(model);
            QObject::connect(quit.get(), &QuitGuard::replied, [this](bool go) { replies << go; });
            return;
        }
        close = std::make_unique<CloseGuard>(model);
        window = std::make_unique<RecordingWindow>();
        window->create();
        close->attach(window.get());
        close->setPrevious([this, allows = c.previousAllows] {
            ++previousAsks;
            return allows;
        });
        QObject::connect(close.get(), &CloseGuard::cleanupFinished, [this](bool succeeded) { replies << succeeded; });
    }

    bool request() { return quit ? quit->requestQuit() == QuitGuard::Answer::QuitNow : close->shouldClose(); }
    bool pending() const { return quit ? quit->terminationPending() : close->pending(); }
    void end(bool succeeded)
    {
        model->finish(succeeded);
        EXPECT_TRUE(waitUntil([&] { return !pending(); }));
    }

    // What the guards report into outlives them.
    QList<bool> replies;
    int previousAsks = 0;
    std::shared_ptr<ControlledCleanup> model;
    std::unique_ptr<QuitGuard> quit;
    std::unique_ptr<CloseGuard> close;
    std::unique_ptr<RecordingWindow> window;
};

class CleanupGuardTest : public ::testing::TestWithParam<GuardCase>
{
};

TEST_P(CleanupGuardTest, HoldsTheWayOutUntilTheCleanupEnds)
{
    const GuardCase &c = GetParam();
    GuardUnderTest guard(c);
    StandardErrorCapture captured;

    QList<bool> answers;
    for (const Step step : c.script) {
        switch (step) {
        case Step::request:
            answers << guard.request();
            break;
        case Step::succeed:
            guard.end(true);
            break;
        case Step::fail:
            guard.end(false);
            break;
        case Step::dropWindow:
            guard.window.reset();
            break;
        }
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(guard.model->started, c.cleanups);
    EXPECT_EQ(guard.replies, c.replies);
    EXPECT_EQ(guard.pending(), c.pendingAtEnd);
    EXPECT_EQ(captured.text(), c.standardError);
    if (guard.close) {
        EXPECT_EQ(guard.window ? guard.window->closesReached : 0, c.windowCloses);
        EXPECT_EQ(guard.previousAsks, c.previousAsks);
        EXPECT_FALSE(guard.close->cleanupApprovedClose());
    }
}

using enum Step;
// One case a row, its fields named.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    States, CleanupGuardTest,
    ::testing::Values(
        // Quitting.
        GuardCase{.name = "QuitNoModelYet", .guard = Guard::quit, .owned = true, .script = {request},
                  .answers = {true}, .cleanups = 0, .replies = {}, .haveModel = false},
        GuardCase{.name = "QuitNothingOwned", .guard = Guard::quit, .owned = false, .script = {request},
                  .answers = {true}, .cleanups = 0, .replies = {}},
        GuardCase{.name = "QuitCleanupOwned", .guard = Guard::quit, .owned = true, .script = {request},
                  .answers = {false}, .cleanups = 1, .replies = {}, .pendingAtEnd = true},
        GuardCase{.name = "QuitSecondRequestDuringCleanup", .guard = Guard::quit, .owned = true,
                  .script = {request, request}, .answers = {false, false}, .cleanups = 1, .replies = {},
                  .pendingAtEnd = true},
        GuardCase{.name = "QuitCleanupSucceeds", .guard = Guard::quit, .owned = true, .script = {request, succeed},
                  .answers = {false}, .cleanups = 1, .replies = {true}},
        GuardCase{.name = "QuitCleanupFails", .guard = Guard::quit, .owned = true, .script = {request, fail},
                  .answers = {false}, .cleanups = 1, .replies = {false}, .standardError = quitLine},
        GuardCase{.name = "QuitSecondRequestThenSuccessRepliesOnce", .guard = Guard::quit, .owned = true,
                  .script = {request, request, succeed}, .answers = {false, false}, .cleanups = 1,
                  .replies = {true}},
        GuardCase{.name = "QuitAfterAFailedCleanupTriesAgain", .guard = Guard::quit, .owned = true,
                  .script = {request, fail, request, succeed}, .answers = {false, false}, .cleanups = 2,
                  .replies = {false, true}, .standardError = quitLine},
        // Closing the window.
        GuardCase{.name = "CloseNothingOwnedPreviousAllows", .guard = Guard::close, .owned = false,
                  .script = {request}, .answers = {true}, .cleanups = 0, .replies = {}, .previousAsks = 1},
        GuardCase{.name = "CloseNothingOwnedPreviousRefuses", .guard = Guard::close, .owned = false,
                  .script = {request}, .answers = {false}, .cleanups = 0, .replies = {}, .previousAsks = 1,
                  .previousAllows = false},
        GuardCase{.name = "CloseCleanupOwned", .guard = Guard::close, .owned = true, .script = {request},
                  .answers = {false}, .cleanups = 1, .replies = {}, .pendingAtEnd = true},
        GuardCase{.name = "CloseSecondRequestDuringCleanup", .guard = Guard::close, .owned = true,
                  .script = {request, request}, .answers = {false, false}, .cleanups = 1, .replies = {},
                  .pendingAtEnd = true},
        GuardCase{.name = "CloseCleanupSucceedsAndTheCloseIsReissued", .guard = Guard::close, .owned = true,
                  .script = {request, succeed}, .answers = {false}, .cleanups = 1, .replies = {true},
                  .windowCloses = 1, .previousAsks = 1},
        GuardCase{.name = "CloseCleanupSucceedsButPreviousRefuses", .guard = Guard::close, .owned = true,
                  .script = {request, succeed}, .answers = {false}, .cleanups = 1, .replies = {true},
                  .previousAsks = 1, .previousAllows = false},
        GuardCase{.name = "CloseCleanupFailsWindowStays", .guard = Guard::close, .owned = true,
                  .script = {request, fail}, .answers = {false}, .cleanups = 1, .replies = {false},
                  .standardError = closeLine},
        GuardCase{.name = "CloseWindowGoneBeforeCleanupReturns", .guard = Guard::close, .owned = true,
                  .script = {request, dropWindow, succeed}, .answers = {false}, .cleanups = 1, .replies = {true}},
        GuardCase{.name = "CloseSecondRequestThenSuccess", .guard = Guard::close, .owned = true,
                  .script = {request, request, succeed}, .answers = {false, false}, .cleanups = 1,
                  .replies = {true}, .windowCloses = 1, .previousAsks = 1}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(QuitGuardTest, AModelGoneBeforeTheQuitQuitsAtOnce)
{
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = true;
    QuitGuard guard;
    guard.setModel(model);
    model.reset();
    EXPECT_EQ(guard.requestQuit(), QuitGuard::Answer::QuitNow);
}

TEST(CloseGuardTest, RefusesTheWindowsCloseEventWhileACleanupRuns)
{
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = true;
    CloseGuard guard(model);
    RecordingWindow window;
    window.create();
    window.show();
    guard.attach(&window);
    guard.attach(&window); // attaching the same window again changes nothing
    EXPECT_FALSE(window.close());
    EXPECT_EQ(window.closesReached, 0);
    EXPECT_EQ(model->started, 1);
    model->finish(true);
    EXPECT_TRUE(waitUntil([&] { return window.closesReached == 1; }));
    EXPECT_FALSE(window.isVisible());
}
} // namespace

#include "CleanupGuardsTest.moc"
