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
#include <mutex>

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
