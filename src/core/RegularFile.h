#pragma once

#include "core/ScopedFd.h"

#include <QByteArray>

#include <optional>

#include <sys/stat.h>

// A file that must be a regular file, opened so that nothing else can stand in for it: the open
// itself never waits (a FIFO, or a link to one, would otherwise hold it until a writer comes), and
// the type is checked on the descriptor that is then used, so what is checked is what is read.
class RegularFile
{
public:
    enum class Status
    {
        Opened,
        OpenFailed, // error() tells why; also a path holding a NUL byte (ENOENT)
        StatFailed, // error() tells why
        NotRegular,
    };

    // `flags` as for open(2); O_CLOEXEC, O_NOCTTY and O_NONBLOCK are added. O_NONBLOCK stays set: it
    // changes nothing for the reads and writes of a regular file.
    static RegularFile open(const QByteArray &path, int flags, mode_t mode = 0);

    Status status() const { return m_status; }
    bool opened() const { return m_status == Status::Opened; }
    int error() const { return m_error; }
    // The status the check saw; valid when opened.
    const struct stat &info() const { return m_info; }
    int fd() const { return m_fd.get(); }
    // Hands the descriptor over to the caller, who closes it.
    int release() { return m_fd.release(); }

    // Reads from the current position to the end of the file or until `limit` bytes; nothing on a
    // read error (error() tells why). A read interrupted by a signal is repeated.
    std::optional<QByteArray> read(qint64 limit);

private:
    RegularFile() = default;

    ScopedFd m_fd;
    Status m_status = Status::OpenFailed;
    int m_error = 0;
    struct stat m_info
    {
    };
};
