#pragma once

#include <QFile>
#include <QString>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fifotest
{
// Runs `fn` on a thread of its own and says whether it finished within five seconds. When it did
// not, it is waiting in an open of the FIFO at `fifo`: opening the FIFO's other end releases it, so
// the test fails instead of hanging. Exceptions of `fn` reach the caller.
template <typename Fn> bool finishesBesideFifo(const QString &fifo, Fn fn)
{
    auto run = std::async(std::launch::async, std::move(fn));
    const bool finished = run.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    run.get();
    return finished;
}

inline bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}
} // namespace fifotest
