#include "project/ProjectSearch.h"

#include "core/HubError.h"
#include "project/ProjectFileTools.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace projectsearch
{
namespace
{
using Clock = std::chrono::steady_clock;

constexpr int kWalkLimit = 1000;
constexpr auto kWalkTime = std::chrono::seconds(5);
constexpr qsizetype kPathBudget = 131072;
constexpr auto kRunBudget = std::chrono::seconds(20);
constexpr auto kSlowFailure = std::chrono::seconds(19);
constexpr qint64 kOutputCap = 64000;
constexpr qint64 kDefaultResults = 100;
constexpr qint64 kMostResults = 200;

bool isSkippedName(const QByteArray &name)
{
    static const char *const skipped[] = {"node_modules", "dist", "build", "target", "venv", "__pycache__", "vendor"};
    return std::any_of(std::begin(skipped), std::end(skipped), [&](const char *s) { return name == s; });
}

std::optional<bool> boolean(const Json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_boolean())
        return std::nullopt;
    return found->get<bool>();
}

// The candidates: regular files of at most the size cap, found depth-first over descriptors
// (entries sorted per folder, so the same tree always gives the same files), never through a link.
class Walk
{
public:
    explicit Walk(Clock::time_point start) : m_start(start) {}

    void visit(int directory, const QString &relativeDirectory)
    {
        DIR *stream = ::fdopendir(directory);
        if (!stream) {
            ::close(directory);
            return;
        }
        std::vector<std::pair<QByteArray, unsigned char>> entries;
        while (dirent *entry = ::readdir(stream))
            if (entry->d_name[0] != '.')
                entries.emplace_back(QByteArray(entry->d_name), entry->d_type);
        std::sort(entries.begin(), entries.end());
        for (const auto &[name, type] : entries) {
            if (stopped())
                break;
            if (isSkippedName(name))
                continue;
            const QString text = QString::fromUtf8(name);
            if (ProjectRoot::refusedName(text, relativeDirectory.isEmpty(), false))
                continue;
            struct stat st;
            if (type == DT_LNK || ::fstatat(::dirfd(stream), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const QString relative = relativeDirectory.isEmpty() ? text : relativeDirectory + u'/' + text;
            if (S_ISREG(st.st_mode)) {
                if (st.st_size <= projectfiles::kMaximum)
                    candidates.append(relative);
            } else if (S_ISDIR(st.st_mode)) {
                const int child =
                    ::openat(::dirfd(stream), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0)
                    visit(child, relative);
            }
        }
        ::closedir(stream);
    }

    bool full() const { return candidates.size() >= kWalkLimit; }
    bool stopped() const { return full() || Clock::now() - m_start > kWalkTime; }

    QStringList candidates;

private:
    Clock::time_point m_start;
};
} // namespace

QRegularExpression globExpression(const QString &glob)
{
    if (glob.startsWith(u'/') || glob.split(u'/', Qt::SkipEmptyParts).contains(QStringLiteral("..")))
        throw HubError(QStringLiteral("Search glob must be project-relative."));
    // Every metacharacter of the expression language, and nothing else: "/" stays as it is.
    static const QString metacharacters = QStringLiteral("\\^$.|?*+()[]{}");
    QString escaped;
    escaped.reserve(glob.size() * 2);
    for (const QChar c : glob) {
        if (metacharacters.contains(c))
            escaped += u'\\';
        escaped += c;
    }
    escaped.replace(QLatin1String("\\*\\*"), QLatin1String("__RECURSIVE__"));
    escaped.replace(QLatin1String("\\*"), QLatin1String("[^/]*"));
    escaped.replace(QLatin1String("\\?"), QLatin1String("[^/]"));
    escaped.replace(QLatin1String("__RECURSIVE__/"), QLatin1String("(?:.*/)?"));
    escaped.replace(QLatin1String("__RECURSIVE__"), QLatin1String(".*"));
    const QString anyDepth = glob.contains(u'/') ? QString() : QStringLiteral(".*/");
    return QRegularExpression(QStringLiteral("^(?:") + anyDepth + escaped + u'|' + escaped + QStringLiteral(")$"));
}

QString search(const ProjectRoot &root, const QString &pattern, const Json &input, const ProjectLocation &location,
               const std::shared_ptr<ChildInterrupt> &interrupt, const CancelToken &token)
{
    const auto start = Clock::now();
    const qint64 wanted =
        std::clamp(json::integer(input, "max_results").value_or(kDefaultResults), qint64(1), kMostResults);
    std::optional<QRegularExpression> glob;
    if (const std::optional<QString> text = json::string(input, "glob"))
        glob = globExpression(*text);

    Walk walk(start);
    const std::optional<struct stat> status = root.status(location);
    if (status && S_ISREG(status->st_mode)) {
        walk.candidates.append(location.relative);
    } else {
        walk.visit(root.openDirectory(location, QStringLiteral("Cannot search directory.")), location.relative);
    }
    const bool walkFull = walk.full();

    QStringList selected;
    qsizetype budget = 0;
    for (const QString &path : std::as_const(walk.candidates)) {
        if (glob && !glob->match(path).hasMatch())
            continue;
        const qsizetype length = path.toUtf8().size();
        if (budget + length >= kPathBudget)
            break;
        budget += length;
        selected.append(path);
    }
    if (selected.isEmpty())
        return QStringLiteral("No matching searchable files.");

    QStringList arguments = {QStringLiteral("rg"),
                             QStringLiteral("--no-config"),
                             QStringLiteral("--line-number"),
                             QStringLiteral("--with-filename"),
                             QStringLiteral("--no-heading"),
                             QStringLiteral("--color"),
                             QStringLiteral("never"),
                             QStringLiteral("--max-columns"),
                             QStringLiteral("300"),
                             QStringLiteral("--max-columns-preview"),
                             QStringLiteral("--max-count"),
                             QString::number(wanted),
                             QStringLiteral("--max-filesize"),
                             QString::number(projectfiles::kMaximum),
                             QStringLiteral("--no-messages")};
    if (boolean(input, "regex") != true)
        arguments.append(QStringLiteral("--fixed-strings"));
    if (boolean(input, "ignore_case") == true)
        arguments.append(QStringLiteral("--ignore-case"));
    arguments << QStringLiteral("--") << pattern << selected;

    // The hands closing and the caller's cancellation both stop rg.
    auto cancelled = std::make_shared<ChildInterrupt>();
    const CancelRegistration onCancel = token.onCancel([cancelled] { cancelled->trigger(); });
    ChildProcess::Options options;
    options.program = QStringLiteral("/usr/bin/env");
    options.arguments = arguments;
    options.workingDirectory = root.path();
    options.environment = ChildProcess::environment(ChildProcess::Scrub::inherited);
    options.errors = ChildProcess::ErrorOutput::discarded;
    options.limit = kOutputCap;
    options.keep = ChildProcess::Keep::head;
    options.readPiece = 8192;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    options.deadline = std::max<std::chrono::milliseconds>(kRunBudget - elapsed, std::chrono::seconds(1));
    options.stopSignal = SIGTERM;
    options.killGrace = std::chrono::seconds(1);
    options.interrupts = {cancelled};
    if (interrupt)
        options.interrupts.push_back(interrupt);

    ChildProcess::Result result;
    try {
        result = ChildProcess::run(options);
    } catch (const ChildProcessError &error) {
        throw HubError(error.systemDescription());
    }
    if (result.interrupted)
        throw CancelledError();

    const bool slow = Clock::now() - start >= kSlowFailure || result.timedOut;
    return report(result.output, result.status, result.truncated, slow, walkFull, wanted);
}

QString report(const QByteArray &output, int status, bool cut, bool slow, bool walkFull, qint64 wanted)
{
    QStringList lines = utf8text::decode(output).split(u'\n', Qt::SkipEmptyParts);
    // rg also ends with 2 when some file could not be read; what it found still stands.
    if (!cut && status >= 2 && !slow && lines.isEmpty())
        throw HubError(QStringLiteral("Search failed: verify the regex and that ripgrep is installed."));
    if (lines.size() > wanted) {
        lines = lines.mid(0, wanted);
        lines.append(kMarker);
    } else if (cut || slow || walkFull) {
        lines.append(kMarker);
    } else if (lines.isEmpty()) {
        return QStringLiteral("No matches.");
    }
    return lines.join(u'\n');
}
} // namespace projectsearch
