#include "platform/SignalBridge.h"

#include "core/HubError.h"

#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// The write end the handler uses; -1 while no bridge exists. A lock-free atomic is safe to read in
// a signal handler.
std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void forwardSignal(int signalNumber)
{
    const int saved = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe drops the byte: a signal of the same number is already waiting to be read.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}
} // namespace

SignalBridge::SignalBridge(QList<int> signalNumbers, QObject *parent) : QObject(parent)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw HubError(QStringLiteral("The signal pipe could not be created."));
    int expected = -1;
    if (!g_writeEnd.compare_exchange_strong(expected, ends[1])) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw HubError(QStringLiteral("Signals are already being delivered to another receiver."));
    }
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalBridge::drain);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers) {
        Saved saved{signalNumber, {}};
        if (::sigaction(signalNumber, &action, &saved.action) == 0)
            m_saved.append(saved);
    }
}

SignalBridge::~SignalBridge()
{
    // Restored in reverse, so a number listed twice ends with the disposition found first.
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it)
        ::sigaction(it->signalNumber, &it->action, nullptr);
    m_notifier.reset();
    g_writeEnd.store(-1);
    ::close(m_writeEnd);
    ::close(m_readEnd);
}

void SignalBridge::drain()
{
    // A receiver may destroy the bridge (the program ends on a signal): stop touching it then.
    const QPointer self(this);
    unsigned char bytes[64];
    for (;;) {
        const ssize_t count = ::read(m_readEnd, bytes, sizeof bytes);
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i) {
            Q_EMIT received(bytes[i]);
            if (!self)
                return;
        }
    }
}
