#include "project/ProjectSearch.h"

#include "core/HubError.h"
#include "platform/ReadConfinement.h"
#include "project/ProjectFileTools.h"

#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

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
// Folder levels below the searched folder that the walk enters.
constexpr int kDepthLimit = 64;
const QString kGlobTooComplex = QStringLiteral("Search glob is too complex to match; simplify it.");
const QString kFailed = QStringLiteral("Search failed: verify the regex and that ripgrep is installed.");

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

// The candidates: regular files of at most the size cap, found depth-first (entries sorted per
// folder, so the same tree always gives the same files), never through a link. Names stay the bytes
// the file system holds. Each folder is opened beneath the root on its own, read whole and closed
// before its subfolders are visited, so a deep tree holds one descriptor, and folders more than
// kDepthLimit levels below the searched one are left out (and the report says it was bounded).
class Walk
{
public:
    struct Candidate
    {
        QByteArray path;
        // The path as text (invalid sequences replaced), for the glob.
        QString text;
    };

    Walk(const ProjectRoot &root, Clock::time_point start) : m_root(root), m_start(start) {}

    void visit(int directory, const QByteArray &relative, int depth)
    {
        DIR *stream = ::fdopendir(directory);
        if (!stream) {
            ::close(directory);
            return;
        }
        std::vector<std::pair<QByteArray, unsigned char>> entries;
        while (dirent *entry = ::readdir(stream)) {
            if (entry->d_name[0] != '.')
                entries.emplace_back(QByteArray(entry->d_name), entry->d_type);
            if (entries.size() % 4096 == 0 && late())
                break;
        }
        std::sort(entries.begin(), entries.end());
        std::vector<QByteArray> folders;
        for (const auto &[name, type] : entries) {
            if (stopped())
                break;
            if (isSkippedName(name))
                continue;
            if (ProjectRoot::refusedName(utf8text::decode(name), relative.isEmpty(), false))
                continue;
            struct stat st;
            if (type == DT_LNK || ::fstatat(::dirfd(stream), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
            if (S_ISREG(st.st_mode)) {
                if (st.st_size <= projectfiles::kMaximum)
                    candidates.push_back({path, utf8text::decode(path)});
            } else if (S_ISDIR(st.st_mode)) {
                folders.push_back(path);
            }
        }
        ::closedir(stream);
        for (const QByteArray &folder : folders) {
            if (stopped())
                break;
            if (depth >= kDepthLimit) {
                deep = true;
                break;
            }
            const int child = m_root.openDirectory(folder);
            if (child >= 0)
                visit(child, folder, depth + 1);
        }
    }

    bool full() const { return qsizetype(candidates.size()) >= kWalkLimit; }
    bool late() const { return Clock::now() - m_start > kWalkTime; }
    bool stopped() const { return full() || late(); }

    std::vector<Candidate> candidates;
    // Folders below the depth limit were left out.
    bool deep = false;

private:
    const ProjectRoot &m_root;
    Clock::time_point m_start;
};

// The glob's expression, matched with a bound on the engine's work per path: a glob whose stars
// backtrack badly over long names stops at the bound and fails the search, instead of holding the
// project tools or counting as no match.
class GlobMatcher
{
public:
    explicit GlobMatcher(const QRegularExpression &expression)
    {
        const QString pattern = expression.pattern();
        int error = 0;
        PCRE2_SIZE offset = 0;
        m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()), PCRE2_UTF,
                               &error, &offset, nullptr);
        m_context = pcre2_match_context_create(nullptr);
        if (!m_code || !m_context)
            throw HubError(kGlobTooComplex);
        pcre2_set_match_limit(m_context, kMatchLimit);
        m_data = pcre2_match_data_create_from_pattern(m_code, nullptr);
    }
    ~GlobMatcher()
    {
        pcre2_match_data_free(m_data);
        pcre2_match_context_free(m_context);
        pcre2_code_free(m_code);
    }
    GlobMatcher(const GlobMatcher &) = delete;
    GlobMatcher &operator=(const GlobMatcher &) = delete;

