#include "standin/PlatformHosts.h"

#include "core/Deployment.h"

#include <QRegularExpression>

namespace platformhosts
{
namespace
{
QLatin1StringView view(std::string_view text)
{
    return QLatin1StringView(text.data(), qsizetype(text.size()));
}

template <size_t N> bool isOneOf(const QString &host, const std::array<std::string_view, N> &set)
{
    return std::any_of(set.begin(), set.end(), [&](std::string_view h) { return host == view(h); });
}

bool isUnderPlatformDomain(const QString &host)
{
    return std::any_of(deployment::kPlatformDomains.begin(), deployment::kPlatformDomains.end(),
                       [&](std::string_view domain) { return host.endsWith(u'.' + view(domain)); });
}

bool matchesAmazonService(const QString &host, QLatin1StringView pattern)
{
    // Amazon's regional service hosts: the labels are lower-case letters, digits and "-".
    static const QString label = QStringLiteral("[a-z0-9-]+");
    const QRegularExpression re(QRegularExpression::anchoredPattern(QString(pattern).arg(label)));
    return re.match(host).hasMatch();
}
} // namespace

bool isSignInHost(const QString &host)
{
    return isOneOf(host.toLower(), deployment::kSignInHosts);
}

bool isGraphQLHost(const QString &host)
{
    const QString h = host.toLower();
    if (isOneOf(h, deployment::kDeniedGraphQLHosts))
        return false;
    return h == view(deployment::kApiHost) || isUnderPlatformDomain(h) ||
           matchesAmazonService(h, QLatin1StringView("%1\\.appsync-api\\.%1\\.amazonaws\\.com"));
}

bool isRealtimeHost(const QString &host)
{
    return isGraphQLHost(host) ||
           matchesAmazonService(host.toLower(), QLatin1StringView("%1\\.appsync-realtime-api\\.%1\\.amazonaws\\.com"));
}

bool isCommandChannelHost(const QString &host)
{
    return matchesAmazonService(host.toLower(),
                                QLatin1StringView("(?:%1\\.)?bedrock-agentcore\\.%1\\.amazonaws\\.com"));
}

bool isDnsName(const QString &host)
{
    // Only plain DNS names: a host becomes part of a certificate's subjectAltName text.
    static const QRegularExpression dnsName(QRegularExpression::anchoredPattern(QStringLiteral(
        "[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?(?:\\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*")));
    return host.size() <= 253 && dnsName.match(host).hasMatch();
}

bool acceptsConnect(const QString &host, quint16 port, const QStringList &extraHosts)
{
    if (port != kPort || !isDnsName(host))
        return false;
    const QString h = host.toLower();
    return isSignInHost(h) || isRealtimeHost(h) || isCommandChannelHost(h) || isUnderPlatformDomain(h) ||
           extraHosts.contains(h);
}
} // namespace platformhosts
