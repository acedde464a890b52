#include "cloud/DeadlineError.h"

DeadlineError::DeadlineError() : HubNetworkError(Kind::timedOut) {}

DeadlineError::DeadlineError(QString sentence) : HubNetworkError(Kind::timedOut, std::move(sentence)) {}
