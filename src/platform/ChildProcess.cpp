#include "platform/ChildProcess.h"

#include "core/Utf8.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{
using Clock = std::chrono::steady_clock;

// After the group's SIGKILL, how long the output may stay open. Only a process that left the group
// (setsid) can still hold it then; the run does not wait for that one.
constexpr std::chrono::milliseconds kDrainAfterKill{1000};
// Without a pidfd the child's exit is looked for this often.
constexpr std::chrono::milliseconds kExitPoll{25};

class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { close(); }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

void makePipe(Descriptor &readEnd, Descriptor &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw ChildProcessError(ChildProcessError::Stage::pipe, errno);
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
}

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// NUL-terminated copies of a list of byte strings, with the null entry at the end.
class CStrings
{
public:
    explicit CStrings(const QByteArrayList &items) : m_items(items)
    {
        m_pointers.reserve(size_t(m_items.size()) + 1);
        for (QByteArray &item : m_items)
            m_pointers.push_back(item.data());
        m_pointers.push_back(nullptr);
    }
    char *const *data() { return m_pointers.data(); }

private:
    QByteArrayList m_items;
    std::vector<char *> m_pointers;
};

struct FileActions
{
    posix_spawn_file_actions_t value;
    FileActions()
    {
        if (const int rc = posix_spawn_file_actions_init(&value))
            throw ChildProcessError(ChildProcessError::Stage::fileActions, rc);
    }
    ~FileActions() { posix_spawn_file_actions_destroy(&value); }
};

struct SpawnAttributes
{
    posix_spawnattr_t value;
    SpawnAttributes()
    {
        if (const int rc = posix_spawnattr_init(&value))
            throw ChildProcessError(ChildProcessError::Stage::attributes, rc);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&value); }
};

void isolate(int rc)
{
    if (rc != 0)
        throw ChildProcessError(ChildProcessError::Stage::isolation, rc);
}

int openPidDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}
} // namespace

namespace utf8text
{
bool dropIncompleteEnd(QByteArray &text)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(4, text.size()); ++back) {
        const auto byte = uchar(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        if (utf8::sequenceLength(byte) <= back)
            return false;
        text.chop(back);
        return true;
    }
    return false;
}

QString decode(const QByteArray &bytes)
{
    return utf8::decode(bytes);
}
} // namespace utf8text

namespace
{

// One supervised child: the pid until it is reaped, and the clean-up that kills its group first.
class Supervised
{
public:
    Supervised(pid_t pid, const ChildProcess::Options &options) : m_pid(pid), m_options(options) {}
    ~Supervised()
    {
        // The child is not reaped yet, so -pid still names its group and nothing else.
        ::kill(-m_pid, SIGKILL);
        if (m_options.reaping)
            m_options.reaping(m_pid);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    Supervised(const Supervised &) = delete;
    Supervised &operator=(const Supervised &) = delete;

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid;
    const ChildProcess::Options &m_options;
};
} // namespace

ChildInterrupt::ChildInterrupt() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ChildInterrupt::~ChildInterrupt()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ChildInterrupt::trigger()
{
    if (m_triggered.exchange(true))
        return;
    if (m_fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }
}

ChildProcessError::ChildProcessError(Stage stage, int error)
    : std::runtime_error(std::strerror(error)), m_stage(stage), m_error(error)
{}

QString ChildProcessError::systemDescription() const
{
    QString text = QString::fromLocal8Bit(std::strerror(m_error));
    if (!text.endsWith(u'.'))
        text += u'.';
    return text;
}

void ChildProcess::ignoreBrokenPipes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGPIPE, &action, nullptr);
    });
}

bool ChildProcess::keeps(const QByteArray &name, Scrub rule)
{
    switch (rule) {
    case Scrub::inherited:
        return true;
    case Scrub::verification: {
        const QString upper = QString::fromUtf8(name).toUpper();
        if (upper.startsWith(QLatin1String("AWS_")) || upper.startsWith(QLatin1String("TAVRILO_")))
            return false;
        static const char *const marks[] = {"TOKEN",       "SECRET",  "PASSWORD",     "CREDENTIAL",
                                            "PRIVATE_KEY", "API_KEY", "AUTHORIZATION"};
        return std::none_of(std::begin(marks), std::end(marks),
                            [&](const char *mark) { return upper.contains(QLatin1String(mark)); });
    }
    case Scrub::companion:
    case Scrub::repository: {
        static const QRegularExpression companion(
            QStringLiteral("^(AWS_|.*TOKEN|.*SECRET|.*PASSWORD|.*CREDENTIAL|.*PRIVATE.?KEY|.*API.?KEY)"));
        static const QRegularExpression repository(
            QStringLiteral("^(AWS_|.*TOKEN|.*SECRET|.*PASSWORD|.*CREDENTIAL|.*PRIVATE.?KEY|.*API.?KEY|GIT_CONFIG_)"));
        const QRegularExpression &pattern = rule == Scrub::companion ? companion : repository;
        return !pattern.match(QString::fromUtf8(name)).hasMatch();
    }
    }
    return true;
}

