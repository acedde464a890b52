#include "workspace/NativeDocuments.h"

#include "cloud/DeadlineError.h"
#include "cloud/NativeControls.h"
#include "cloud/NativeLive.h"
#include "core/Deployment.h"
#include "core/HubError.h"
#include "core/PropertyNotify.h"
#include "core/async/Sleep.h"
#include "workspace/QtShellSocket.h"
#include "workspace/WorkspaceMutation.h"

namespace
{
const QString kSignIn = QStringLiteral("Sign in before opening workspace tools.");
const QString kRenewalChanged = QStringLiteral("Workspace tool context changed during credential renewal.");
const QString kPreviousContext = QStringLiteral("Workspace tool response belongs to a previous context.");

// A token from `source` within `limit`, however the source behaves. The renewal runs as a job of
// its own and the request waits for its end or the deadline, whichever comes first: a source that
// ignores its token (a keyring write that cannot be stopped) holds neither the request nor close()
// past the deadline. At the deadline the job's handle goes, which cancels the source's token; the
// job keeps the source and the shared outcome alive, so a token it returns later is dropped there.
QCoro::Task<QString> tokenWithinDeadline(TokenSource source, std::chrono::milliseconds limit)
{
    struct Renewal
    {
        std::optional<QString> token;
        std::exception_ptr error;
        // Fired once the source returned or threw: it ends the deadline's wait early.
        CancelSource ended;
    };
    auto renewal = std::make_shared<Renewal>();
    const Job job = Job::start([source = std::move(source), renewal](CancelToken token) -> QCoro::Task<void> {
        try {
            renewal->token = co_await source(std::move(token));
        } catch (...) {
            renewal->error = std::current_exception();
        }
        renewal->ended.cancel();
    });
    Sleep deadline(limit, renewal->ended.token());
    try {
        co_await std::move(deadline);
    } catch (const CancelledError &) {
        // The renewal ended first.
    }
    if (!renewal->ended.cancelled())
        throw DeadlineError();
    if (renewal->error)
        std::rethrow_exception(renewal->error);
    co_return *renewal->token;
}
} // namespace

// Counts one workspace-tool request in flight from its start to its end, however it ends (also
// when its coroutine is destroyed while suspended).
class PendingRequest
{
public:
    explicit PendingRequest(NativeDocuments *model) : m_model(model) { ++model->m_pendingRequests; }
    ~PendingRequest()
    {
        if (!m_model || --m_model->m_pendingRequests > 0)
            return;
        // Posted: whoever waits for the drain resumes from the event loop, after this request's
        // caller has taken its answer; a waiter finding a new request in flight waits again.
        for (const Resumer::Waker &waiter : std::exchange(m_model->m_drainWaiters, {}))
            waiter.wake();
    }
    PendingRequest(const PendingRequest &) = delete;
    PendingRequest &operator=(const PendingRequest &) = delete;

private:
    QPointer<NativeDocuments> m_model;
};

NativeDocuments::NativeDocuments(QObject *parent) : NativeDocuments(Options(), parent) {}

NativeDocuments::NativeDocuments(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = WorkspaceClock::system();
    if (!m_options.socketFactory)
        m_options.socketFactory = [] { return std::make_shared<QtShellSocket>(); };
    if (!m_options.transport)
        m_options.transport = [](HubNetwork::Request request, CancelToken token) {
            return HubNetwork::send(HubNetwork::shared().httpSession(), std::move(request), std::move(token));
        };
    m_nextShellSend = m_options.clock->now();
    m_transcriptAnnouncement.setSingleShot(true);
    m_transcriptAnnouncement.setInterval(kTranscriptAnnouncementInterval);
    connect(&m_transcriptAnnouncement, &QTimer::timeout, this, [this] {
        m_shellLines.sync(m_transcript);
        Q_EMIT shellTextChanged();
    });
}

// Destruction releases what the model holds and cancels nothing: its jobs end by themselves at
// their next check of the model.
NativeDocuments::~NativeDocuments() = default;

const QString &NativeDocuments::shellProtocol()
{
    static const QString protocol = QString::fromLatin1(deployment::kCommandShellProtocol.data(),
                                                        qsizetype(deployment::kCommandShellProtocol.size()));
    return protocol;
}

