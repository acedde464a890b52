#pragma once

#include "core/HubError.h"

#include <QNetworkReply>

// A request that produced no HTTP answer: the connection failed or broke off, or the request's
// own deadline passed. Its sentence is the user-facing description of the failure; `kind` lets a
// caller tell a passed deadline from the rest.
class HubNetworkError : public HubError
{
public:
    enum class Kind {
        timedOut,
        cannotFindHost,
        cannotConnect,
        secureConnectionFailed,
        connectionLost,
    };

    explicit HubNetworkError(Kind kind);

    // The failure a reply's error code stands for.
    static HubNetworkError fromReplyError(QNetworkReply::NetworkError error);

    Kind kind() const noexcept { return m_kind; }

protected:
    HubNetworkError(Kind kind, QString sentence);

private:
    Kind m_kind;
};
