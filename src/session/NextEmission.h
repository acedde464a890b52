#pragma once

#include "core/async/Resumer.h"

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <initializer_list>
#include <memory>
#include <vector>

// `co_await NextEmission(sender, {&Sender::a, &Sender::b})` resumes once `sender` emits one of the
// signals or is destroyed. The resumption goes through the event loop (a Resumer): the emitter
// finishes its own step first, and the waiter re-reads whatever it waits for. A sender that is gone
// already does not suspend.
template <typename Sender> class NextEmission
{
public:
    using Signal = void (Sender::*)();

    NextEmission(Sender *sender, std::initializer_list<Signal> signals) : m_sender(sender), m_signals(signals) {}

    bool await_ready() const noexcept { return !m_sender; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        // The connections live with the awaiter: they end when the wait is over.
        m_connections = std::make_unique<QObject>();
        const Resumer::Waker waker = m_resumer.waker();
        const auto wake = [waker] { waker.wake(); };
        for (const Signal signal : m_signals)
            QObject::connect(m_sender.data(), signal, m_connections.get(), wake);
        QObject::connect(m_sender.data(), &QObject::destroyed, m_connections.get(), wake);
    }
    void await_resume() const noexcept {}

private:
    QPointer<Sender> m_sender;
    std::vector<Signal> m_signals;
    std::unique_ptr<QObject> m_connections;
    Resumer m_resumer;
};
