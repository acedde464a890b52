#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>

// Runs blocking `work` on the shared worker pool and resumes the awaiting coroutine on its own
// thread with the result, or with the exception the work threw (any type: the pool itself only
// carries its own exception type across).
template <typename Work> QCoro::Task<std::invoke_result_t<Work &>> detached(Work work)
{
    using Value = std::invoke_result_t<Work &>;
    struct Outcome
    {
        std::optional<Value> value;
        std::exception_ptr error;
    };
    QFuture<Outcome> future = QtConcurrent::run([work = std::move(work)]() mutable {
        Outcome outcome;
        try {
            outcome.value.emplace(work());
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    Outcome outcome = co_await future;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    co_return std::move(*outcome.value);
}
