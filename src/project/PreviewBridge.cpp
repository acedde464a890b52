#include "project/PreviewBridge.h"

#include "cloud/HubNetwork.h"
#include "platform/ChildProcess.h"
#include "project/ProjectRoot.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkProxy>

#include <array>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace previewbridge
{
namespace
{
constexpr qint64 kControlFileCap = 65536;
constexpr qsizetype kAnswerCap = 64000;

const QString kNoServer =
    QStringLiteral("No active Tavrilo desktop preview control server is running on this computer.");

bool isReadOnlyAction(const QString &action)
{
    static const std::array<const char *, 13> actions = {
        "audit",   "inspect", "snapshot", "layout",    "viewport",      "styles",    "performance",
        "console", "network", "request",  "mutations", "vision_stream", "screenshot"};
    return std::any_of(actions.begin(), actions.end(), [&](const char *a) { return action == QLatin1String(a); });
}

bool mayActFreely(const QString &agent)
{
    return agent == u"tavrilo_builder" || agent == u"tavrilo_reviewer" || agent == u"tavrilo_operator";
}

// The control file's bytes, when it is the user's own regular file of modest size.
std::optional<QByteArray> readControlFile()
{
    const QByteArray path = controlFilePath().toUtf8();
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    QByteArray bytes;
    bool fine =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_size <= kControlFileCap;
    while (fine) {
        char piece[8192];
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fine = n == 0;
            break;
        }
        bytes.append(piece, qsizetype(n));
        fine = bytes.size() <= kControlFileCap;
    }
    ::close(fd);
    if (!fine)
        return std::nullopt;
    return bytes;
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host().toLower();
    return host == u"127.0.0.1" || host == u"::1" || host == u"localhost";
}

Json actionFor(const QString &wirePath, const Json &input, const QString &devToolsAction)
{
    Json action = Json::object();
    auto copyText = [&](const char *from, const char *to) {
        const auto found = input.find(from);
        if (found != input.end() && found->is_string())
            action[to] = *found;
    };
    auto copyInteger = [&](const char *from, const char *to) {
        if (const std::optional<qint64> value = json::integer(input, from))
            action[to] = *value;
    };
    if (wirePath == u"__tavrilo_preview_vision__") {
        action["type"] = "vision_stream";
        copyText("target", "target");
    } else if (wirePath == u"__tavrilo_preview_motion__") {
        action["type"] = "record_motion";
        copyText("target", "target");
        copyInteger("duration_ms", "duration");
        copyInteger("fps", "fps");
    } else {
        for (auto it = input.begin(); it != input.end(); ++it)
            if (it.key() != "path" && it.key() != "action")
                action[it.key()] = it.value();
        action["type"] = devToolsAction.toStdString();
    }
    return action;
}
} // namespace

QString controlFilePath()
{
    const QString base = qEnvironmentVariableIsSet("XDG_DATA_HOME")
                             ? qEnvironmentVariable("XDG_DATA_HOME")
                             : QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/tavrilo-code/preview/control.json");
}

Prepared prepare(const QString &projectRoot, const QString &wirePath, const Json &input, const QString &agent)
{
    const Prepared noServer{QStringLiteral("error"), kNoServer, std::nullopt};
    const std::optional<QByteArray> bytes = readControlFile();
    if (!bytes)
        return noServer;
    const std::optional<Json> control = json::tryParse(*bytes);
    if (!control || !control->is_object())
        return noServer;
    const std::optional<QString> url = json::string(*control, "url");
    const std::optional<QString> token = json::string(*control, "token");
    if (!url || !token)
        return noServer;
    const QUrl endpoint(*url + QStringLiteral("/act"), QUrl::StrictMode);
    const bool plainToken =
        std::none_of(token->begin(), token->end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    if (!endpoint.isValid() || !(endpoint.scheme() == u"http" || endpoint.scheme() == u"https") ||
        !isLoopback(endpoint) || !plainToken)
        return noServer;

    QString action;
    if (wirePath == u"__tavrilo_preview_devtools__") {
        action = json::string(input, "action").value_or(json::string(input, "type").value_or(QStringLiteral("audit")));
        if (!isReadOnlyAction(action) && !mayActFreely(agent))
            return {QStringLiteral("error"),
                    QStringLiteral("Refused by Action Permissions Policy: ") + agent +
                        QStringLiteral(" has read-only Chrome DevTools inspection access and cannot execute '") +
                        action + QStringLiteral("'."),
                    std::nullopt};
    }
    const Json body = {{"project", projectRoot.toStdString()},
                       {"action", actionFor(wirePath, input, action)},
                       {"agent", agent.toStdString()}};
    return {QString(), QString(), Request{endpoint, token->toUtf8(), json::dump(body)}};
}

QCoro::Task<std::pair<QString, QString>> send(Request request, CancelToken token)
{
    // A manager of its own: the server is on this computer and its token must not pass a proxy.
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    manager.setAutoDeleteReplies(false);
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    HubNetwork::Request outgoing;
    outgoing.request = QNetworkRequest(request.endpoint);
    outgoing.request.setRawHeader("Authorization", "Bearer " + request.token);
    outgoing.request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    outgoing.method = "POST";
    outgoing.body = request.body;
    outgoing.deadline = request.deadline;
    outgoing.maxBytes = kAnswerCap;
    const HubNetwork::Reply reply = co_await HubNetwork::send(&manager, std::move(outgoing), std::move(token));

    QByteArray body = reply.body.left(kAnswerCap);
    // A cut inside a character drops that character rather than the whole answer.
    utf8text::dropIncompleteEnd(body);
    const QString text = ProjectRoot::isUtf8(body) ? utf8text::decode(body) : QStringLiteral("{}");
    co_return std::pair{reply.status > 0 && reply.status < 400 ? QStringLiteral("success") : QStringLiteral("error"),
                        text};
}
} // namespace previewbridge
