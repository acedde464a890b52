#pragma once

#include "cloud/RealtimeIntake.h"
#include "cloud/RealtimeSocket.h"
#include "cloud/TokenSource.h"
#include "core/HubConfiguration.h"
#include "core/async/Job.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

// The realtime subscription of one session's frames: the handshake on the platform's realtime
// WebSocket, a receive task that filters, reassembles and de-duplicates frames and hands them to
// the caller's handler one at a time, and reconnection with a growing delay and a fresh token after
// every failure, a connection that went silent included. Main thread only.
class RealtimeSubscription : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)

public:
    enum State {
        // Nothing runs: before the first connect, after disconnect, after a failed first handshake.
        Stopped,
        // A handshake runs: the first one of connect, or a reconnection's after its wait.
        Connecting,
        // The platform acknowledged the subscription; frames reach the handler.
        Streaming,
        // The connection failed; the "transport_error" frame and the back-off wait run.
        WaitingToReconnect,
    };
    Q_ENUM(State)

    // Receives one frame; an exception makes the subscription reconnect. The token fires when the
    // subscription is stopped, so a long handler can end early.
    using FrameHandler = std::function<QCoro::Task<void>(Json, CancelToken)>;
    using SocketFactory = std::function<std::shared_ptr<RealtimeSocket>()>;
    using Sleeper = std::function<QCoro::Task<void>(std::chrono::milliseconds, CancelToken)>;

    struct Options
    {
        // A Qt WebSocket with the proxy and trust of HubNetwork by default.
        SocketFactory socketFactory;
        // Without "start_ack" by then, the handshake's socket is cancelled and the handshake fails
        // with a DeadlineError.
        std::chrono::milliseconds handshakeTimeout{20000};
        // Waits before reconnecting; sleepFor by default.
        Sleeper sleep;
        // Monotonic time for reassembly; the steady clock by default.
        NativeFrameDecoder::Clock clock;
    };

    explicit RealtimeSubscription(QObject *parent = nullptr);
    explicit RealtimeSubscription(Options options, QObject *parent = nullptr);
    ~RealtimeSubscription() override;

    // Stops what runs, starts afresh (counters at 0, nothing delivered), runs the first handshake
    // with `token` and starts the receive task. Returns once the platform acknowledged the
    // subscription; the handshake's error is thrown and then nothing runs. `refreshToken` is asked
    // for a token before every reconnection, with the subscription's token.
    QCoro::Task<void> connect(HubConfiguration configuration, QString token, QString sessionID,
                              TokenSource refreshToken, FrameHandler onFrame);
    // Stops everything at once; no frame reaches the handler afterwards. Safe when nothing runs.
    void disconnect();

    State state() const { return m_state; }
    const RealtimeCounters &counters() const { return m_intake.counters(); }
    QString subscriptionID() const { return m_subscriptionID; }
    // The running receive task (invalid when none runs); its end can be awaited.
    Job receiver() const { return m_receiver; }

    // What a connection that receives nothing for its connection timeout fails with.
    static QString silenceSentence();

Q_SIGNALS:
    void stateChanged();

private:
    struct Context
    {
        HubConfiguration configuration;
        QString sessionID;
        TokenSource refreshToken;
        FrameHandler onFrame;
    };

    QCoro::Task<std::shared_ptr<RealtimeSocket>> open(HubConfiguration configuration, QString token, QString sessionID,
                                                      CancelToken cancel);
    QCoro::Task<void> receiveLoop(Context context, std::shared_ptr<RealtimeSocket> socket, CancelToken token);
    void setState(State state);

    Options m_options;
    RealtimeIntake m_intake;
    std::shared_ptr<RealtimeSocket> m_socket;
    Job m_receiver;
    CancelSource m_connectSource;
    QString m_subscriptionID;
    State m_state = Stopped;
};
