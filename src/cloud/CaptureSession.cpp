#include "cloud/CaptureSession.h"

#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/ScopedFd.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>

#include <cerrno>
#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
HubError sentence(const char *text) { return HubError(QString::fromUtf8(text)); }

constexpr const char *kNotPrivate = "Capture credentials must arrive over an owned private pipe, never a file or terminal.";
constexpr const char *kHandoffFailed = "The private capture credential handoff failed.";
constexpr const char *kRefused = "Capture credentials are expired, near expiry, or issued to another configured "
                                 "client/issuer. Renew through the account producer first.";

// Strict Base64 of the standard alphabet with "=" padding to a multiple of four; nothing else.
std::optional<QByteArray> strictBase64(const QByteArray &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                              c == '/';
        if (c == '=') {
            ++padding;
        } else if (!alphabet || padding > 0) {
            return std::nullopt;
        }
    }
    if (padding > 2)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<QString> stringClaim(const Json &claims, const char *key)
{
    const auto found = claims.find(key);
    if (found == claims.end() || !found->is_string())
        return std::nullopt;
    return json::toQString(found->get<std::string>());
}

bool expiresLater(const Json &claims, double limit)
{
    const auto found = claims.find("exp");
    return found != claims.end() && found->is_number() && found->get<double>() > limit;
}
} // namespace

void CaptureSession::keepFromChildren(int descriptor)
{
    if (descriptor < kLowestDescriptor)
        return;
    const int flags = ::fcntl(descriptor, F_GETFD);
    if (flags >= 0)
        ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
}

CaptureSession CaptureSession::read(int descriptor, const HubConfiguration &configuration)
{
    return read(descriptor, configuration, kDeadline);
}

CaptureSession CaptureSession::read(int descriptor, const HubConfiguration &configuration,
                                    std::chrono::milliseconds deadline)
{
    if (descriptor < kLowestDescriptor)
        throw sentence("Capture credentials require a private descriptor numbered 3 or higher.");
    // From here on the descriptor is ours and goes on every way out.
    const ScopedFd owned(descriptor);
    keepFromChildren(descriptor);
    struct stat status{};
    if (::fstat(descriptor, &status) != 0 || status.st_uid != ::geteuid() ||
        !(S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)))
        throw sentence(kNotPrivate);

    QElapsedTimer clock;
    clock.start();
    QByteArray data;
    char buffer[kReadSize] = {};
    for (;;) {
        const qint64 left = deadline.count() - clock.elapsed();
        if (left <= 0)
            throw sentence("The private capture credential handoff timed out.");
        pollfd watched{descriptor, POLLIN | POLLHUP, 0};
        const int ready = ::poll(&watched, 1, int(left));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw sentence(kHandoffFailed);
        }
        if (ready == 0 || (watched.revents & (POLLERR | POLLNVAL)) != 0)
            throw sentence(kHandoffFailed);
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw sentence("The private capture credential pipe could not be read.");
        }
        if (count == 0)
            break;
        data.append(buffer, qsizetype(count));
        if (data.size() > kLimit)
            throw sentence("Capture credentials exceed the 64 KiB handoff limit.");
    }

    const std::optional<Json> object = json::tryParse(data);
    const auto text = [&](const char *key) { return object ? stringClaim(*object, key) : std::nullopt; };
    const std::optional<QString> idToken = text("idToken");
    const std::optional<QString> accessToken = text("accessToken");
    const auto expiresAt = object && object->is_object() ? object->find("expiresAt") : Json::const_iterator();
    if (!object || !object->is_object() || !idToken || !accessToken || expiresAt == object->end() ||
        !expiresAt->is_number())
        throw sentence("The private capture session was empty or malformed.");
    CaptureSession session{*idToken, *accessToken, expiresAt->get<double>()};
    session.validate(configuration);
    return session;
}

void CaptureSession::validate(const HubConfiguration &configuration) const
{
    validate(configuration, double(QDateTime::currentMSecsSinceEpoch()) / 1000);
}

void CaptureSession::validate(const HubConfiguration &configuration, double nowSeconds) const
{
    if (!configuration.clientID || !configuration.tokenIssuer)
        throw sentence("Capture requires the configured Cognito client and issuer.");
    const Json id = claims(idToken);
    const Json access = claims(accessToken);
    const double limit = nowSeconds + kExpiryMarginSeconds;
    const QString &client = *configuration.clientID;
    const QString &issuer = *configuration.tokenIssuer;
    const std::optional<QString> subject = stringClaim(id, "sub");
    const bool holds = std::isfinite(expiresAt) && expiresAt / 1000 > limit && expiresLater(id, limit) &&
                       expiresLater(access, limit) && stringClaim(id, "iss") == issuer &&
                       stringClaim(access, "iss") == issuer && stringClaim(id, "aud") == client &&
                       stringClaim(access, "client_id") == client && stringClaim(id, "token_use") == u"id" &&
                       stringClaim(access, "token_use") == u"access" && subject && !subject->isEmpty() &&
                       stringClaim(access, "sub") == subject;
    if (!holds)
        throw sentence(kRefused);
}

Json CaptureSession::claims(const QString &token)
{
    const QStringList pieces = token.split(u'.');
    if (pieces.size() != 3 || pieces[0].isEmpty() || pieces[1].isEmpty() || pieces[2].isEmpty())
        throw sentence("Capture received a malformed session token.");
    QByteArray payload = pieces[1].toUtf8();
    payload.replace('-', '+').replace('_', '/');
    while (payload.size() % 4 != 0)
        payload.append('=');
    const std::optional<QByteArray> bytes = strictBase64(payload);
    const std::optional<Json> object = bytes ? json::tryParse(*bytes) : std::nullopt;
    if (!object || !object->is_object())
        throw sentence("Capture session claims are unreadable.");
    return *object;
}
