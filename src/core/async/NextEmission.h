#pragma once

#include "core/async/CancelToken.h"
#include "core/async/Resumer.h"

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

// `co_await NextEmission(sender, {&Sender::a, &Sender::b}, token)` resumes once `sender` emits one
// of the signals, is destroyed, or `token` fires; the waiter then re-reads whatever it waits for and
// the token. The resumption goes through the event loop (a Resumer): the emitter or canceller
// finishes its own step first. A sender that is gone, or a token that fired, does not suspend.
// A signal with arguments is awaited alone (`NextEmission(actions, &HubActions::ended)`); its
// arguments are not kept: a waiter that needs them connects a receiver of its own before it acts.
template <typename Sender> class NextEmission
{
public:
    using Signal = void (Sender::*)();

    NextEmission(Sender *sender, std::initializer_list<Signal> signals, CancelToken token = {})
        : m_sender(sender), m_token(std::move(token))
    {
        for (const Signal signal : signals)
            m_connect.push_back([signal](Sender *from, QObject *context, const std::function<void()> &wake) {
                QObject::connect(from, signal, context, wake);
            });
    }
    template <typename... Args>
    NextEmission(Sender *sender, void (Sender::*signal)(Args...), CancelToken token = {})
        : m_sender(sender), m_token(std::move(token))
    {
        m_connect.push_back([signal](Sender *from, QObject *context, const std::function<void()> &wake) {
            QObject::connect(from, signal, context, [wake](const Args &...) { wake(); });
        });
    }

    bool await_ready() const noexcept { return !m_sender || m_token.cancelled(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        // The connections live with the awaiter: they end when the wait is over.
        m_connections = std::make_unique<QObject>();
        const Resumer::Waker waker = m_resumer.waker();
        const std::function<void()> wake = [waker] { waker.wake(); };
        for (const auto &connect : m_connect)
            connect(m_sender.data(), m_connections.get(), wake);
        QObject::connect(m_sender.data(), &QObject::destroyed, m_connections.get(), wake);
        // Last: a cancellation that already happened wakes through the event loop as well.
        m_registration = m_token.onCancel(wake);
    }
    void await_resume() noexcept { m_registration.reset(); }

private:
    QPointer<Sender> m_sender;
    std::vector<std::function<void(Sender *, QObject *, const std::function<void()> &)>> m_connect;
    CancelToken m_token;
    CancelRegistration m_registration;
    std::unique_ptr<QObject> m_connections;
    Resumer m_resumer;
};