void NativeDocuments::configure(HubConfiguration configuration, QString session, TokenSource tokenSource)
{
    const bool sameContext = m_sessionID && *m_sessionID == session && m_configuration &&
                             m_configuration->tenantID == configuration.tenantID;
    if (!sameContext) {
        ++m_contextGeneration;
        ++m_browserGrantGeneration;
        m_browserSessionID.reset();
        setBrowserURL(std::nullopt);
        setBrowserCaptureSource(std::nullopt);
        setBrowserAvailable(false);
        // The web view keeps its page and the last loaded URL: a grant of the new context replaces it.
        std::exchange(m_refresh, {}).cancel();
    }
    m_configuration = std::move(configuration);
    m_tokenSource = std::move(tokenSource);
    m_sessionID = std::move(session);
    m_closed = false;
}

void NativeDocuments::invalidateBrowser()
{
    ++m_browserGrantGeneration;
    std::exchange(m_refresh, {}).cancel();
    dropBrowserGrant();
}

void NativeDocuments::dropBrowserGrant()
{
    m_browserSessionID.reset();
    setBrowserURL(std::nullopt);
    setBrowserCaptureSource(std::nullopt);
    setBrowserAvailable(false);
    if (m_browserView) {
        m_browserView->stopLoading();
        m_browserView->loadBlank();
    }
    m_loadedBrowserURL.reset();
}

QCoro::Task<void> NativeDocuments::close()
{
    const QPointer<NativeDocuments> self(this);
    // No early return: closing a closed model runs every step again. Marked closed first, so that no
    // resize or reconnect started meanwhile sends on the shell.
    m_closed = true;
    setShellReady(false);

    // The resizes and the heartbeat stop; their jobs are held aside until their ends are awaited below.
    Job resize = std::exchange(m_resizeQueue, {});
    resize.cancel();
    Job heartbeat = std::exchange(m_heartbeat, {});
    heartbeat.cancel();

    // The channel's close frame, given 2 seconds before the socket is cancelled anyway.
    if (std::shared_ptr<ShellSocket> socket = m_socket) {
        Job watchdog = Job::start([socket, clock = m_options.clock](CancelToken token) -> QCoro::Task<void> {
            co_await clock->sleep(std::chrono::seconds(2), token);
            socket->cancel(ShellSocket::kCloseNormal);
        });
        try {
            co_await socket->send(AgentCoreShellProtocol::close());
        } catch (...) {
            // The socket is cancelled below whatever became of its close frame.
        }
        watchdog.cancel();
        auto watchdogEnded = watchdog.finished();
        co_await std::move(watchdogEnded);
        if (!self)
            co_return;
    }

    // The socket ends whatever became of the close frame, so the receive loop ends too.
    if (m_socket)
        m_socket->cancel(ShellSocket::kCloseNormal);

    // No resize or heartbeat is left to send on the socket; their errors do not matter here.
    auto resizeEnded = resize.finished();
    co_await std::move(resizeEnded);
    auto heartbeatEnded = heartbeat.finished();
    co_await std::move(heartbeatEnded);
    if (!self)
        co_return;

    // A browser grant or renewal under way is dropped when it lands, and the receive loop ends
    // before anything it reads could act on a closed model.
    ++m_browserGrantGeneration;
    m_refresh.cancel();
    std::exchange(m_expiry, {}).cancel();
    Job receiver = std::exchange(m_receiver, {});
    receiver.cancel();
    if (std::shared_ptr<ShellSocket> socket = std::exchange(m_socket, {}))
        socket->cancel(ShellSocket::kCloseNormal);
    auto receiverEnded = receiver.finished();
    co_await std::move(receiverEnded);
    if (!self)
        co_return;

    // The browser grant goes and the attached view is blanked.
    dropBrowserGrant();

    // Requests under way finish with the token source they started with; each is bounded.
    while (m_pendingRequests > 0) {
        co_await requestsDrained();
        if (!self)
            co_return;
    }

    // The shell is released on the platform. A refusal leaves the shell held, so that a later close tries again.
    if (m_sessionID && m_shellID) {
        co_await releaseShell(*m_sessionID, *m_shellID);
        if (!self)
            co_return;
    }

    // Nothing of the closed shell is left to reconnect to or renew with; the text stays on screen.
    setShellID(std::nullopt);
    m_openedAt.reset();
    setShellStatus(QStringLiteral("Closed"));
    m_tokenSource = {};
    m_transcript.resetChannels();
}

