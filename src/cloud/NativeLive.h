#pragma once

#include "cloud/HubNetwork.h"
#include "cloud/RealtimeSubscription.h"
#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "core/async/CancelToken.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

// The hub's connection to the platform's GraphQL service for one session.
class NativeLive : public QObject
{
    Q_OBJECT

public:
    // One workspace (tenant) membership of the account.
    struct Workspace
    {
        QString tenantId;
        QString tenantName;
        QString role;
        bool isDefault = false;

        // All four keys are required with their types; other keys are ignored. Throws HubError
        // with the decoding sentence.
        static Workspace decode(const Json &object);
        // A JSON array of workspace objects; one bad element fails the whole list.
        static QList<Workspace> decodeList(const Json &array);

        bool operator==(const Workspace &) const = default;
    };

    explicit NativeLive(QObject *parent = nullptr);
    // The subscription's socket, waits and clock can be replaced; the defaults are the real ones.
    explicit NativeLive(RealtimeSubscription::Options realtime, QObject *parent = nullptr);

    // Opens the realtime subscription of `sessionID`'s frames (stopping any running one) and
    // returns once the platform acknowledged it; then every accepted frame reaches `onFrame`, one at
    // a time, and failures are answered by a "transport_error" frame, a wait and a reconnection
    // with a token from `refreshToken`. The first handshake's error is thrown. The handler and the
    // token source get the subscription's token, which fires when it is disconnected.
    QCoro::Task<void> connect(HubConfiguration configuration, QString token, QString sessionID,
                              TokenSource refreshToken, RealtimeSubscription::FrameHandler onFrame)
    {
        return m_subscription->connect(std::move(configuration), std::move(token), std::move(sessionID),
                                       std::move(refreshToken), std::move(onFrame));
    }
    // Stops the subscription; no frame reaches the handler afterwards.
    void disconnect() { m_subscription->disconnect(); }
    // Stops the subscription and waits for its receiving job, when one runs, to end: what closing a
    // session needs before it clears what that job writes to.
    QCoro::Task<void> disconnectAndWait();

    // The subscription's diagnostics.
    qint64 observedMessages() const { return m_subscription->counters().observedMessages; }
    qint64 observedDeliveries() const { return m_subscription->counters().observedDeliveries; }
    qint64 acceptedFrames() const { return m_subscription->counters().acceptedFrames; }
    qint64 rejectedIdentities() const { return m_subscription->counters().rejectedIdentities; }
    qint64 reconnects() const { return m_subscription->counters().reconnects; }
    RealtimeSubscription &subscription() { return *m_subscription; }

    // Posts one GraphQL operation to the configured endpoint with `token` as bearer and returns the
    // answer's "data" object. Throws HubError with the client's sentences, the platform's error
    // messages, the decoding sentence for a body that is no JSON, HubNetworkError for transport
    // failures, DeadlineError when the platform's deadline (45 s) passes, and CancelledError when `cancel` fires.
    static QCoro::Task<Json> graphql(QString operation, Json variables, HubConfiguration configuration, QString token,
                                     CancelToken cancel = {});

    // The POST every GraphQL operation travels in: the envelope {"query", "variables"} as compact
    // JSON, "Authorization: Bearer <token>" and "Content-Type: application/json", within the
    // platform's deadline.
    static HubNetwork::Request request(const QUrl &endpoint, const QString &token, const QString &operation,
                                       const Json &variables);

private:
    RealtimeSubscription *m_subscription;
};
