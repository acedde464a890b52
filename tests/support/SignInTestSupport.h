#pragma once

#include "core/HubError.h"
#include "core/Json.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace testsupport
{
// The sentence of the HubError that `operation` throws, or "(no failure)".
inline QString failureOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const HubError &error) {
        return error.description();
    }
    return QStringLiteral("(no failure)");
}

// The claims of a compact JWT, read without checking its signature; null when it is no JWT.
inline Json jwtClaims(const QString &token)
{
    const QStringList parts = token.split(u'.');
    if (parts.size() != 3)
        return {};
    return json::tryParse(QByteArray::fromBase64(parts[1].toLatin1(), QByteArray::Base64UrlEncoding)).value_or(Json());
}

// Loopback servers of a test are reached directly, whatever proxy the machine running it sets.
inline void clearProxyVariables()
{
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}
} // namespace testsupport
