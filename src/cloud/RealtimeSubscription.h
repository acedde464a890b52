#pragma once

#include "cloud/RealtimeIntake.h"
#include "cloud/RealtimeSocket.h"
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
// every failure. Main thread only.
class RealtimeSubscription : public QObject
{
    Q_OBJECT

public:
    // Receives one frame; an exception makes the subscription reconnect.
    using FrameHandler = std::function<QCoro::Task<void>(Json)>;
    // Returns a fresh identity token; called before every reconnection.
    using TokenSource = std::function<QCoro::Task<QString>()>;
    using SocketFactory = std::function<std::shared_ptr<RealtimeSocket>()>;
    using Sleeper = std::function<QCoro::Task<void>(std::chrono::milliseconds, CancelToken)>;

    struct Options
    {
        // A Qt WebSocket with the proxy and trust of HubNetwork by default.
        SocketFactory socketFactory;
        // Without "start_ack" by then, the handshake's socket is cancelled.
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
    // subscription; the handshake's error is thrown and then nothing runs.
    QCoro::Task<void> connect(HubConfiguration configuration, QString token, QString sessionID,
                              TokenSource refreshToken, FrameHandler onFrame);
    // Stops everything at once; no frame reaches the handler afterwards. Safe when nothing runs.
    void disconnect();

    const RealtimeCounters &counters() const { return m_intake.counters(); }
    QString subscriptionID() const { return m_subscriptionID; }
    // The running receive task (invalid when none runs); its end can be awaited.
    Job receiver() const { return m_receiver; }

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

    Options m_options;
    RealtimeIntake m_intake;
    std::shared_ptr<RealtimeSocket> m_socket;
    Job m_receiver;
    CancelSource m_connectSource;
    QString m_subscriptionID;
};
