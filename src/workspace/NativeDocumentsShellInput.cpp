// The build shell's traffic: input, pacing, heartbeat, resizes, and output into the transcript.

#include "workspace/NativeDocuments.h"

#include "core/HubError.h"
#include "core/async/NextEmission.h"

namespace
{
constexpr qsizetype kInputBytesPerMessage = 0xFC00;
constexpr std::chrono::milliseconds kMessageSpacing{6};
constexpr std::chrono::seconds kHeartbeatPeriod{15};
constexpr std::chrono::seconds kResizeWait{15};
constexpr qint64 kResizeAnswerBytes = 1048576;

const QString kChanged = QStringLiteral("The shell connection changed before input was sent.");
} // namespace

QCoro::Task<void> NativeDocuments::send(QString text)
{
    if (!m_shellReady)
        throw HubError(QStringLiteral("Wait for the shell's initial STATUS before sending input."));
    const QByteArray bytes = text.toUtf8();
    const QPointer<NativeDocuments> self(this);
    const CancelToken none;
    // Cut by bytes: a character may straddle two messages, the shell reassembles its input.
    for (qsizetype at = 0; at < bytes.size(); at += kInputBytesPerMessage) {
        QByteArray frame(1, char(AgentCoreShellProtocol::input));
        frame += QByteArrayView(bytes).sliced(at, std::min(kInputBytesPerMessage, bytes.size() - at));
        co_await sendFrame(std::move(frame), none);
        if (!self)
            co_return;
    }
}

QCoro::Task<void> NativeDocuments::sendFrame(QByteArray frame, CancelToken token)
{
    if (m_closed || !m_socket)
        throw HubError(QStringLiteral("The shell connection is closed."));
    const std::shared_ptr<ShellSocket> socket = m_socket;
    const QPointer<NativeDocuments> self(this);
    // The slot is taken before waiting, so messages asked for at the same time go in the order
    // they were asked for, 6 ms apart.
    const WorkspaceClock::Instant now = m_options.clock->now();
    const WorkspaceClock::Instant slot = std::max(m_nextShellSend, now);
    m_nextShellSend = slot + kMessageSpacing;
    if (slot > now)
        co_await m_options.clock->sleep(slot - now, token);
    if (!self || m_closed || m_socket != socket)
        throw HubError(kChanged);
    co_await socket->send(std::move(frame));
}

void NativeDocuments::startHeartbeat(std::shared_ptr<ShellSocket> socket)
{
    const QPointer<NativeDocuments> self(this);
    m_heartbeat = Job::start([self, socket, clock = m_options.clock](CancelToken token) -> QCoro::Task<void> {
        try {
            while (!token.cancelled()) {
                co_await clock->sleep(kHeartbeatPeriod, token);
                if (!self || self->m_closed || self->m_socket != socket || !self->m_shellReady)
                    co_return;
                co_await self->sendFrame(AgentCoreShellProtocol::heartbeat(), token);
            }
        } catch (...) {
            // A heartbeat that cannot go out ends its socket: the receive loop then reconnects.
            if (!token.cancelled())
                socket->cancel(ShellSocket::kCloseGoingAway);
        }
    });
}

void NativeDocuments::stopHeartbeat()
{
    std::exchange(m_heartbeat, {}).cancel();
}

QCoro::Task<void> NativeDocuments::resize(int columns, int rows)
{
    const QPointer<NativeDocuments> self(this);
    const Job predecessor = m_resizeQueue;
    Job queued = Job::start([self, predecessor, columns, rows](CancelToken token) -> QCoro::Task<void> {
        auto predecessorEnded = predecessor.finished();
        co_await std::move(predecessorEnded);
        token.throwIfCancelled();
        if (!self)
            co_return;
        co_await self->resizeAuthorized(columns, rows, token);
    });
    m_resizeQueue = queued;
    auto ended = queued.finished();
    co_await std::move(ended);
    if (std::exception_ptr error = queued.error())
        std::rethrow_exception(error);
}

QCoro::Task<void> NativeDocuments::resizeAuthorized(int columns, int rows, CancelToken token)
{
    if (m_closed || !m_sessionID || !m_shellID)
        throw HubError(QStringLiteral("The shell is closed before resize authorization."));
    const QString session = *m_sessionID;
    const QString shell = *m_shellID;
    // Refuses sizes outside 1...1000 before anything is sent.
    QByteArray frame = AgentCoreShellProtocol::resize(columns, rows);
    const QPointer<NativeDocuments> self(this);

    Json variables{{"input",
                    {{"sessionId", json::toStd(session)}, {"shellId", json::toStd(shell)}, {"cols", columns},
                     {"rows", rows}}}};
    co_await call(QStringLiteral("tavriloResizeBuildShell"), QStringLiteral("$input: TavriloResizeBuildShellInput!"),
                  QStringLiteral("(input: $input) { ok refusal detail }"), std::move(variables), kResizeAnswerBytes);
    if (!self || m_closed || m_sessionID != session || m_shellID != shell)
        throw HubError(QStringLiteral("The shell changed during resize authorization."));

    // A resize asked for right after opening waits for the shell's first status: it wakes when the
    // shell's readiness or status changes (a dropped or closed shell changes its status), when the
    // caller gives up, or at the deadline.
    const std::shared_ptr<WorkspaceClock> clock = m_options.clock;
    const WorkspaceClock::Instant deadline = clock->now() + kResizeWait;
    const CancelSource waiting(token);
    const Job timeLimit = Job::start([clock, deadline, waiting](CancelToken stop) -> QCoro::Task<void> {
        co_await clock->sleepUntil(deadline, stop);
        waiting.cancel();
    });
    while (true) {
        if (m_shellReady) {
            timeLimit.cancel();
            co_await sendFrame(std::move(frame), token);
            co_return;
        }
        token.throwIfCancelled();
        if (m_closed || !m_socket || waiting.cancelled() || clock->now() >= deadline) {
            timeLimit.cancel();
            throw HubError(QStringLiteral("The shell did not receive a successful initial STATUS before resize."));
        }
        // Named first: GCC 12 cannot keep an initializer list alive across a co_await in one expression.
        NextEmission<NativeDocuments> changed(
            this, {&NativeDocuments::shellReadyChanged, &NativeDocuments::shellStatusChanged}, waiting.token());
        co_await std::move(changed);
        if (!self)
            throw HubError(QStringLiteral("The shell changed during resize authorization."));
    }
}

void NativeDocuments::appendUTF8(QByteArrayView bytes, quint8 channel)
{
    m_transcript.append(bytes, channel);
    transcriptChanged();
}
