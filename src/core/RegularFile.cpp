#include "core/RegularFile.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

RegularFile RegularFile::open(const QByteArray &path, int flags, mode_t mode)
{
    RegularFile file;
    // The system would read the path only up to the NUL, which names another file.
    if (path.contains('\0')) {
        file.m_error = ENOENT;
        return file;
    }
    file.m_fd.reset(::open(path.constData(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode));
    if (!file.m_fd.valid()) {
        file.m_error = errno;
        return file;
    }
    if (::fstat(file.m_fd.get(), &file.m_info) != 0) {
        file.m_error = errno;
        file.m_status = Status::StatFailed;
        file.m_fd.reset();
        return file;
    }
    if (!S_ISREG(file.m_info.st_mode)) {
        file.m_status = Status::NotRegular;
        file.m_fd.reset();
        return file;
    }
    file.m_status = Status::Opened;
    return file;
}

std::optional<QByteArray> RegularFile::read(qint64 limit)
{
    // The size seen at the check is only a hint: the file may have grown or shrunk since.
    QByteArray bytes(qsizetype(std::clamp<qint64>(qint64(m_info.st_size) + 1, 1, std::max<qint64>(limit, 1))),
                     Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < limit) {
        if (filled == bytes.size())
            bytes.resize(qsizetype(std::min<qint64>(filled * 2, limit)));
        const ssize_t got = ::read(m_fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(qsizetype(filled));
    return bytes;
}