QCoro::Task<void> NativeDocuments::requestsDrained()
{
    struct Drained
    {
        NativeDocuments &model;
        Resumer resumer;
        bool await_ready() const noexcept { return model.m_pendingRequests == 0; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            resumer.arm(handle);
            model.m_drainWaiters.push_back(resumer.waker());
        }
        void await_resume() const noexcept {}
    };
    // Only the model's own close() waits here: a model destroyed meanwhile never wakes it, and
    // a waiting coroutine destroyed meanwhile drops its resumption.
    co_await Drained{*this, {}};
}

QCoro::Task<void> NativeDocuments::releaseShell(QString session, QString shell)
{
    Json variables{{"input", {{"sessionId", json::toStd(session)}, {"shellId", json::toStd(shell)}}}};
    co_await call(QStringLiteral("tavriloCloseBuildShell"), QStringLiteral("$input: TavriloCloseBuildShellInput!"),
                  QStringLiteral("(input: $input) { ok refusal detail }"), std::move(variables), kGrantAnswerBytes);
}

QCoro::Task<Json> NativeDocuments::call(QString field, QString declarations, QString selection, Json variables,
                                        qint64 maximumBytes)
{
    if (!m_configuration || !m_tokenSource)
        throw HubError(kSignIn);
    const PendingRequest pending(this);
    const qint64 generation = m_contextGeneration;
    const QPointer<NativeDocuments> self(this);

    const TokenSource source = m_tokenSource;
    const QString token = co_await tokenWithinDeadline(source, m_options.tokenDeadline);
    if (!self)
        throw CancelledError();
    if (m_contextGeneration != generation)
        throw HubError(kRenewalChanged);

    const QString document = QStringLiteral("mutation NativeDocument(") + declarations + QStringLiteral(") { ") +
                             field + selection + QStringLiteral(" }");
    if (!m_configuration)
        throw HubError(kSignIn);
    Json answer = co_await workspacemutation::call(m_options.transport, *m_configuration, token, document,
                                                   std::move(variables), field, maximumBytes);
    if (!self)
        throw CancelledError();
    if (m_contextGeneration != generation)
        throw HubError(kPreviousContext);
    co_return answer;
}

QString NativeDocuments::shellText() const
{
    if (!m_shellTextCacheValid) {
        m_shellTextCache = QString::fromUtf8(m_transcript.utf8());
        m_shellTextCacheValid = true;
    }
    return m_shellTextCache;
}

void NativeDocuments::transcriptChanged()
{
    m_shellTextCacheValid = false;
    // A flood of output is announced a few times a second, not once per message.
    if (!m_transcriptAnnouncement.isActive())
        m_transcriptAnnouncement.start();
}

void NativeDocuments::setShellStatus(QString status)
{
    setIfChanged(m_shellStatus, std::move(status), this, &NativeDocuments::shellStatusChanged);
}

void NativeDocuments::setShellID(std::optional<QString> shellID)
{
    setIfChanged(m_shellID, std::move(shellID), this, &NativeDocuments::shellIDChanged);
}

void NativeDocuments::setShellReady(bool ready)
{
    setIfChanged(m_shellReady, ready, this, &NativeDocuments::shellReadyChanged);
}

void NativeDocuments::setBrowserAvailable(bool available)
{
    setIfChanged(m_browserAvailable, available, this, &NativeDocuments::browserAvailableChanged);
}

void NativeDocuments::setBrowserURL(std::optional<QUrl> url)
{
    setIfChanged(m_browserURL, std::move(url), this, &NativeDocuments::browserURLChanged);
}

void NativeDocuments::setBrowserCaptureSource(std::optional<QString> source)
{
    setIfChanged(m_browserCaptureSource, std::move(source), this, &NativeDocuments::browserCaptureSourceChanged);
}
