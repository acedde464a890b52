// A journal writer of another process that holds the journal's lock: takes the exclusive lock of
// "<folder>/events.lock", says "locked" on standard output, and keeps the lock until its standard
// input ends (or it is killed).
//
//   journal_lock_holder <folder>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/events.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
