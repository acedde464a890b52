#include "cloud/HubNetworkError.h"

namespace
{
QString sentence(HubNetworkError::Kind kind)
{
    switch (kind) {
    case HubNetworkError::Kind::timedOut:
        return QStringLiteral("The request timed out.");
    case HubNetworkError::Kind::cannotFindHost:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case HubNetworkError::Kind::cannotConnect:
        return QStringLiteral("Could not connect to the server.");
    case HubNetworkError::Kind::secureConnectionFailed:
        return QStringLiteral("An SSL error has occurred and a secure connection to the server cannot be made.");
    case HubNetworkError::Kind::connectionLost:
        break;
    }
    return QStringLiteral("The network connection was lost.");
}
} // namespace

HubNetworkError::HubNetworkError(Kind kind) : HubError(sentence(kind)), m_kind(kind) {}

HubNetworkError::HubNetworkError(Kind kind, QString sentence) : HubError(std::move(sentence)), m_kind(kind) {}

HubNetworkError HubNetworkError::fromReplyError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return HubNetworkError(Kind::timedOut);
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        return HubNetworkError(Kind::cannotFindHost);
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return HubNetworkError(Kind::cannotConnect);
    case QNetworkReply::SslHandshakeFailedError:
        return HubNetworkError(Kind::secureConnectionFailed);
    // A proxy that refuses the tunnel leaves no way to the server; Qt reports its refusal of a
    // CONNECT as an unknown network error.
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::UnknownProxyError:
    case QNetworkReply::ProxyConnectionClosedError:
        return HubNetworkError(Kind::cannotConnect);
    default:
        return HubNetworkError(Kind::connectionLost);
    }
}
