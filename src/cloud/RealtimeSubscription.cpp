#include "cloud/RealtimeSubscription.h"

#include "cloud/DeadlineError.h"
#include "cloud/HubNetwork.h"
#include "cloud/QtRealtimeSocket.h"
#include "cloud/RealtimeProtocol.h"
#include "core/HubError.h"
#include "core/async/Sleep.h"

#include <QTimer>
#include <QUuid>

namespace
{
std::string messageType(const Json &message)
{
    const auto it = message.find("type");
    return it != message.end() && it->is_string() ? it->get<std::string>() : std::string();
}
} // namespace

RealtimeSubscription::RealtimeSubscription(QObject *parent) : RealtimeSubscription(Options(), parent) {}

RealtimeSubscription::RealtimeSubscription(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_intake(m_options.clock),
      m_subscriptionID(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    if (!m_options.socketFactory)
        m_options.socketFactory = [] { return std::make_shared<QtRealtimeSocket>(&HubNetwork::configure); };
    if (!m_options.sleep)
        m_options.sleep = [](std::chrono::milliseconds delay, CancelToken token) {
            return sleepFor(delay, std::move(token));
        };
}

RealtimeSubscription::~RealtimeSubscription()
{
    disconnect();
}

QString RealtimeSubscription::silenceSentence()
{
    return QStringLiteral("The realtime connection went silent.");
}

void RealtimeSubscription::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void RealtimeSubscription::disconnect()
{
    // Taken out before anything is cancelled: cancelling resumes nobody here, and whatever a waiter
    // starts afterwards is its own and stays.
    const CancelSource connecting = std::exchange(m_connectSource, CancelSource());
    const Job receiver = std::exchange(m_receiver, Job());
    const auto socket = std::exchange(m_socket, nullptr);
    connecting.cancel();
    receiver.cancel();
    if (socket)
        socket->cancel(RealtimeSocket::kCloseGoingAway);
    m_intake.resetDecoder();
    setState(Stopped);
}

QCoro::Task<void> RealtimeSubscription::connect(HubConfiguration configuration, QString token, QString sessionID,
                                                TokenSource refreshToken, FrameHandler onFrame)
{
    disconnect();
    m_intake.begin(sessionID, configuration.tenantID);
    m_connectSource = CancelSource();
    const CancelToken cancel = m_connectSource.token();
    const QPointer<RealtimeSubscription> self(this);
    setState(Connecting);

    std::shared_ptr<RealtimeSocket> socket;
    std::exception_ptr failure;
    try {
        socket = co_await open(configuration, token, sessionID, cancel);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // A later connect or disconnect has set the state already.
        if (self && !cancel.cancelled())
            setState(Stopped);
        std::rethrow_exception(failure);
    }
    if (!self || cancel.cancelled()) {
        socket->cancel(RealtimeSocket::kCloseGoingAway);
        throw CancelledError();
    }
    setState(Streaming);
    Context context{std::move(configuration), std::move(sessionID), std::move(refreshToken), std::move(onFrame)};
    m_receiver = Job::start([this, context = std::move(context), socket](CancelToken receiveToken) {
        return receiveLoop(context, socket, std::move(receiveToken));
    });
}

QCoro::Task<std::shared_ptr<RealtimeSocket>> RealtimeSubscription::open(HubConfiguration configuration, QString token,
                                                                        QString sessionID, CancelToken cancel)
{
    m_subscriptionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const auto &endpoint = configuration.graphQLEndpoint;
    if (!endpoint || endpoint->host().isEmpty() || configuration.tenantID.isEmpty())
        throw HubError(QStringLiteral("Select an authenticated workspace."));
    const auto url = realtime::realtimeUrl(*endpoint);
    if (!url)
        throw HubError(QStringLiteral("Invalid realtime endpoint."));
    const Json authorization = realtime::authorizationObject(token, endpoint->host());
    const QByteArray start = realtime::startMessage(m_subscriptionID, sessionID, configuration.tenantID, authorization);

    std::shared_ptr<RealtimeSocket> socket = m_options.socketFactory();
    m_socket = socket;
    const QPointer<RealtimeSubscription> self(this);
    socket->open(*url, {QStringLiteral("graphql-ws"), realtime::headerSubprotocol(authorization)});

    // A platform that never acknowledges must not hold the caller forever: the cancelled socket
    // makes the pending receive fail, and the handshake fails with the passed deadline.
    auto timedOut = std::make_shared<bool>(false);
    auto watchdog = std::make_unique<QTimer>();
    watchdog->setSingleShot(true);
    QObject::connect(watchdog.get(), &QTimer::timeout, watchdog.get(), [socket, timedOut] {
        *timedOut = true;
        socket->cancel(RealtimeSocket::kCloseGoingAway);
    });
    watchdog->start(m_options.handshakeTimeout);

    std::chrono::milliseconds silenceLimit = realtime::connectionTimeout(Json::object());
    std::exception_ptr failure;
    try {
        socket->sendText(realtime::connectionInitMessage());
        while (true) {
            const auto message = co_await socket->receive(cancel);
            const Json parsed = realtime::parseMessage(message.bytes);
            const std::string type = messageType(parsed);
            if (type == "connection_ack") {
                silenceLimit = realtime::connectionTimeout(parsed);
                socket->sendText(start);
            } else if (type == "error" || type == "connection_error") {
                throw HubError(QStringLiteral("Realtime subscription refused."));
            } else if (type == "start_ack") {
                watchdog->stop();
                // A half-open connection delivers nothing, keep-alives included: without this it
                // would leave the subscription deaf for good.
                socket->failWhenSilentFor(silenceLimit, std::make_exception_ptr(DeadlineError(silenceSentence())));
                co_return socket;
            }
        }
    } catch (...) {
        failure =
            *timedOut && !cancel.cancelled() ? std::make_exception_ptr(DeadlineError()) : std::current_exception();
    }
    watchdog->stop();
    socket->cancel(RealtimeSocket::kCloseGoingAway);
    if (self && m_socket == socket)
        m_socket.reset();
    std::rethrow_exception(failure);
}

QCoro::Task<void> RealtimeSubscription::receiveLoop(Context context, std::shared_ptr<RealtimeSocket> socket,
                                                    CancelToken token)
{
    const QPointer<RealtimeSubscription> self(this);
    // The task starts from the event loop, after connect has returned to its caller.
    co_await sleepFor(std::chrono::milliseconds(0), token);
    int attempt = 0;
    while (true) {
        std::exception_ptr failure;
        try {
            while (true) {
                auto message = co_await socket->receive(token);
                if (token.cancelled() || !self)
                    co_return;
                Json parsed = realtime::parseMessage(message.bytes);
                m_intake.counters().observedMessages += 1;
                attempt = 0;
                auto delivery = m_intake.take(std::move(parsed));
                if (!delivery)
                    continue;
                std::exception_ptr handlerError;
                try {
                    co_await context.onFrame(delivery->frame, token);
                } catch (...) {
                    handlerError = std::current_exception();
                }
                if (token.cancelled() || !self)
                    co_return;
                if (handlerError) {
                    m_intake.handlerFailed(*delivery);
                    std::rethrow_exception(handlerError);
                }
                m_intake.delivered(*delivery);
            }
        } catch (...) {
            failure = std::current_exception();
        }

        // Failures in a row: each is answered by one "transport_error" frame, a wait and a new
        // handshake with a fresh token, until one succeeds or the task is cancelled.
        while (true) {
            if (auto ended = std::exchange(socket, nullptr)) {
                if (self && m_socket == ended)
                    m_socket.reset();
                ended->cancel(RealtimeSocket::kCloseGoingAway);
            }
            if (token.cancelled() || !self)
                co_return;
            m_intake.counters().reconnects += 1;
            attempt += 1;
            setState(WaitingToReconnect);
            try {
                co_await context.onFrame(realtime::transportErrorFrame(context.sessionID,
                                                                       context.configuration.tenantID,
                                                                       errorDescription(failure)),
                                         token);
            } catch (...) {
            }
            if (token.cancelled() || !self)
                co_return;
            try {
                co_await m_options.sleep(realtime::reconnectDelay(attempt), token);
                if (token.cancelled() || !self)
                    co_return;
                setState(Connecting);
                const QString fresh = co_await context.refreshToken(token);
                if (token.cancelled() || !self)
                    co_return;
                socket = co_await open(context.configuration, fresh, context.sessionID, token);
                if (token.cancelled() || !self) {
                    socket->cancel(RealtimeSocket::kCloseGoingAway);
                    co_return;
                }
                setState(Streaming);
                break;
            } catch (...) {
                failure = std::current_exception();
            }
        }
    }
}
