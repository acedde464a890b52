#include "headless/WriteLine.h"

#include <cerrno>

#include <unistd.h>

void writeLine(int fd, const QByteArray &line)
{
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, size_t(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += n;
    }
}
