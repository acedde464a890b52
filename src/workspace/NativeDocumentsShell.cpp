// The build shell's connection: the grant, the command channel's socket and its receive loop,
// reconnects with back-off, and the shell's time limit.

#include "workspace/NativeDocuments.h"

#include "cloud/NativeControls.h"
#include "core/HubError.h"
#include "core/ScopedFlag.h"
#include "workspace/ShellStatusRules.h"

namespace
{

using Protocol = AgentCoreShellProtocol;
} // namespace

QCoro::Task<void> NativeDocuments::openShell()
{
    if (m_opening)
        co_return;
    const ScopedFlag opening(this, m_opening);
    const QPointer<NativeDocuments> self(this);

    if (!m_sessionID)
        throw HubError(QStringLiteral("Start a session before opening a build shell."));
    if (m_openedAt && m_options.clock->now() - m_openedAtInstant >= m_options.shellTimeLimit)
        throw HubError(QStringLiteral("This shell reached its one-hour limit. Close it before opening another."));

    const QString session = *m_sessionID;
    Json input{{"sessionId", json::toStd(session)}, {"shellId", nullptr}};
    if (m_shellID)
        input["shellId"] = json::toStd(*m_shellID);
    Json variables{{"input", std::move(input)}};
    const Json answer = co_await call(QStringLiteral("tavriloOpenBuildShell"),
                                      QStringLiteral("$input: TavriloOpenBuildShellInput!"),
                                      QStringLiteral("(input: $input) { ok refusal detail shellId url protocol }"),
                                      std::move(variables), kGrantAnswerBytes);
    if (!self)
        co_return;

    const std::optional<QString> granted = json::string(answer, "shellId");
    const std::optional<QString> urlText = json::string(answer, "url");
    const QUrl url(urlText.value_or(QString()), QUrl::StrictMode);
    const bool secureScheme = urlText && url.isValid() && url.scheme() == QLatin1String("wss");
    if (granted && secureScheme && m_closed) {
        // Closed while the grant was under way: the shell granted meanwhile is given back.
        co_await releaseShell(session, *granted);
        co_return;
    }
    // The whole URL is judged before anything changes: a grant that cannot be opened leaves the
    // held shell and its status as they were, and a new shell granted with it is given back.
    std::optional<QNetworkRequest> request;
    std::exception_ptr unusable;
    try {
        if (!granted || !secureScheme)
            throw HubError(QStringLiteral("The build-shell grant was invalid."));
        request = NativeControls::commandShellRequest(url);
    } catch (const HubError &) {
        unusable = std::current_exception();
    }
    if (unusable) {
        if (granted && !m_shellID)
            co_await releaseShell(session, *granted);
        std::rethrow_exception(unusable);
    }

    if (m_shellID && *m_shellID != *granted)
        throw HubError(QStringLiteral("The reconnect grant changed the shell identity."));
    if (!m_shellID) {
        m_transcript.clear();
        m_shellLines.clear();
        transcriptChanged();
    }
    setShellID(*granted);

    if (json::string(answer, "protocol") != shellProtocol()) {
        // The connection of this shell, if any, ends here; its loop must not reconnect it.
        if (std::shared_ptr<ShellSocket> socket = m_socket)
            socket->cancel(ShellSocket::kCloseProtocolError);
        std::exchange(m_receiver, {}).cancel();
        setShellReady(false);
        stopHeartbeat();
        setShellStatus(QStringLiteral("Shell protocol rejected"));
        co_await releaseShell(session, *granted);
        if (!self)
            co_return;
        setShellID(std::nullopt);
        throw HubError(QStringLiteral("The build-shell grant used an unsupported protocol."));
    }

    setShellReady(false);
    stopHeartbeat();
    if (!m_openedAt) {
        m_openedAt = QDateTime::currentDateTimeUtc();
        m_openedAtInstant = m_options.clock->now();
    }
    setShellStatus(QStringLiteral("Connecting"));
    if (!m_expiry.isValid())
        startExpiry();

    std::shared_ptr<ShellSocket> socket = m_options.socketFactory();
    if (std::shared_ptr<ShellSocket> previous = std::exchange(m_socket, socket))
        previous->cancel(ShellSocket::kCloseGoingAway);
    socket->open(*request);

    Job previousLoop = std::exchange(m_receiver, {});
    m_receiver = Job::start([this, socket](CancelToken token) { return receiveLoop(socket, std::move(token)); });
    previousLoop.cancel();
}

void NativeDocuments::startExpiry()
{
    const QPointer<NativeDocuments> self(this);
    m_expiry = Job::start([self, clock = m_options.clock, limit = m_options.shellTimeLimit,
                           openedAt = m_openedAtInstant](CancelToken token) -> QCoro::Task<void> {
        try {
            co_await clock->sleepUntil(openedAt + limit, token);
        } catch (const CancelledError &) {
            // Only close() (or the model's end) cuts the wait short, and that close is the clean-up:
            // it says "Closed" when it succeeds and leaves the status as it was when it fails, which
            // a retry status written here, while it runs, would overwrite.
            co_return;
        }
        if (token.cancelled() || !self)
            co_return;
        // Out of the model first: close() cancels the expiry it finds, and this one is running it.
        Job running = std::exchange(self->m_expiry, {});
        std::exception_ptr failure;
        try {
            co_await self->close();
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure && self)
            self->setShellStatus(QStringLiteral("Shell expiry cleanup requires retry"));
    });
}

