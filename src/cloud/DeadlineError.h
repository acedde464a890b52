#pragma once

#include "cloud/HubNetworkError.h"

// A deadline that passed: a request or a handshake that took too long, or a connection that went
// silent. It is a network failure of kind `timedOut`, never a CancelledError: nobody stopped the
// work, the platform did not answer in time, and a caller can tell the two apart.
class DeadlineError : public HubNetworkError
{
public:
    // "The request timed out."
    DeadlineError();
    explicit DeadlineError(QString sentence);
};
