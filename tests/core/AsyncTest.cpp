#include "core/HubError.h"
#include "core/async/Job.h"
#include "core/async/SerialExecutor.h"
#include "core/async/Sleep.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
TEST(Sleep, EndsAfterItsDuration)
{
    QElapsedTimer clock;
    clock.start();
    awaitFor(sleepFor(30ms, CancelToken()));
    EXPECT_GE(clock.elapsed(), 29);
}

TEST(Sleep, CancelDuringTheWaitEndsPromptlyWithCancellation)
{
    CancelSource source;
    QTimer::singleShot(20, [&] { source.cancel(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(awaitFor(sleepFor(10s, source.token())), CancelledError);
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST(Sleep, CancelledBeforeDoesNotWaitAndOtherThreadsMayCancel)
{
    CancelSource before;
    before.cancel();
    EXPECT_THROW(awaitFor(sleepFor(10s, before.token()), 100ms), CancelledError);

    CancelSource fromThread;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        QThread::msleep(20);
        fromThread.cancel();
    }));
    thread->start();
    EXPECT_THROW(awaitFor(sleepFor(10s, fromThread.token())), CancelledError);
    thread->wait();
}

// Runs `between` after the wrapped awaiter has decided to wait and before it starts waiting, and
// records whether the coroutine resumed inside `await_suspend` instead of from the event loop.
// Holds pointers only: GCC 12 destroys a temporary of a co_await expression twice when it has a
// destructor.
template <typename Awaiter> struct Interleaved
{
    Awaiter *inner;
    const std::function<void()> *between;
    bool *suspendReturned;

    bool await_ready()
    {
        if (inner->await_ready())
            return true;
        (*between)();
        return false;
    }
    void await_suspend(std::coroutine_handle<> handle)
    {
        inner->await_suspend(handle);
        *suspendReturned = true;
    }
    void await_resume() { inner->await_resume(); }
};

TEST(Sleep, CancellationLandingBetweenTheCheckAndTheStartResumesFromTheEventLoop)
{
    CancelSource source;
    bool suspendReturned = false;
    bool resumedAfterSuspendReturned = false;
    auto sleeper = [](CancelSource s, bool *returned, bool *ordered) -> QCoro::Task<void> {
        // The token is not cancelled when the sleep checks it; another thread cancels before the
        // sleep registers with it.
        const std::function<void()> cancelFromThread = [s] { std::thread([s] { s.cancel(); }).join(); };
        Sleep sleep(10s, s.token());
        try {
            co_await Interleaved<Sleep>{&sleep, &cancelFromThread, returned};
        } catch (...) {
            *ordered = *returned;
            throw;
        }
    };
    EXPECT_THROW(awaitFor(sleeper(source, &suspendReturned, &resumedAfterSuspendReturned), 2s), CancelledError);
    EXPECT_TRUE(resumedAfterSuspendReturned);
}

TEST(CancelToken, CancelReturnsBeforeAnyWaiterResumes)
{
    CancelSource source;
    bool sleeperEnded = false;
    bool waiterEnded = false;
    auto job = Job::start([&sleeperEnded](CancelToken token) -> QCoro::Task<void> {
        try {
            co_await sleepFor(10s, token);
        } catch (const CancelledError &) {
            sleeperEnded = true;
        }
    });
    [](Job j, bool *ended) -> QCoro::Task<void> {
        co_await j.finished();
        *ended = true;
    }(job, &waiterEnded);
    job.cancel();
    // Neither the cancelled sleep nor the job's waiter ran on the canceller's stack.
    EXPECT_FALSE(sleeperEnded);
    EXPECT_FALSE(waiterEnded);
    ASSERT_TRUE(waitUntil([&] { return waiterEnded; }));
    EXPECT_TRUE(sleeperEnded);
}

TEST(CancelToken, EndingARegistrationWaitsForItsCallbackRunningOnAnotherThread)
{
    CancelSource source;
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool resetting = false;
    std::atomic<bool> returned{false};
    auto registration = source.token().onCancel([&] {
        std::unique_lock lock(mutex);
        started = true;
        changed.notify_all();
        changed.wait(lock, [&] { return resetting; });
        lock.unlock();
        // A slow callback: the registration's end must still wait for it.
        QThread::msleep(50);
        returned = true;
    });
    std::thread canceller([&] { source.cancel(); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return started; });
        resetting = true;
        changed.notify_all();
    }
    registration.reset();
    EXPECT_TRUE(returned);
    canceller.join();
}

TEST(CancelToken, ContextCallbacksRunOnTheContextsThreadAndNotOnceItIsGone)
{
    CancelSource source;
    QObject kept;
    auto *gone = new QObject;
    QThread *ranOn = nullptr;
    bool goneRan = false;
    auto onKept = source.token().onCancel(&kept, [&] { ranOn = QThread::currentThread(); });
    auto onGone = source.token().onCancel(gone, [&] { goneRan = true; });
    std::thread([&] { source.cancel(); }).join();
    delete gone;
    EXPECT_EQ(ranOn, nullptr);
    ASSERT_TRUE(waitUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn, QThread::currentThread());
    EXPECT_FALSE(goneRan);

    // Registered after the cancellation: still from the event loop, and not at all when the
    // registration ends before it runs.
    bool late = false, dropped = false;
    auto lateRegistration = source.token().onCancel(&kept, [&] { late = true; });
    source.token().onCancel(&kept, [&] { dropped = true; }).reset();
    EXPECT_FALSE(late);
    ASSERT_TRUE(waitUntil([&] { return late; }));
    EXPECT_FALSE(dropped);
}

