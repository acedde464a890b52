#include "headless/HeadlessProfile.h"

#include "cloud/CaptureSession.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "core/ScopedFd.h"
#include "core/async/Job.h"
#include "session/HubModel.h"
#include "session/HubStatus.h"
#include "session/EnsureCurrent.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace
{
constexpr qsizetype kShortestSessionID = 33;
constexpr qsizetype kLongestSessionID = 256;

// The coroutines of the subscription's callbacks take what they use as parameters, kept in their
// own frames: a lambda's captures would go with the callback object, which the subscription may
// replace while a call is suspended. Both hold the model weakly.
QCoro::Task<QString> observedToken(QPointer<HubModel> model, QString session, QString tenant)
{
    if (!model || !model->configuration() || model->configuration()->tenantID != tenant ||
        model->sessionID() != session)
        throw HubError(QStringLiteral("The observed workspace changed."));
    co_await model->refreshIdentityIfNeeded();
    if (!model || !model->identityToken())
        throw HubError(QStringLiteral("Sign in before using workspace controls."));
    co_return *model->identityToken();
}

QCoro::Task<void> observedFrame(QPointer<HubModel> model, Json frame, CancelToken cancel)
{
    if (!model)
        co_return;
    HeadlessProfile::observeFrame(*model, frame);
    co_await model->receiveFrame(std::move(frame), std::move(cancel));
}
} // namespace

HeadlessProfile::HeadlessProfile(HubModel &model, std::shared_ptr<Keyring> keyring)
    : m_model(&model), m_login(std::move(keyring), {}, HubNetwork::shared().session())
{
}

HeadlessProfile::~HeadlessProfile() = default;

QString HeadlessProfile::transportDiagnostic() const
{
    return hubstatus::transportDiagnostic({m_live.observedMessages(), m_live.observedDeliveries(),
                                           m_live.acceptedFrames(), m_live.rejectedIdentities(), m_live.reconnects()});
}

bool HeadlessProfile::isObservableSessionID(const QString &id)
{
    // The whole text, character by character: a pattern with "$" would also take a trailing line
    // feed.
    if (id.size() < kShortestSessionID || id.size() > kLongestSessionID)
        return false;
    for (const QChar c : id) {
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' ||
              c == u'-'))
            return false;
    }
    return true;
}

QCoro::Task<void> HeadlessProfile::prepare(QString project, std::optional<QString> observedSession,
                                           std::optional<int> credentialDescriptor)
{
    HubModel &model = *m_model;
    model.setChangesShuttingDown(false);
    if (model.headlessTurnProgress().turnID || model.headlessTurnProgress().terminalCode)
        model.setHeadlessTurnProgress({});
    model.setHeadlessFrameCount(0);

    if (credentialDescriptor && *credentialDescriptor <= 2)
        throw HubError(QStringLiteral("Capture credentials require a private descriptor."));
    // Owned from here until the hand-off takes it: every refusal before that closes it.
    ScopedFd descriptor(credentialDescriptor.value_or(-1));

    const QFileInfo folder(project);
    if (!folder.exists() || !folder.isDir())
        throw HubError(QStringLiteral("The live profile must name an existing project directory."));
    HubConfiguration configuration(HubConfiguration::configuredEnvironment());
    configuration.root = QDir::cleanPath(folder.canonicalFilePath());
    model.setConfiguration(configuration);
    model.setLayout(HubLayout::load());
    if (!configuration.clientID || configuration.clientID->isEmpty())
        throw HubError(QStringLiteral("The native profile has no configured Cognito public app client."));

    QPointer self(&model);
    if (descriptor.valid()) {
        model.setCaptureCredentialsOnly(true);
        const CaptureSession session = CaptureSession::read(descriptor.release(), configuration);
        model.setToken(session.accessToken);
        model.setIdentityToken(session.idToken);
        co_await model.hydrateIdentity(session.idToken, false, std::nullopt);
    } else {
        const std::optional<CognitoLogin::Tokens> tokens = co_await m_login.restore(configuration);
        ensureCurrent(self);
        if (!tokens || !tokens->identityToken)
            throw HubError(QStringLiteral("No accessible stored native session. Sign in interactively outside "
                                          "headless capture first; authentication UI is prohibited here."));
        model.setToken(tokens->accessToken);
        model.setIdentityToken(tokens->identityToken);
        co_await model.hydrateIdentity(*tokens->identityToken, true, std::nullopt);
    }
    ensureCurrent(self);
    if (!model.configuration() || model.configuration()->tenantID.isEmpty())
        throw HubError(QStringLiteral("The stored session has no accessible authenticated workspace."));
    const HubConfiguration signedIn = *model.configuration();
    model.setSelectedProfile(true);

    if (!observedSession) {
        model.setMessage(QStringLiteral("Authenticated profile · no live session selected"));
        co_return;
    }
    if (!isObservableSessionID(*observedSession))
        throw HubError(QStringLiteral("The observed session identifier is invalid."));
    const QString session = *observedSession;
    model.setSessionID(session);
    model.configureDocuments(signedIn, session);
    if (!model.identityToken())
        throw HubError(QStringLiteral("The restored session has no identity token."));

    TokenSource refreshToken = [model = QPointer(&model), session, tenant = signedIn.tenantID](CancelToken) {
        return observedToken(model, session, tenant);
    };
    RealtimeSubscription::FrameHandler onFrame = [model = QPointer(&model)](Json frame, CancelToken cancel) {
        return observedFrame(model, std::move(frame), std::move(cancel));
    };
    co_await m_live.connect(signedIn, *model.identityToken(), session, std::move(refreshToken), std::move(onFrame));
    ensureCurrent(self);
    co_await model.refreshPendingInputs();
    ensureCurrent(self);
    model.beginLedgerRefresh(false);
    model.setMessage(QStringLiteral("Observing your Tavrilo workspace."));
}

