#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <sys/types.h>

// Wakes the supervision of a running child from any thread: the child's whole process group is
// stopped and the run ends soon after, even when an escaped process still holds the output open.
// Thread-safe; once triggered it stays triggered.
class ChildInterrupt
{
public:
    ChildInterrupt();
    ~ChildInterrupt();
    ChildInterrupt(const ChildInterrupt &) = delete;
    ChildInterrupt &operator=(const ChildInterrupt &) = delete;

    void trigger();
    bool triggered() const { return m_triggered.load(); }
    // Readable once triggered; for the supervision loop's poll.
    int descriptor() const { return m_fd; }

private:
    int m_fd;
    std::atomic<bool> m_triggered{false};
};

// A child that could not be prepared, started, fed, read or inspected. `stage` says where; `error`
// is the error number the system reported.
class ChildProcessError : public std::runtime_error
{
public:
    enum class Stage { fileActions, attributes, isolation, spawn, pipe, write, read, inspect };
    ChildProcessError(Stage stage, int error);

    Stage stage() const noexcept { return m_stage; }
    int error() const noexcept { return m_error; }
    // The system's description of `error`, as one sentence.
    QString systemDescription() const;

private:
    Stage m_stage;
    int m_error;
};

// The one runner of every child process of the hub. A child is started with posix_spawn as the
// leader of a process group of its own, inherits no descriptor but 0, 1 and 2 (stdin /dev/null
// unless it is fed `input`), default signal dispositions and an empty signal mask, and exactly the
// environment it is given. The calling thread supervises it with poll: output is read in bounded
// pieces against a cap, the deadline stops the whole group, and the group is killed before the
// child is reaped, so nothing the child started outlives the run in its group. No thread is made
// per child.
class ChildProcess
{
public:
    // Which bytes of the output are kept when more than `limit` arrive: the first ones (the group
    // is then stopped and reading ends) or the last ones (reading goes on to the end).
    enum class Keep { head, tail };
    // The child's standard error: into the same pipe as standard output, or to /dev/null.
    enum class ErrorOutput { merged, discarded };
    // The environment scrub rules. `inherited` keeps everything; `verification` removes names that,
    // upper-cased, begin with AWS_ or TAVRILO_ or contain TOKEN, SECRET, PASSWORD, CREDENTIAL,
    // PRIVATE_KEY, API_KEY or AUTHORIZATION; `companion` removes names matching
    // ^(AWS_|.*TOKEN|.*SECRET|.*PASSWORD|.*CREDENTIAL|.*PRIVATE.?KEY|.*API.?KEY) case-sensitively;
    // `repository` removes those and names beginning with GIT_CONFIG_.
    enum class Scrub { inherited, verification, companion, repository };

    struct Options
    {
        // Absolute path of the executable; argv[0] is this path.
        QString program;
        QStringList arguments;
        // Passed after `arguments` exactly as they are (file names need not be UTF-8).
        QByteArrayList byteArguments;
        // Unset: the hub's current directory.
        std::optional<QString> workingDirectory;
        // Complete "NAME=value" entries.
        QByteArrayList environment;
        // Written to standard input, which is then closed; unset: standard input is /dev/null.
        std::optional<QByteArray> input;
        ErrorOutput errors = ErrorOutput::merged;
        qint64 limit = 65536;
        Keep keep = Keep::head;
        qint64 readPiece = 8192;
        // Counted from the start. When it passes while the child runs or its group still holds the
        // output, the group gets `stopSignal`, and SIGKILL `killGrace` later.
        std::chrono::milliseconds deadline{30000};
        int stopSignal = SIGKILL;
        std::chrono::milliseconds killGrace{0};
        // Any of them stops the group when triggered (before or during the run).
        std::vector<std::shared_ptr<ChildInterrupt>> interrupts;
        // When set, the child is made on a thread of its own that first calls this: whatever it
        // does to that thread (a Landlock domain, no_new_privs) the child inherits, and the rest
        // of the hub does not. A throw ends the run before anything is started.
        std::function<void()> confine;
        // Called on the calling thread right after the spawn, with the child's pid (its group id).
        std::function<void(pid_t)> started;
        // Called after the group's final SIGKILL and right before the child is reaped: until then
        // the group id cannot name an unrelated process.
        std::function<void(pid_t)> reaping;
    };

    struct Result
    {
        // Exit code, or 128 plus the signal that ended the child.
        int status = 0;
        // The kept bytes, exactly as read.
        QByteArray output;
        // More than `limit` bytes arrived.
        bool truncated = false;
        // The deadline passed before the output ended and the child exited.
        bool timedOut = false;
        // An interrupt stopped the group.
        bool interrupted = false;
    };

    // Runs one child to its end. Throws ChildProcessError when it cannot be prepared or started,
    // and, after the group is killed and the child reaped, when feeding, reading or inspecting it
    // failed.
    static Result run(const Options &options);

    // This process's environment after `rule`.
    static QByteArrayList environment(Scrub rule);
    static bool keeps(const QByteArray &name, Scrub rule);

    // The kept bytes as text of whole characters: invalid sequences become U+FFFD, the result is
    // cut again to `limit` bytes from the kept end, and characters split by a cut are dropped.
    static QString wholeCharacters(const QByteArray &bytes, qsizetype limit, Keep keep);

    // Writing to a pipe whose reader is gone fails with EPIPE instead of ending the process.
    // Idempotent; every run calls it.
    static void ignoreBrokenPipes();
};

// UTF-8 text as the hub's children and tools hand it over.
namespace utf8text
{
// Decodes UTF-8, every invalid sequence replaced by U+FFFD; a leading byte order mark stays text.
QString decode(const QByteArray &bytes);
// Drops the last character of otherwise well-formed UTF-8 when a cut left it incomplete; says
// whether it did.
bool dropIncompleteEnd(QByteArray &text);
} // namespace utf8text
