#pragma once

#include "cloud/AgentCoreShellProtocol.h"
#include "cloud/HubNetwork.h"
#include "cloud/TokenSource.h"
#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "core/async/Job.h"
#include "core/async/Resumer.h"
#include "workspace/LiveBrowserView.h"
#include "workspace/ShellLines.h"
#include "workspace/ShellSocket.h"
#include "workspace/ShellTranscript.h"
#include "workspace/WorkspaceClock.h"

#include <QCoroTask>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The build shell and live browser of the current session: a main-thread observable model bound to
// one configuration, session id and token source at a time. Every request it makes of the platform
// goes through one caller that counts it in flight; close() waits for them before it releases the
// shell on the platform. Its long-lived work (the shell's receive loop, heartbeat, expiry and
// resize queue, the browser grant's refresh) runs in jobs it holds; each re-checks after every wait
// that its socket, grant or context is still the current one.
class NativeDocuments : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString shellText READ shellText NOTIFY shellTextChanged)
    // The transcript for a view: its lines as rows, appended to, the last one rewritten in place, and
    // brought up to date with each shellTextChanged.
    Q_PROPERTY(ShellLines *shellLines READ shellLines CONSTANT)
    Q_PROPERTY(QString shellStatus READ shellStatus NOTIFY shellStatusChanged)
    Q_PROPERTY(std::optional<QString> shellID READ shellID NOTIFY shellIDChanged)
    Q_PROPERTY(bool shellReady READ shellReady NOTIFY shellReadyChanged)
    Q_PROPERTY(bool browserAvailable READ browserAvailable NOTIFY browserAvailableChanged)
    Q_PROPERTY(std::optional<QUrl> browserURL READ browserURL NOTIFY browserURLChanged)
    Q_PROPERTY(std::optional<QString> browserCaptureSource READ browserCaptureSource NOTIFY
                   browserCaptureSourceChanged)

public:
    // Sends one platform request; HubNetwork's platform session by default.
    using Transport = std::function<QCoro::Task<HubNetwork::Reply>(HubNetwork::Request, CancelToken)>;
    // Makes the socket of one command-channel connection; a Qt WebSocket by default.
    using ShellSocketFactory = std::function<std::shared_ptr<ShellSocket>()>;

    struct Options
    {
        std::shared_ptr<WorkspaceClock> clock; // the system's by default
        ShellSocketFactory socketFactory;
        Transport transport;
        // How long one shell may stay open, counted from its first grant.
        std::chrono::milliseconds shellTimeLimit{std::chrono::hours(1)};
        // How long a request waits for its token: a renewal may wait on the keyring and the
        // identity provider, and one that never ends must not hold the session's close for ever.
        std::chrono::milliseconds tokenDeadline{std::chrono::seconds(45)};
    };

    explicit NativeDocuments(QObject *parent = nullptr);
    explicit NativeDocuments(Options options, QObject *parent = nullptr);
    ~NativeDocuments() override;

    // Binds the tools to a session. The same session and tenant only replace the token source;
    // anything else starts a new context and clears the browser grant.
    void configure(HubConfiguration configuration, QString session, TokenSource tokenSource);
    // Drops the live-browser grant and everything loaded from it.
    void invalidateBrowser();
    // Closes the session's build shell (on the platform too, when one is open there) and browser.
    // Throws the platform's sentence when the remote close is not confirmed.
    QCoro::Task<void> close();

    // Opens the session's build shell, or opens a new connection to the one held. Returns once the
    // connection is being opened, before the shell's first status; returns at once while another
    // open runs. Throws HubError with the sentence to show.
    QCoro::Task<void> openShell();
    // Sends terminal input as it is (no line end added).
    QCoro::Task<void> send(QString text);
    // Authorises a terminal size with the platform, then sends it; resizes run one after another.
    QCoro::Task<void> resize(int columns, int rows);

    // Asks the platform for a live-browser grant of the session, stores it, loads it into the
    // attached view and schedules its renewal 30 s before it expires. Throws HubError.
    QCoro::Task<void> openBrowser();
    // Attaches the view the live browser is shown in (held weakly) and loads the grant's page into
    // it, unless this same view already shows it.
    Q_INVOKABLE void loadBrowser(LiveBrowserView *view);
    // One frame of the granted browser. Throws HubError.
    QCoro::Task<QImage> captureBrowserSession();

    QString shellText() const;
    ShellLines *shellLines() { return &m_shellLines; }
    const QString &shellStatus() const { return m_shellStatus; }
    const std::optional<QString> &shellID() const { return m_shellID; }
    bool shellReady() const { return m_shellReady; }
    bool browserAvailable() const { return m_browserAvailable; }
    const std::optional<QUrl> &browserURL() const { return m_browserURL; }
    const std::optional<QString> &browserSessionID() const { return m_browserSessionID; }
    const std::optional<QString> &browserCaptureSource() const { return m_browserCaptureSource; }
    const std::optional<QUrl> &loadedBrowserURL() const { return m_loadedBrowserURL; }

    // The state behind the operations, read by the session model and the tests.
    const std::optional<QString> &sessionID() const { return m_sessionID; }
    const std::optional<HubConfiguration> &configuration() const { return m_configuration; }
    bool hasTokenSource() const { return bool(m_tokenSource); }
    bool isClosed() const { return m_closed; }
    qint64 contextGeneration() const { return m_contextGeneration; }
    qint64 browserGrantGeneration() const { return m_browserGrantGeneration; }
    qint64 pendingRequests() const { return m_pendingRequests; }
    qint64 reconnectAttempts() const { return m_reconnectAttempts; }
    const std::optional<QDateTime> &openedAt() const { return m_openedAt; }
    bool hasShellSocket() const { return bool(m_socket); }

    // The command service's protocol identifier, which a shell grant must name.
    static const QString &shellProtocol();

