#pragma once

#include <QByteArray>

// Writes all of `bytes` to `fd`: one write where the system takes it at once, further writes for
// the rest, a write interrupted by a signal repeated. False on failure, with errno telling why.
bool writeAll(int fd, const QByteArray &bytes);
