#pragma once

#include "core/async/CancelToken.h"
#include "core/async/Resumer.h"

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <initializer_list>
#include <memory>
#include <vector>

// `co_await NextEmission(sender, {&Sender::a, &Sender::b}, token)` resumes once `sender` emits one
// of the signals, is destroyed, or `token` fires; the waiter then re-reads whatever it waits for and
// the token. The resumption goes through the event loop (a Resumer): the emitter or canceller
// finishes its own step first. A sender that is gone, or a token that fired, does not suspend.
template <typename Sender> class NextEmission
{
public:
    using Signal = void (Sender::*)();

    NextEmission(Sender *sender, std::initializer_list<Signal> signals, CancelToken token = {})
        : m_sender(sender), m_signals(signals), m_token(std::move(token))
    {}

    bool await_ready() const noexcept { return !m_sender || m_token.cancelled(); }
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
        // Last: a cancellation that already happened wakes through the event loop as well.
        m_registration = m_token.onCancel(wake);
    }
    void await_resume() noexcept { m_registration.reset(); }

private:
    QPointer<Sender> m_sender;
    std::vector<Signal> m_signals;
    CancelToken m_token;
    CancelRegistration m_registration;
    std::unique_ptr<QObject> m_connections;
    Resumer m_resumer;
};
