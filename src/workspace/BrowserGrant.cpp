#include "workspace/BrowserGrant.h"

#include "core/Deployment.h"
#include "core/GraphemeText.h"

#include <algorithm>
#include <cmath>

namespace browsergrant
{
namespace
{
QLatin1StringView view(std::string_view text)
{
    return QLatin1StringView(text.data(), qsizetype(text.size()));
}

bool isLiveViewPage(const QUrl &url)
{
    return url.isValid() && url.scheme() == QLatin1String("https") && url.host() == view(deployment::kLiveViewHost) &&
           url.path() == view(deployment::kLiveViewPath);
}
} // namespace

std::optional<QUrl> liveViewURL(const Json &grant)
{
    const std::optional<QString> text = json::string(grant, "url");
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!isLiveViewPage(url) || !url.hasFragment())
        return std::nullopt;
    return url;
}

std::optional<QString> sessionIdentity(const Json &grant)
{
    const std::optional<QString> identity = json::string(grant, "browserSessionId");
    if (!identity || identity->isEmpty() || graphemes::count(*identity) > kMaximumSessionIdentity)
        return std::nullopt;
    return identity;
}

std::chrono::milliseconds renewalDelay(const Json &grant, const QDateTime &now)
{
    const auto expiresAt = grant.find("expiresAt");
    if (expiresAt == grant.end() || !expiresAt->is_number())
        return kRenewalLead;
    // In seconds, as a double: an expiry past any integer range still compares, and is clamped
    // before it becomes a duration.
    const double left = expiresAt->get<double>() / 1000.0 - double(now.toMSecsSinceEpoch()) / 1000.0 -
                        double(kRenewalLead.count());
    const double longest = double(std::chrono::duration_cast<std::chrono::seconds>(kLongestRenewalDelay).count());
    const double seconds = std::clamp(std::isfinite(left) ? left : longest, 1.0, longest);
    return std::chrono::milliseconds(qint64(std::llround(seconds * 1000.0)));
}

bool allowsLiveViewNavigation(const QUrl &url)
{
    if (url.toString(QUrl::FullyEncoded) == QLatin1String("about:blank"))
        return true;
    return !url.isEmpty() && isLiveViewPage(url);
}

bool allowsInputRequestNavigation(const QUrl &url, bool mainFrame)
{
    return mainFrame && url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}
} // namespace browsergrant