QByteArrayList ChildProcess::environment(Scrub rule)
{
    QByteArrayList kept;
    for (char **entry = environ; entry && *entry; ++entry) {
        const QByteArray variable(*entry);
        const qsizetype equals = variable.indexOf('=');
        const QByteArray name = equals < 0 ? variable : variable.left(equals);
        if (keeps(name, rule))
            kept.append(variable);
    }
    return kept;
}

QString ChildProcess::wholeCharacters(const QByteArray &bytes, qsizetype limit, Keep keep)
{
    QByteArray text = utf8text::decode(bytes).toUtf8();
    if (text.size() > limit)
        text = keep == Keep::tail ? text.right(limit) : text.left(limit);
    qsizetype lead = 0;
    while (lead < text.size() && (uchar(text[lead]) & 0xC0) == 0x80)
        ++lead;
    text.remove(0, lead);
    utf8text::dropIncompleteEnd(text);
    return utf8text::decode(text);
}

ChildProcess::Result ChildProcess::run(const Options &options)
{
    ignoreBrokenPipes();

    Descriptor outputRead, outputWrite, inputRead, inputWrite;
    makePipe(outputRead, outputWrite);
    if (options.input)
        makePipe(inputRead, inputWrite);

    FileActions actions;
    SpawnAttributes attributes;
    posix_spawn_file_actions_t *fa = &actions.value;
    if (options.input)
        isolate(posix_spawn_file_actions_adddup2(fa, inputRead.get(), 0));
    else
        isolate(posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0));
    isolate(posix_spawn_file_actions_adddup2(fa, outputWrite.get(), 1));
    if (options.errors == ErrorOutput::merged)
        isolate(posix_spawn_file_actions_adddup2(fa, outputWrite.get(), 2));
    else
        isolate(posix_spawn_file_actions_addopen(fa, 2, "/dev/null", O_WRONLY, 0));
    isolate(posix_spawn_file_actions_addclosefrom_np(fa, 3));
    const QByteArray directory = options.workingDirectory ? options.workingDirectory->toUtf8() : QByteArray();
    if (options.workingDirectory)
        isolate(posix_spawn_file_actions_addchdir_np(fa, directory.constData()));

    // Dispositions the hub set to "ignore" (SIGPIPE) would otherwise be inherited through exec.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    isolate(posix_spawnattr_setpgroup(&attributes.value, 0));
    isolate(posix_spawnattr_setsigmask(&attributes.value, &none));
    isolate(posix_spawnattr_setsigdefault(&attributes.value, &all));
    isolate(posix_spawnattr_setflags(&attributes.value,
                                     short(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)));

    const QByteArray program = options.program.toUtf8();
    QByteArrayList argumentBytes{program};
    for (const QString &argument : options.arguments)
        argumentBytes.append(argument.toUtf8());
    argumentBytes.append(options.byteArguments);
    CStrings argv(argumentBytes);
    CStrings envp(options.environment);

    pid_t pid = 0;
    int spawned = 0;
    auto spawn = [&] {
        spawned = ::posix_spawn(&pid, program.constData(), fa, &attributes.value, argv.data(), envp.data());
    };
    if (options.confine) {
        // The child belongs to the process, not to the thread that made it: this thread waits for
        // it as for any other.
        std::exception_ptr refused;
        std::thread maker([&] {
            try {
                options.confine();
            } catch (...) {
                refused = std::current_exception();
                return;
            }
            spawn();
        });
        maker.join();
        if (refused)
            std::rethrow_exception(refused);
    } else {
        spawn();
    }
    if (spawned != 0)
        throw ChildProcessError(ChildProcessError::Stage::spawn, spawned);

    Result result;
    int ioError = 0;
    ChildProcessError::Stage ioStage = ChildProcessError::Stage::read;
    siginfo_t info = {};
    bool exited = false;
    {
        Supervised child(pid, options);
        if (options.started)
            options.started(pid);
        outputWrite.close();
        inputRead.close();
        Descriptor exitWatch(openPidDescriptor(pid));

        const auto start = Clock::now();
        const auto deadlineAt = start + options.deadline;
        std::optional<Clock::time_point> stoppedAt, killedAt;
        auto killGroup = [&] {
            ::kill(-pid, SIGKILL);
            killedAt = Clock::now();
        };
        auto stopGroup = [&] {
            if (stoppedAt)
                return;
            stoppedAt = Clock::now();
            if (options.stopSignal == SIGKILL)
                killGroup();
            else
                ::kill(-pid, options.stopSignal);
        };
        auto fail = [&](ChildProcessError::Stage stage, int error) {
            if (ioError == 0) {
                ioError = error;
                ioStage = stage;
            }
            stopGroup();
            outputRead.close();
            inputWrite.close();
        };
        auto inspect = [&](int flags) {
            info = {};
            int rc;
            while ((rc = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT | flags)) < 0 && errno == EINTR) {
            }
            if (rc < 0) {
                fail(ChildProcessError::Stage::inspect, errno);
                exited = true;
                return;
            }
            exited = info.si_pid == pid;
        };

        setNonBlocking(outputRead.get());
        qsizetype written = 0;
        const qsizetype inputSize = options.input ? options.input->size() : 0;
        if (options.input) {
            setNonBlocking(inputWrite.get());
            if (inputSize == 0)
                inputWrite.close();
        }
        const qint64 piece = std::max<qint64>(1, options.readPiece);
        QByteArray chunk(piece, Qt::Uninitialized);

        while (outputRead.isOpen() || !exited) {
            const auto now = Clock::now();
            if (!result.interrupted && std::any_of(options.interrupts.begin(), options.interrupts.end(),
                                                   [](const auto &interrupt) { return interrupt->triggered(); })) {
                result.interrupted = true;
                stopGroup();
            }
            if (!stoppedAt && now >= deadlineAt) {
                result.timedOut = true;
                stopGroup();
            }
            if (stoppedAt && !killedAt && now >= *stoppedAt + options.killGrace)
                killGroup();
            if (killedAt && now >= *killedAt + kDrainAfterKill && outputRead.isOpen()) {
                outputRead.close();
                inputWrite.close();
            }
            if (!outputRead.isOpen() && exited)
                break;

            std::optional<Clock::time_point> wake;
            auto wakeAt = [&](Clock::time_point at) { wake = wake ? std::min(*wake, at) : at; };
            if (!stoppedAt)
                wakeAt(deadlineAt);
            else if (!killedAt)
                wakeAt(*stoppedAt + options.killGrace);
            else if (outputRead.isOpen())
                wakeAt(*killedAt + kDrainAfterKill);
            if (!exited && !exitWatch.isOpen())
                wakeAt(now + kExitPoll);

            std::vector<pollfd> fds(3 + options.interrupts.size());
            nfds_t count = 0;
            int outputIndex = -1, inputIndex = -1, exitIndex = -1;
            if (outputRead.isOpen()) {
                outputIndex = int(count);
                fds[count++] = {outputRead.get(), POLLIN, 0};
            }
            if (inputWrite.isOpen()) {
                inputIndex = int(count);
                fds[count++] = {inputWrite.get(), POLLOUT, 0};
            }
            if (!exited && exitWatch.isOpen()) {
                exitIndex = int(count);
                fds[count++] = {exitWatch.get(), POLLIN, 0};
            }
            if (!result.interrupted)
                for (const auto &interrupt : options.interrupts)
                    fds[count++] = {interrupt->descriptor(), POLLIN, 0};

            int timeout = -1;
            if (wake) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
                timeout = int(std::clamp<long long>(left, 0, 60000));
            }
            const int ready = ::poll(fds.data(), count, timeout);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                fail(ChildProcessError::Stage::read, errno);
                if (!exited)
                    inspect(0);
                break;
            }

            if (inputIndex >= 0 && fds[inputIndex].revents) {
                const qsizetype left = inputSize - written;
                const ssize_t n = ::write(inputWrite.get(), options.input->constData() + written,
                                          size_t(std::min<qsizetype>(left, 65536)));
                if (n > 0) {
                    written += n;
                    if (written == inputSize)
                        inputWrite.close();
                } else if (n < 0 && errno == EPIPE) {
                    // The child closed its input without reading all of it: that is its choice,
                    // and its exit status, not the unread rest, says how it went.
                    inputWrite.close();
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    fail(ChildProcessError::Stage::write, errno);
                }
            }

            if (outputIndex >= 0 && outputRead.isOpen() && fds[outputIndex].revents) {
                for (;;) {
                    const ssize_t n = ::read(outputRead.get(), chunk.data(), size_t(piece));
                    if (n == 0) {
                        outputRead.close();
                        break;
                    }
                    if (n < 0) {
                        if (errno == EINTR)
                            continue;
                        if (errno != EAGAIN)
                            fail(ChildProcessError::Stage::read, errno);
                        break;
                    }
                    if (options.keep == Keep::head) {
                        const qint64 room = options.limit - result.output.size();
                        if (n > room) {
                            result.output.append(chunk.constData(), qsizetype(std::max<qint64>(room, 0)));
                            result.truncated = true;
                            stopGroup();
                            outputRead.close();
                            break;
                        }
                        result.output.append(chunk.constData(), qsizetype(n));
                    } else {
                        result.output.append(chunk.constData(), qsizetype(n));
                        if (result.output.size() > options.limit) {
                            result.output.remove(0, result.output.size() - qsizetype(options.limit));
                            result.truncated = true;
                        }
                    }
                }
            }

            if (!exited) {
                if (exitIndex >= 0 && fds[exitIndex].revents)
                    inspect(0);
                else if (!exitWatch.isOpen())
                    inspect(WNOHANG);
            }
        }
        if (!exited)
            inspect(0);
        inputWrite.close();
        outputRead.close();
    }

    if (ioError != 0)
        throw ChildProcessError(ioStage, ioError);
    result.status = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    return result;
}