TEST(CancelToken, CallbacksRunOnceAndEndWithTheirRegistration)
{
    CancelSource source;
    int fired = 0, dropped = 0;
    auto keep = source.token().onCancel([&] { ++fired; });
    {
        auto gone = source.token().onCancel([&] { ++dropped; });
    }
    source.cancel();
    source.cancel();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(dropped, 0);
    // Registering after the fact runs at once.
    auto late = source.token().onCancel([&] { ++fired; });
    EXPECT_EQ(fired, 2);

    CancelSource parent;
    CancelSource child(parent.token());
    parent.cancel();
    EXPECT_TRUE(child.cancelled());
    EXPECT_FALSE(CancelToken().cancelled());
}

TEST(Job, SeveralAwaitersAllSeeTheEnd)
{
    auto job = Job::start([](CancelToken token) -> QCoro::Task<void> { co_await sleepFor(10s, token); });
    int seen = 0;
    auto waiter = [](Job j, int *count) -> QCoro::Task<void> {
        co_await j.finished();
        ++*count;
    };
    waiter(job, &seen);
    waiter(job, &seen);
    EXPECT_FALSE(job.isFinished());
    job.cancel();
    ASSERT_TRUE(waitUntil([&] { return seen == 2; }));
    EXPECT_TRUE(job.isFinished());
    ASSERT_TRUE(job.error());
    EXPECT_THROW(std::rethrow_exception(job.error()), CancelledError);

    // Awaiting a finished job returns at once.
    awaitFor([](Job j) -> QCoro::Task<void> { co_await j.finished(); }(job), 100ms);
}

TEST(Job, KeepsTheBodyAliveAndRecordsItsError)
{
    auto owned = std::make_shared<int>(41);
    auto job = Job::start([owned](CancelToken token) -> QCoro::Task<void> {
        co_await sleepFor(5ms, token);
        ++*owned;
        throw HubError(QStringLiteral("Body failed."));
    });
    owned.reset();
    awaitFor([](Job j) -> QCoro::Task<void> { co_await j.finished(); }(job));
    EXPECT_EQ(errorDescription(job.error()), QStringLiteral("Body failed."));
}

TEST(Job, DroppingTheLastHandleCancelsTheTask)
{
    bool cancelled = false;
    bool ended = false;
    auto job = Job::start([&cancelled](CancelToken token) -> QCoro::Task<void> {
        try {
            co_await sleepFor(10s, token);
        } catch (const CancelledError &) {
            cancelled = true;
        }
    });
    // A waiter is no handle.
    [](Job::FinishedAwaiter finished, bool *flag) -> QCoro::Task<void> {
        co_await std::move(finished);
        *flag = true;
    }(job.finished(), &ended);
    Job copy = job;
    job = Job();
    ASSERT_FALSE(job.isValid());
    EXPECT_FALSE(copy.token().cancelled());
    const CancelToken token = copy.token();
    copy = Job();
    EXPECT_TRUE(token.cancelled());
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_TRUE(cancelled);
}

class Owner : public QObject
{
public:
    int touched = 0;
    QCoro::Task<void> waitThenTouch(CancelToken token)
    {
        QPointer<Owner> self(this);
        co_await sleepFor(20ms, token);
        if (!self)
            co_return;
        ++touched;
    }
};

TEST(Job, AnObjectDeletedWhileItsCoroutineWaitsIsNotTouched)
{
    auto *owner = new Owner;
    bool ended = false;
    [](Owner *o, bool *flag) -> QCoro::Task<void> {
        co_await o->waitThenTouch(CancelToken());
        *flag = true;
    }(owner, &ended);
    delete owner; // ASan reports a use after free if the coroutine touches it
    ASSERT_TRUE(waitUntil([&] { return ended; }));
}

TEST(SerialExecutor, RunsInSubmissionOrderOffTheMainThread)
{
    SerialExecutor executor(QStringLiteral("test-actor"));
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<bool> offMain{true};
    QThread *main = QThread::currentThread();
    for (int i = 0; i < 100; ++i)
        executor.post([&, i] {
            if (QThread::currentThread() == main)
                offMain = false;
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    const int result = awaitFor([](SerialExecutor *e) -> QCoro::Task<int> {
        co_return co_await e->run([&]() -> int { return e->isCurrentThread() ? 7 : -1; });
    }(&executor));
    EXPECT_EQ(result, 7);
    EXPECT_TRUE(offMain);
    ASSERT_EQ(order.size(), 100u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    EXPECT_THROW(awaitFor([](SerialExecutor *e) -> QCoro::Task<void> {
                     co_await e->run([] { throw HubError(QStringLiteral("Actor failed.")); });
                 }(&executor)),
                 HubError);
}
} // namespace
