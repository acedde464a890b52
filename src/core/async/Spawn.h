#pragma once

#include "core/HubError.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace spawndetail
{
// Holds the task in its frame until it ends: a task nobody awaits would otherwise lose its failure.
inline QCoro::Task<void> runToEnd(QPointer<QObject> context, QCoro::Task<void> task,
                                  std::function<void(QString)> report)
{
    std::exception_ptr failure;
    try {
        co_await std::move(task);
    } catch (const CancelledError &) {
        // Someone stopped it; there is nothing to tell.
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && context && report)
        report(errorDescription(failure));
}
} // namespace spawndetail

// Starts `task` for a caller that cannot await it (a button of the window, a queued step): the task
// is kept until it ends, and a failure it throws reaches `report` as its sentence while `context`
// still exists. A cancellation is no failure and is not reported.
inline void spawn(QObject *context, QCoro::Task<void> task, std::function<void(QString)> report)
{
    const QCoro::Task<void> running = spawndetail::runToEnd(context, std::move(task), std::move(report));
    Q_UNUSED(running)
}