void HeadlessProfile::observeFrame(HubModel &model, const Json &frame)
{
    const QString kind = json::string(frame, "kind").value_or(QString());
    const std::optional<QString> turn = json::string(frame, "turnId");
    const auto payloadValue = frame.find("payload");
    const bool objectPayload = payloadValue != frame.end() && payloadValue->is_object();
    const Json payload = objectPayload ? *payloadValue : Json::object();

    HeadlessTurnProgress progress = model.headlessTurnProgress();
    progress.consume(kind, turn, WorkspaceEvent::stringPayload(payload));
    if (progress.turnID != model.headlessTurnProgress().turnID ||
        progress.terminalCode != model.headlessTurnProgress().terminalCode)
        model.setHeadlessTurnProgress(std::move(progress));
    if (kind != QLatin1StringView("transport_error"))
        model.setHeadlessFrameCount(model.headlessFrameCount() + 1);
    if (const auto working = payload.find("working"); working != payload.end() && working->is_array()) {
        const bool allText =
            std::all_of(working->begin(), working->end(), [](const Json &item) { return item.is_string(); });
        if (allText)
            model.setRunning(!working->empty());
    }
}

QCoro::Task<void> HeadlessProfile::finish()
{
    // A job of its own, given no token of the caller's: cancelling the export cannot cut the
    // clean-up short, and the job's handle is held here until it has ended.
    const Job cleanup = Job::start([this](CancelToken) { return cleanUp(); });
    co_await cleanup.finished();
    if (const std::exception_ptr failure = cleanup.error())
        std::rethrow_exception(failure);
}

QCoro::Task<void> HeadlessProfile::cleanUp()
{
    if (!m_model)
        co_return;
    HubModel &model = *m_model;
    QPointer self(&model);
    // The export opens no project, so no project-open result can be in flight; the changes reader
    // is told to stop and its read, if one runs, is awaited.
    model.setChangesShuttingDown(true);
    co_await model.stopLedgerRefresh();
    ensureCurrent(self);
    if (const Job reading = model.changesReadTask(); reading.isValid()) {
        co_await reading.finished();
        ensureCurrent(self);
    }
    co_await m_live.disconnectAndWait();
    ensureCurrent(self);
    co_await model.documents()->close();
    ensureCurrent(self);
    model.setToken(std::nullopt);
    model.setIdentityToken(std::nullopt);
    model.setRunning(false);
    model.setCaptureCredentialsOnly(false);
}
