#pragma once

#include "standin/HttpRequest.h"
#include "standin/ServiceContext.h"

#include <QString>

// One HTTPS request behind TLS, with the host the client asked the proxy for.
struct HttpsExchange
{
    QString host;
    const HttpRequest &request;
    ServiceContext &context;
};