    bool matches(const QString &path) const
    {
        const int rc = pcre2_match(m_code, reinterpret_cast<PCRE2_SPTR>(path.utf16()), PCRE2_SIZE(path.size()), 0, 0,
                                   m_data, m_context);
        if (rc == PCRE2_ERROR_NOMATCH)
            return false;
        if (rc < 0)
            throw HubError(kGlobTooComplex);
        return true;
    }

private:
    static constexpr uint32_t kMatchLimit = 1000000;
    pcre2_code *m_code = nullptr;
    pcre2_match_context *m_context = nullptr;
    pcre2_match_data *m_data = nullptr;
};

// rg, found on the hub's PATH as the launcher would find it, and confined to reading beneath the
// root: the walk never follows a link, but rg opens the names it is handed, and a folder of the
// project swapped for a link meanwhile would lead it anywhere.
std::function<void()> confinement(const ProjectRoot &root, const QString &program)
{
    if (!readconfinement::available())
        throw HubError(QStringLiteral("Search needs a kernel with Landlock to keep it inside the project."));
    const QStringList files = readconfinement::programFiles(program);
    const int directory = root.descriptor();
    return [directory, files] { readconfinement::confine(directory, files); };
}
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
    std::optional<GlobMatcher> glob;
    if (const std::optional<QString> text = json::string(input, "glob"))
        glob.emplace(globExpression(*text));

    Walk walk(root, start);
    const std::optional<struct stat> status = root.status(location);
    if (status && S_ISREG(status->st_mode)) {
        walk.candidates.push_back({location.relative.toUtf8(), location.relative});
    } else {
        const QByteArray relative = location.relative.toUtf8();
        const int directory = root.openDirectory(relative);
        if (directory < 0)
            throw HubError(QStringLiteral("Cannot search directory."));
        walk.visit(directory, relative, 0);
    }
    bool walkFull = walk.full() || walk.deep;

    QByteArrayList selected;
    qsizetype budget = 0;
    for (const Walk::Candidate &candidate : walk.candidates) {
        // A glob that backtracks badly costs time per candidate: it spends the run's budget.
        if (Clock::now() - start >= kRunBudget) {
            walkFull = true;
            break;
        }
        if (glob && !glob->matches(candidate.text))
            continue;
        const qsizetype length = candidate.path.size();
        if (budget + length >= kPathBudget)
            break;
        budget += length;
        // rg reads standard input for a lone "-".
        selected.append(candidate.path == "-" ? QByteArrayLiteral("./-") : candidate.path);
    }
    if (selected.isEmpty())
        return QStringLiteral("No matching searchable files.");

    const QString program = QStandardPaths::findExecutable(QStringLiteral("rg"));
    if (program.isEmpty())
        throw HubError(kFailed);
    QStringList arguments = {QStringLiteral("--no-config"),
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
    arguments << QStringLiteral("--") << pattern;

    // The hands closing and the caller's cancellation both stop rg.
    auto cancelled = std::make_shared<ChildInterrupt>();
    const CancelRegistration onCancel = token.onCancel([cancelled] { cancelled->trigger(); });
    ChildProcess::Options options;
    options.program = program;
    options.arguments = arguments;
    options.byteArguments = selected;
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
    try {
        options.confine = confinement(root, program);
    } catch (const ChildProcessError &error) {
        throw HubError(error.systemDescription());
    }
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
    // Output that reached the cap exactly may have had more behind it.
    const bool cut = result.truncated || result.output.size() >= kOutputCap;
    QByteArray output = std::move(result.output);
    if (output.startsWith("./-:"))
        output.remove(0, 2);
    output.replace("\n./-:", "\n-:");
    return report(output, result.status, cut, slow, walkFull, wanted);
}

QString report(const QByteArray &output, int status, bool cut, bool slow, bool walkFull, qint64 wanted)
{
    QStringList lines = utf8text::decode(output).split(u'\n', Qt::SkipEmptyParts);
    // rg also ends with 2 when some file could not be read; what it found still stands.
    if (!cut && status >= 2 && !slow && lines.isEmpty())
        throw HubError(kFailed);
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
