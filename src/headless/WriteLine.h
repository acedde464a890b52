#pragma once

#include <QByteArray>

// Writes a whole line to `fd` with one write where the system takes it at once (the rest, if it
// takes part, with further writes), unbuffered, so that lines of several writers never interleave
// and a supervising process reads each line as soon as it is written. A write interrupted by a
// signal is repeated; a failure is dropped, as there is nowhere left to report it.
void writeLine(int fd, const QByteArray &line);
