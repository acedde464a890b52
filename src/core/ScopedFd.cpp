#include "core/ScopedFd.h"

#include <unistd.h>

ScopedFd &ScopedFd::operator=(ScopedFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void ScopedFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}
