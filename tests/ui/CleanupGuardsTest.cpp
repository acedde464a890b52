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

// What happens after the first request, and what the guard then shows.
enum class Then { nothing, secondRequest, succeed, fail, secondRequestThenSucceed };

struct QuitCase
{
    const char *name;
    bool haveModel;
    bool owned;
    Then then;
    QuitGuard::Answer firstAnswer;
    int cleanups;
    QList<bool> replies;
    bool pendingAtEnd;
    QByteArray standardError;
};

class QuitGuardTest : public ::testing::TestWithParam<QuitCase>
{
};

TEST_P(QuitGuardTest, HoldsQuittingBackUntilTheCleanupEnds)
{
    const QuitCase &c = GetParam();
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = c.owned;
    QuitGuard guard;
    if (c.haveModel)
        guard.setModel(model);
    QList<bool> seen;
    QObject::connect(&guard, &QuitGuard::replied, [&seen](bool quit) { seen << quit; });
    StandardErrorCapture captured;

    EXPECT_EQ(guard.requestQuit(), c.firstAnswer);
    const auto end = [&](bool succeeded) {
        model->finish(succeeded);
        EXPECT_TRUE(waitUntil([&] { return !guard.terminationPending(); }));
    };
    switch (c.then) {
    case Then::nothing:
        break;
    case Then::secondRequest:
        EXPECT_EQ(guard.requestQuit(), QuitGuard::Answer::QuitLater);
        break;
    case Then::succeed:
        end(true);
        break;
    case Then::fail:
        end(false);
        break;
    case Then::secondRequestThenSucceed:
        EXPECT_EQ(guard.requestQuit(), QuitGuard::Answer::QuitLater);
        end(true);
        break;
    }
    EXPECT_EQ(seen, c.replies);
    EXPECT_EQ(model->started, c.cleanups);
    EXPECT_EQ(guard.terminationPending(), c.pendingAtEnd);
    EXPECT_EQ(captured.text(), c.standardError);
}

INSTANTIATE_TEST_SUITE_P(
    States, QuitGuardTest,
    ::testing::Values(
        QuitCase{"NoModelYet", false, true, Then::nothing, QuitGuard::Answer::QuitNow, 0, {}, false, {}},
        QuitCase{"NothingOwned", true, false, Then::nothing, QuitGuard::Answer::QuitNow, 0, {}, false, {}},
        QuitCase{"CleanupOwned", true, true, Then::nothing, QuitGuard::Answer::QuitLater, 1, {}, true, {}},
        QuitCase{
            "SecondQuitDuringCleanup", true, true, Then::secondRequest, QuitGuard::Answer::QuitLater, 1, {}, true, {}},
        QuitCase{"CleanupSucceeds", true, true, Then::succeed, QuitGuard::Answer::QuitLater, 1, {true}, false, {}},
        QuitCase{"CleanupFails", true, true, Then::fail, QuitGuard::Answer::QuitLater, 1, {false}, false, quitLine},
        QuitCase{"SecondQuitThenSuccessRepliesOnce",
                 true,
                 true,
                 Then::secondRequestThenSucceed,
                 QuitGuard::Answer::QuitLater,
                 1,
                 {true},
                 false,
                 {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(QuitGuardTest, AFailedCleanupLetsTheNextQuitTryAgain)
{
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = true;
    QuitGuard guard;
    guard.setModel(model);
    StandardErrorCapture captured;
    guard.requestQuit();
    model->finish(false);
    ASSERT_TRUE(waitUntil([&] { return !guard.terminationPending(); }));
    EXPECT_EQ(guard.requestQuit(), QuitGuard::Answer::QuitLater);
    EXPECT_EQ(model->started, 2);
    model->finish(true);
    ASSERT_TRUE(waitUntil([&] { return !guard.terminationPending(); }));
    EXPECT_EQ(captured.text(), quitLine);
}

TEST(QuitGuardTest, AModelGoneBeforeTheQuitQuitsAtOnce)
{
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = true;
    QuitGuard guard;
    guard.setModel(model);
    model.reset();
    EXPECT_EQ(guard.requestQuit(), QuitGuard::Answer::QuitNow);
}

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

struct CloseCase
{
    const char *name;
    bool owned;
    Then then;
    bool windowGoneBeforeReturn;
    bool previousAllows;
    bool firstAnswer;
    int cleanups;
    bool windowClosedByGuard; // the re-issued close reached the window and was let through
    QByteArray standardError;
};

class CloseGuardTest : public ::testing::TestWithParam<CloseCase>
{
};

TEST_P(CloseGuardTest, HoldsTheWindowOpenUntilTheCleanupEnds)
{
    const CloseCase &c = GetParam();
    auto model = std::make_shared<ControlledCleanup>();
    model->owned = c.owned;
    CloseGuard guard(model);
    auto window = std::make_unique<RecordingWindow>();
    window->create();
    guard.attach(window.get());
    int previousAsked = 0;
    guard.setPrevious([&] {
        ++previousAsked;
        return c.previousAllows;
    });
    StandardErrorCapture captured;

    EXPECT_EQ(guard.shouldClose(), c.firstAnswer);
    if (c.windowGoneBeforeReturn)
        window.reset();
    int closesBefore = window ? window->closesReached : 0;
    const auto end = [&](bool succeeded) {
        model->finish(succeeded);
        EXPECT_TRUE(waitUntil([&] { return !guard.pending(); }));
    };
    switch (c.then) {
    case Then::nothing:
        break;
    case Then::secondRequest:
        EXPECT_FALSE(guard.shouldClose());
        break;
    case Then::succeed:
        end(true);
        break;
    case Then::fail:
        end(false);
        break;
    case Then::secondRequestThenSucceed:
        EXPECT_FALSE(guard.shouldClose());
        end(true);
        break;
    }
    EXPECT_EQ(model->started, c.cleanups);
    if (window) {
        EXPECT_EQ(window->closesReached - closesBefore, c.windowClosedByGuard ? 1 : 0);
    }
    const bool ended = c.then == Then::succeed || c.then == Then::fail || c.then == Then::secondRequestThenSucceed;
    EXPECT_EQ(guard.pending(), c.owned && !ended);
    EXPECT_FALSE(guard.cleanupApprovedClose());
    EXPECT_EQ(captured.text(), c.standardError);
    if (!c.owned) {
        EXPECT_EQ(previousAsked, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, CloseGuardTest,
    ::testing::Values(
        CloseCase{"NothingOwnedPreviousAllows", false, Then::nothing, false, true, true, 0, false, {}},
        CloseCase{"NothingOwnedPreviousRefuses", false, Then::nothing, false, false, false, 0, false, {}},
        CloseCase{"CleanupOwned", true, Then::nothing, false, true, false, 1, false, {}},
        CloseCase{"SecondCloseDuringCleanup", true, Then::secondRequest, false, true, false, 1, false, {}},
        CloseCase{"CleanupSucceedsAndTheCloseIsReissued", true, Then::succeed, false, true, false, 1, true, {}},
        CloseCase{"CleanupSucceedsButPreviousRefuses", true, Then::succeed, false, false, false, 1, false, {}},
        CloseCase{"CleanupFailsWindowStays", true, Then::fail, false, true, false, 1, false, closeLine},
        CloseCase{"WindowGoneBeforeCleanupReturns", true, Then::succeed, true, true, false, 1, false, {}},
        CloseCase{"SecondCloseThenSuccess", true, Then::secondRequestThenSucceed, false, true, false, 1, true, {}}),
    [](const auto &info) { return std::string(info.param.name); });

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
