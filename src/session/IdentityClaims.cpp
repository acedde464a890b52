#include "session/IdentityClaims.h"

#include "core/HubError.h"

#include <QStringList>

namespace identityclaims
{
Json read(const QString &token, const char *unreadable)
{
    const QStringList pieces = token.split(u'.', Qt::SkipEmptyParts);
    if (pieces.size() != 3)
        throw HubError(QStringLiteral("Malformed identity token."));
    QByteArray payload = pieces[1].toUtf8().replace('-', '+').replace('_', '/');
    while (payload.size() % 4 != 0)
        payload.append('=');
    const auto decoded =
        QByteArray::fromBase64Encoding(payload, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw HubError(QString::fromUtf8(unreadable));
    Json claims = json::parse(*decoded);
    if (!claims.is_object())
        throw HubError(QString::fromUtf8(unreadable));
    return claims;
}

std::optional<QString> tenant(const Json &claims)
{
    return json::string(claims, "custom:tenant_id");
}

std::optional<double> expiry(const Json &claims)
{
    const auto it = claims.find("exp");
    if (it == claims.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}
} // namespace identityclaims
