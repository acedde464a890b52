#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

using namespace std::chrono_literals;

namespace testsupport
{
// Runs the event loop until `done()` holds or `timeout` passes; returns whether it held.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = 5s);

// Drives `task` to its end on the event loop and returns its result or rethrows its exception.
// Throws std::runtime_error when it does not end in time (the task then finishes into a state that
// outlives this call, never into freed stack).
template <typename T> T awaitFor(QCoro::Task<T> task, std::chrono::milliseconds timeout = 5s)
{
    struct Outcome
    {
        bool done = false;
        std::exception_ptr error;
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    };
    auto outcome = std::make_shared<Outcome>();
    auto drive = [](QCoro::Task<T> t, std::shared_ptr<Outcome> o) -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(t);
            else
                o->value.emplace(co_await std::move(t));
        } catch (...) {
            o->error = std::current_exception();
        }
        o->done = true;
    };
    drive(std::move(task), outcome);
    if (!waitUntil([&] { return outcome->done; }, timeout))
        throw std::runtime_error("awaitFor: the task did not finish in time");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

// Writes `bytes` to `path`, creating folders; fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
} // namespace testsupport
