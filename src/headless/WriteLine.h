#pragma once

#include "core/WriteAll.h"

#include <QByteArray>

// Writes a whole line to `fd` unbuffered, so that lines of several writers never interleave and a
// supervising process reads each line as soon as it is written. A failure is dropped, as there is
// nowhere left to report it.
inline void writeLine(int fd, const QByteArray &line)
{
    writeAll(fd, line);
}
