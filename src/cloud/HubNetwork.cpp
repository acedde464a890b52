#include "cloud/HubNetwork.h"

#include "cloud/DeadlineError.h"
#include "cloud/EnvironmentProxyFactory.h"
#include "cloud/HubNetworkError.h"
#include "cloud/NetworkCancel.h"
#include "core/HubError.h"
#include "core/async/Resumer.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QSet>
#include <QSslCertificate>
#include <QTimer>
#include <QWebSocket>

#include <coroutine>
#include <memory>

namespace
{
// Certificates of the OpenSSL trust variables: `SSL_CERT_FILE` one PEM bundle, `SSL_CERT_DIR` a
// colon-separated list of folders of PEM files.
QList<QSslCertificate> certificatesOfTrustVariables()
{
    // A certificate folder holds each file under its own name and its hash links; read each once.
    QStringList files;
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty())
        files.append(file);
    const QStringList folders = qEnvironmentVariable("SSL_CERT_DIR").split(u':', Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Readable);
        for (const QFileInfo &entry : entries)
            files.append(entry.filePath());
    }
    QSet<QString> read;
    QList<QSslCertificate> certificates;
    for (const QString &path : std::as_const(files)) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty() || read.contains(canonical))
            continue;
        read.insert(canonical);
        certificates += QSslCertificate::fromPath(canonical, QSsl::Pem);
    }
    return certificates;
}

QSslConfiguration trustConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
    // The trust variables often name the system's own bundle and folder again.
    QSet<QSslCertificate> known(authorities.begin(), authorities.end());
    for (const QSslCertificate &certificate : certificatesOfTrustVariables()) {
        if (!known.contains(certificate)) {
            known.insert(certificate);
            authorities.append(certificate);
        }
    }
    configuration.setCaCertificates(authorities);
    return configuration;
}

std::unique_ptr<QNetworkAccessManager> makeManager(const EnvironmentProxyFactory::Settings &proxies)
{
    auto manager = std::make_unique<QNetworkAccessManager>();
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    manager->setAutoDeleteReplies(false);
    manager->setStrictTransportSecurityEnabled(false);
    manager->setCookieJar(new QNetworkCookieJar(manager.get()));
    manager->setProxyFactory(new EnvironmentProxyFactory(proxies));
    return manager;
}

struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};

// What the reading of one reply has found so far.
struct ReadState
{
    QByteArray body;
    qint64 maxBytes = -1;
    bool overCap = false;
    bool timedOut = false;

    // Takes what has arrived; past the cap, keeps one byte more than allowed and stops the reply.
    void drain(QNetworkReply *reply)
    {
        if (overCap)
            return;
        if (maxBytes < 0) {
            body += reply->readAll();
            return;
        }
        while (reply->bytesAvailable() > 0) {
            body += reply->read(maxBytes + 1 - body.size());
            if (body.size() > maxBytes) {
                overCap = true;
                reply->abort();
                return;
            }
        }
    }
};

// Errors that stand for the status of an HTTP answer (content, protocol and server errors such as
// 404, 400 or 503), as opposed to the network and proxy errors of a broken transfer.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return int(error) >= 201;
}

// Waits for `reply` to finish. The waiter resumes through the event loop, never inside the signal:
// `finished` is emitted inside `abort()` (by the deadline's timer, a cancellation, the body cap),
// and a waiter that resumed there would unwind, and destroy the reply's manager, under that call.
class ReplyFinished
{
public:
    explicit ReplyFinished(QNetworkReply *reply) : m_reply(reply) {}

    bool await_ready() const noexcept { return m_reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        m_connection = std::make_unique<QObject>();
        QObject::connect(m_reply, &QNetworkReply::finished, m_connection.get(),
                         [waker = m_resumer.waker()] { waker.wake(); });
    }
    void await_resume() noexcept { m_connection.reset(); }

private:
    QNetworkReply *m_reply;
    std::unique_ptr<QObject> m_connection;
    Resumer m_resumer;
};

HubNetwork *s_shared = nullptr;
std::chrono::milliseconds s_platformDeadline{45000};
} // namespace

HubNetwork::HubNetwork() : m_ssl(trustConfiguration())
{
    const EnvironmentProxyFactory::Settings proxies = EnvironmentProxyFactory::fromEnvironment();
    m_proxies = std::make_unique<EnvironmentProxyFactory>(proxies);
    m_session = makeManager(proxies);
    m_httpSession = makeManager(proxies);
}

HubNetwork::~HubNetwork() = default;

HubNetwork &HubNetwork::shared()
{
    if (!s_shared) {
        s_shared = new HubNetwork;
        // The managers' network thread must end while the application object still exists; at
        // static destruction its connections cannot close cleanly any more.
        qAddPostRoutine([] {
            delete s_shared;
            s_shared = nullptr;
        });
    }
    return *s_shared;
}

std::chrono::milliseconds HubNetwork::platformDeadline()
{
    return s_platformDeadline;
}

void HubNetwork::setPlatformDeadline(std::chrono::milliseconds deadline)
{
    s_platformDeadline = deadline;
}

QNetworkProxy HubNetwork::proxyFor(const QUrl &url) const
{
    return m_proxies->proxyFor(url);
}

void HubNetwork::configure(QWebSocket &socket, const QUrl &url)
{
    const HubNetwork &network = shared();
    socket.setSslConfiguration(network.m_ssl);
    socket.setProxy(network.proxyFor(url));
}

QCoro::Task<HubNetwork::Reply> HubNetwork::send(QNetworkAccessManager *manager, Request request, CancelToken token)
{
    token.throwIfCancelled();
    QNetworkRequest outgoing = request.request;
    outgoing.setSslConfiguration(shared().m_ssl);
    outgoing.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    outgoing.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    outgoing.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    std::unique_ptr<QNetworkReply, DeleteLater> reply(
        request.method == "GET" ? manager->get(outgoing)
                                : manager->sendCustomRequest(outgoing, request.method, request.body));
    QNetworkReply *raw = reply.get();
    auto state = std::make_shared<ReadState>();
    state->maxBytes = request.maxBytes;
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [state, raw] { state->drain(raw); });

    // Qt's transfer timeout measures only inactivity; this one bounds the whole request.
    QTimer deadline;
    deadline.setSingleShot(true);
    // A coarse timer may fire 5 % early; a deadline must not.
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, raw, [state, raw] {
        state->timedOut = true;
        raw->abort();
    });
    deadline.start(request.deadline);
    const CancelRegistration cancellation = abortOnCancel(raw, token);

    ReplyFinished finished(raw);
    co_await std::move(finished);
    deadline.stop();

    if (token.cancelled())
        throw CancelledError();
    if (state->timedOut)
        throw DeadlineError();

    Reply answer;
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    answer.status = status.isValid() ? status.toInt() : 0;
    answer.headers = raw->rawHeaderPairs();
    if (!state->overCap) {
        const QNetworkReply::NetworkError error = raw->error();
        if (error != QNetworkReply::NoError && !(status.isValid() && isHttpStatusError(error)))
            throw HubNetworkError::fromReplyError(error);
        state->drain(raw);
    }
    answer.overCap = state->overCap;
    answer.body = std::move(state->body);
    co_return answer;
}
