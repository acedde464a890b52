#pragma once

#include "core/async/CancelToken.h"

#include <QCoroTask>
#include <QString>

#include <functional>

// Returns a fresh identity token on the main thread, or throws HubError with the sentence to show.
// The token lets a session close cancel a renewal that is still waiting on the network.
using TokenSource = std::function<QCoro::Task<QString>(CancelToken)>;
