#include "ui/RunControlActions.h"

#include "support/TestSupport.h"

#include <QObject>

#include <gtest/gtest.h>

namespace
{
using testsupport::awaitFor;

// A session that a test can switch, and what a stop did to it.
struct FakeSession
{
    QString id = QStringLiteral("prj-a");
    QStringList reports;
    int closes = 0;
    bool closeFails = false;

    stopcheck::Target target()
    {
        return {[this] { return id; }, [this](const QString &sentence) { reports.append(sentence); },
                [this]() -> QCoro::Task<void> {
                    ++closes;
                    if (closeFails)
                        throw std::runtime_error("cleanup failed");
                    co_return;
                }};
    }
};

TEST(StopCheck, ClosesTheSessionThatIsStillCurrentAfterTheHop)
{
    FakeSession session;
    awaitFor(stopcheck::stopNotedSession(session.target()));
    EXPECT_EQ(session.closes, 1);
    EXPECT_TRUE(session.reports.isEmpty());
}

TEST(StopCheck, RefusesWhenTheSessionChangedDuringTheHop)
{
    FakeSession session;
    QObject context;
    // Queued before the stop starts, so it runs in the event-loop pass the stop waits for.
    QMetaObject::invokeMethod(
        &context, [&session] { session.id = QStringLiteral("prj-b"); }, Qt::QueuedConnection);
    QCoro::Task<void> stop = stopcheck::stopNotedSession(session.target());
    EXPECT_EQ(session.id, QStringLiteral("prj-a")); // the stop has not resumed yet
    awaitFor(std::move(stop));
    EXPECT_EQ(session.closes, 0);
    EXPECT_EQ(session.reports, QStringList{QStringLiteral("Stop does not match the active session.")});
}

TEST(StopCheck, DropsTheCleanupFailureItsOwnerReports)
{
    FakeSession session;
    session.closeFails = true;
    EXPECT_NO_THROW(awaitFor(stopcheck::stopNotedSession(session.target())));
    EXPECT_EQ(session.closes, 1);
    EXPECT_TRUE(session.reports.isEmpty());
}

TEST(StopCheck, DoesNothingOnceCancelledDuringTheHop)
{
    FakeSession session;
    CancelSource source;
    QCoro::Task<void> stop = stopcheck::stopNotedSession(session.target(), source.token());
    source.cancel();
    awaitFor(std::move(stop));
    EXPECT_EQ(session.closes, 0);
    EXPECT_TRUE(session.reports.isEmpty());
}
} // namespace