Q_SIGNALS:
    // Announced at most every kTranscriptAnnouncementInterval while output flows; shellText() is
    // current whenever it is read.
    void shellTextChanged();
    void shellStatusChanged();
    void shellIDChanged();
    void shellReadyChanged();
    void browserAvailableChanged();
    void browserURLChanged();
    void browserCaptureSourceChanged();

public:
    static constexpr std::chrono::milliseconds kTranscriptAnnouncementInterval{50};

private:
    // The platform session's own bound on one workspace tool request's answer.
    static constexpr qint64 kGrantAnswerBytes = 1048576;

    friend class PendingRequest;

    // The workspace-tool mutation caller: one mutation of the document "NativeDocument", the
    // answer object of `field` once the platform's answer decoder accepted it.
    QCoro::Task<Json> call(QString field, QString declarations, QString selection, Json variables,
                           qint64 maximumBytes);
    // Releases a granted shell on the platform.
    QCoro::Task<void> releaseShell(QString session, QString shell);

    // Ends once no workspace-tool request is in flight (at once when none is).
    QCoro::Task<void> requestsDrained();

    // The frame of a capture answer's Base64 PNG; on success the capture source is `source`.
    QImage decodeBrowserPNG(QByteArrayView png, QString source);

    // The browser grant's fields cleared, the attached view blanked.
    void dropBrowserGrant();

    // The shell's receive loop of one socket.
    QCoro::Task<void> receiveLoop(std::shared_ptr<ShellSocket> socket, CancelToken token);
    // Applies a status message of the current socket; returns whether the loop goes on.
    bool handleStatus(const AgentCoreShellProtocol::Status &status, const std::shared_ptr<ShellSocket> &socket);
    QCoro::Task<void> handleFailure(std::shared_ptr<ShellSocket> socket, std::exception_ptr failure,
                                    CancelToken token);
    void startExpiry();
    QCoro::Task<void> sendFrame(QByteArray frame, CancelToken token);
    void startHeartbeat(std::shared_ptr<ShellSocket> socket);
    QCoro::Task<void> resizeAuthorized(int columns, int rows, CancelToken token);
    void appendUTF8(QByteArrayView bytes, quint8 channel);
    void transcriptChanged();
    void stopHeartbeat();

    void setShellStatus(QString status);
    void setShellID(std::optional<QString> shellID);
    void setShellReady(bool ready);
    void setBrowserAvailable(bool available);
    void setBrowserURL(std::optional<QUrl> url);
    void setBrowserCaptureSource(std::optional<QString> source);

    Options m_options;

    std::optional<QUrl> m_browserURL;
    std::optional<QString> m_browserSessionID;
    bool m_browserAvailable = false;
    std::optional<QString> m_browserCaptureSource;
    QPointer<LiveBrowserView> m_browserView;
    std::optional<QUrl> m_loadedBrowserURL;
    ShellTranscript m_transcript;
    ShellLines m_shellLines;
    QString m_shellStatus = QStringLiteral("Not opened");
    std::optional<QString> m_shellID;
    bool m_shellReady = false;
    Job m_heartbeat;
    qint64 m_reconnectAttempts = 0;
    WorkspaceClock::Instant m_nextShellSend;
    std::shared_ptr<ShellSocket> m_socket;
    Job m_receiver;
    Job m_resizeQueue;
    Job m_refresh;
    Job m_expiry;
    bool m_closed = false;
    bool m_opening = false;
    std::optional<QDateTime> m_openedAt;
    // When the shell was opened on the tools' clock, which counts a suspend too: the one-hour
    // limit is measured from here.
    WorkspaceClock::Instant m_openedAtInstant{};
    std::optional<HubConfiguration> m_configuration;
    TokenSource m_tokenSource;
    qint64 m_contextGeneration = 0;
    qint64 m_browserGrantGeneration = 0;
    qint64 m_pendingRequests = 0;
    // Waiting for m_pendingRequests to reach zero.
    std::vector<Resumer::Waker> m_drainWaiters;
    std::optional<QString> m_sessionID;

    // The transcript's text as last read, and whether it is still current.
    mutable QString m_shellTextCache;
    mutable bool m_shellTextCacheValid = true;
    QTimer m_transcriptAnnouncement;
};
