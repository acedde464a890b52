#pragma once

#include "cloud/HubNetwork.h"
#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "core/async/CancelToken.h"

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <functional>

// The workspace-tool mutation caller, one for the shell and browser calls and the input-request
// reply: posts `document` with `variables` and the identity token to the configuration's GraphQL
// endpoint, bounded by kDeadline and by `maximumBytes` of answer (stopped while it streams), and
// returns the answer object of `field` once the platform's answer decoder accepted it. A status
// outside 2xx is a refusal. The caller re-checks its own state when this returns: the wait may have
// outlived what it was for.
namespace workspacemutation
{
using Transport = std::function<QCoro::Task<HubNetwork::Reply>(HubNetwork::Request, CancelToken)>;

inline constexpr std::chrono::seconds kDeadline{45};

QCoro::Task<Json> call(Transport transport, HubConfiguration configuration, QString token, QString document,
                       Json variables, QString field, qint64 maximumBytes);
} // namespace workspacemutation
