#pragma once

#include <QObject>
#include <QPointer>

#include <coroutine>
#include <initializer_list>
#include <memory>
#include <vector>

// `co_await NextEmission(sender, {&Sender::a, &Sender::b})` resumes once `sender` emits one of the
// signals or is destroyed. The resumption is posted to the event loop: the emitter finishes its own
// step first, and the waiter re-reads whatever it waits for. A sender that is gone already does not
// suspend.
template <typename Sender> class NextEmission
{
public:
    using Signal = void (Sender::*)();

    NextEmission(Sender *sender, std::initializer_list<Signal> signals) : m_sender(sender), m_signals(signals) {}

    bool await_ready() const noexcept { return !m_sender; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_context.reset(new QObject);
        QObject *context = m_context.get();
        auto fired = std::make_shared<bool>(false);
        const auto wake = [context, handle, fired] {
            if (std::exchange(*fired, true))
                return;
            QMetaObject::invokeMethod(
                context, [handle] { handle.resume(); }, Qt::QueuedConnection);
        };
        for (const Signal signal : m_signals)
            QObject::connect(m_sender.data(), signal, context, wake);
        QObject::connect(m_sender.data(), &QObject::destroyed, context, wake);
    }
    void await_resume() const noexcept {}

private:
    struct DeleteLater
    {
        // The context delivers the resumption; it goes once that delivery is over.
        void operator()(QObject *object) const { object->deleteLater(); }
    };

    QPointer<Sender> m_sender;
    std::vector<Signal> m_signals;
    std::unique_ptr<QObject, DeleteLater> m_context;
};