QCoro::Task<void> NativeDocuments::receiveLoop(std::shared_ptr<ShellSocket> socket, CancelToken token)
{
    const QPointer<NativeDocuments> self(this);
    while (!token.cancelled() && self && !m_closed) {
        std::exception_ptr failure;
        std::optional<RealtimeInbox::Message> message;
        try {
            message = co_await socket->receive(token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (!failure) {
            if (m_socket != socket)
                co_return; // replaced: this loop changes nothing any more
            try {
                if (!message->binary)
                    throw Protocol::ProtocolFailure(Protocol::ProtocolFailure::Kind::invalidFrame);
                const Protocol::Message decoded = Protocol::decode(message->bytes);
                switch (decoded.kind) {
                case Protocol::Message::Kind::standardOutput:
                    appendUTF8(decoded.payload, Protocol::standardOutput);
                    continue;
                case Protocol::Message::Kind::standardError:
                    appendUTF8(decoded.payload, Protocol::standardError);
                    continue;
                case Protocol::Message::Kind::heartbeat:
                    continue;
                case Protocol::Message::Kind::close:
                    setShellReady(false);
                    setShellStatus(QStringLiteral("Shell exited"));
                    stopHeartbeat();
                    socket->cancel(ShellSocket::kCloseNormal);
                    co_return;
                case Protocol::Message::Kind::status:
                    if (handleStatus(*decoded.status, socket))
                        continue;
                    co_return;
                }
            } catch (...) {
                failure = std::current_exception();
            }
        }
        co_await handleFailure(socket, failure, token);
        co_return;
    }
}

bool NativeDocuments::handleStatus(const AgentCoreShellProtocol::Status &status,
                                   const std::shared_ptr<ShellSocket> &socket)
{
    const shellstatus::Decision decision = shellstatus::decide(status, m_shellID, m_shellReady);
    switch (decision.kind) {
    case shellstatus::Decision::Kind::protocolFailure:
        throw Protocol::ProtocolFailure(Protocol::ProtocolFailure::Kind::invalidStatus);
    case shellstatus::Decision::Kind::connect:
        setShellReady(true);
        setShellStatus(decision.text);
        m_reconnectAttempts = 0;
        if (!m_heartbeat.isValid())
            startHeartbeat(socket);
        return true;
    case shellstatus::Decision::Kind::ending:
        setShellReady(false);
        setShellStatus(decision.text);
        stopHeartbeat();
        socket->cancel(ShellSocket::kCloseNormal);
        return false;
    }
    return false;
}

QCoro::Task<void> NativeDocuments::handleFailure(std::shared_ptr<ShellSocket> socket, std::exception_ptr failure,
                                                 CancelToken token)
{
    const QPointer<NativeDocuments> self(this);
    if (token.cancelled() || m_closed || m_socket != socket)
        co_return;
    setShellReady(false);
    stopHeartbeat();

    bool protocolFailure = false;
    int transportCode = -1;
    try {
        std::rethrow_exception(failure);
    } catch (const Protocol::ProtocolFailure &) {
        protocolFailure = true;
    } catch (const ShellSocketEnded &ended) {
        transportCode = ended.transportCode();
    } catch (...) {
    }
    const int closeCode = socket->closeCode();
    if (const std::optional<QString> ending = shellstatus::endingFailureText(protocolFailure, closeCode)) {
        setShellStatus(*ending);
        socket->cancel(ShellSocket::kCloseProtocolError);
        co_return;
    }

    const qint64 attempt = ++m_reconnectAttempts;
    if (attempt > shellstatus::kMaximumReconnects) {
        setShellStatus(QStringLiteral("Connection failed after five retries"));
        // The dead socket goes too: nothing would ever end it otherwise.
        if (std::shared_ptr<ShellSocket> dead = std::exchange(m_socket, {}))
            dead->cancel(ShellSocket::kCloseGoingAway);
        co_return;
    }
    setShellStatus(shellstatus::reconnectingText(attempt, closeCode, transportCode));
    bool interrupted = false;
    try {
        co_await m_options.clock->sleep(shellstatus::reconnectDelay(attempt), token);
    } catch (...) {
        interrupted = true;
    }
    // A loop whose socket was replaced or closed meanwhile leaves the status to what replaced it.
    if (!self || m_closed || m_socket != socket)
        co_return;
    if (interrupted) {
        setShellStatus(QStringLiteral("Connection failed; retry available"));
        co_return;
    }
    if (token.cancelled())
        co_return;
    std::exception_ptr reopenFailure;
    try {
        co_await openShell();
    } catch (...) {
        reopenFailure = std::current_exception();
    }
    if (reopenFailure && self && !m_closed)
        setShellStatus(QStringLiteral("Connection failed; retry available"));
}
