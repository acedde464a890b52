// The project tools against bare system calls, in one run.
//
// Read: the path guard plus a read of a 64 KB text file (what project_read_file does before it
// numbers lines) against a bare open, fstat, read and close of the same file by its absolute path.
// List: project_list_directory of a 10,000-entry tree at depth 3 (it stops at its 1000-entry
// limit) against a bare opendir/readdir walk that keeps the same entries (dot names skipped, same
// depth, same stop, sorted).
//
// Search: project_search's walk, selection and rg run over a tree of 900 source files against a bare
// rg with the same options that walks the same tree itself.
//
// Ratios: compare BM_GuardedRead64K with BM_BareRead64K, BM_ListTree with BM_BareWalkTree,
// BM_Search with BM_BareRg. What confining rg to the project costs: BM_ConfinedRg (the same bare
// rg started under the search's Landlock ruleset) against BM_BareRg.
#include "core/Json.h"
#include "platform/ReadConfinement.h"
#include "project/ProjectFileTools.h"
#include "project/ProjectRoot.h"
#include "project/ProjectSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{
// One fixture project for the whole run.
struct Fixture
{
    Fixture()
    {
        root = QFileInfo(folder.path()).canonicalFilePath();
        QDir(root).mkpath(QStringLiteral("src/module"));
        QFile file(root + QStringLiteral("/src/module/file.txt"));
        file.open(QIODevice::WriteOnly);
        QByteArray line(79, 'x');
        line += '\n';
        while (file.size() < 65536)
            file.write(line);
        file.close();
        // 10 folders of 10 folders of 100 files: 10,110 entries.
        for (int a = 0; a < 10; ++a)
            for (int b = 0; b < 10; ++b) {
                const QString dir = root + QStringLiteral("/tree/d%1/s%2").arg(a).arg(b);
                QDir().mkpath(dir);
                for (int c = 0; c < 100; ++c) {
                    QFile entry(dir + QStringLiteral("/f%1.txt").arg(c));
                    entry.open(QIODevice::WriteOnly);
                }
            }
        // 9 folders of 100 source files of 200 lines, one line in 50 holding the word searched for.
        for (int a = 0; a < 9; ++a) {
            const QString dir = root + QStringLiteral("/code/m%1").arg(a);
            QDir().mkpath(dir);
            for (int c = 0; c < 100; ++c) {
                QFile source(dir + QStringLiteral("/s%1.ts").arg(c));
                source.open(QIODevice::WriteOnly);
                for (int line = 0; line < 200; ++line)
                    source.write(line % 50 == 7 ? "  const handle = openSession(config, token);\n"
                                                : "  let value = compute(input, options) + offset;\n");
            }
        }
    }
    QTemporaryDir folder;
    QString root;
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void BM_GuardedRead64K(benchmark::State &state)
{
    ProjectRoot root(fixture().root);
    const QString path = QStringLiteral("src/module/file.txt");
    for (auto _ : state) {
        const ProjectLocation location = root.inside(path, false);
        const QString text = root.read(location, projectfiles::kMaximum);
        benchmark::DoNotOptimize(text.size());
    }
    state.SetBytesProcessed(state.iterations() * 65600);
}

void BM_BareRead64K(benchmark::State &state)
{
    const QByteArray path = (fixture().root + QStringLiteral("/src/module/file.txt")).toUtf8();
    char buffer[65536];
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        ::fstat(fd, &st);
        std::string bytes;
        bytes.reserve(size_t(st.st_size) + 1);
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, size_t(n));
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * 65600);
}

void BM_ListTree(benchmark::State &state)
{
    ProjectRoot root(fixture().root);
    const Json input = {{"depth", 3}};
    qsizetype entries = 0;
    for (auto _ : state) {
        const ProjectLocation location = root.inside(QStringLiteral("tree"), false);
        const ProjectToolResult result = projectfiles::list(root, location, input);
        entries = result.text.count(u'\n') + 1;
        benchmark::DoNotOptimize(result.text.size());
    }
    state.counters["entries"] = double(entries);
}

struct BareWalk
{
    std::vector<std::string> entries;
    bool full = false;
    void visit(const std::string &absolute, const std::string &relative, int level)
    {
        DIR *dir = ::opendir(absolute.c_str());
        if (!dir)
            return;
        std::vector<std::pair<std::string, unsigned char>> names;
        while (dirent *entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name, entry->d_type);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto &[name, type] : names) {
            if (full)
                return;
            const std::string path = relative + "/" + name;
            entries.push_back(path);
            if (entries.size() >= 1000) {
                full = true;
                return;
            }
            if (type == DT_DIR && level < 3)
                visit(absolute + "/" + name, path, level + 1);
        }
    }
};

void BM_BareWalkTree(benchmark::State &state)
{
    const std::string root = (fixture().root + QStringLiteral("/tree")).toStdString();
    size_t entries = 0;
    for (auto _ : state) {
        BareWalk walk;
        walk.visit(root, "tree", 1);
        std::sort(walk.entries.begin(), walk.entries.end());
        entries = walk.entries.size();
        benchmark::DoNotOptimize(walk.entries.data());
    }
    state.counters["entries"] = double(entries);
}
void BM_Search(benchmark::State &state)
{
    ProjectRoot root(fixture().root);
    const Json input = {{"max_results", 200}};
    qsizetype lines = 0;
    for (auto _ : state) {
        const ProjectLocation location = root.inside(QStringLiteral("code"), false);
        const QString report = projectsearch::search(root, QStringLiteral("openSession"), input, location, nullptr, {});
        lines = report.count(u'\n') + 1;
    }
    state.counters["lines"] = double(lines);
}

// `confined`: rg is started from a thread that first restricts itself as the search does (reads
// beneath the project root and of rg's own files only), so the difference is what confinement costs.
void bareRg(benchmark::State &state, bool confined)
{
    const QByteArray directory = fixture().root.toUtf8();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("rg"));
    const ProjectRoot rootDescriptor(fixture().root);
    std::vector<std::string> words = {"rg",
                                      "--no-config",
                                      "--line-number",
                                      "--with-filename",
                                      "--no-heading",
                                      "--color",
                                      "never",
                                      "--max-columns",
                                      "300",
                                      "--max-columns-preview",
                                      "--max-count",
                                      "200",
                                      "--max-filesize",
                                      "2097152",
                                      "--no-messages",
                                      "--fixed-strings",
                                      "--",
                                      "openSession",
                                      "code"};
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    size_t lines = 0;
    for (auto _ : state) {
        int fds[2];
        ::pipe2(fds, O_CLOEXEC);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
        pid_t pid;
        if (confined) {
            const QStringList files = readconfinement::programFiles(program);
            std::thread maker([&] {
                readconfinement::confine(rootDescriptor.descriptor(), files);
                ::posix_spawnp(&pid, "rg", &actions, nullptr, argv.data(), environ);
            });
            maker.join();
        } else {
            ::posix_spawnp(&pid, "rg", &actions, nullptr, argv.data(), environ);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string output;
        char buffer[8192];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, size_t(n));
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
        lines = size_t(std::count(output.begin(), output.end(), '\n'));
    }
    state.counters["lines"] = double(lines);
}

void BM_BareRg(benchmark::State &state)
{
    bareRg(state, false);
}

void BM_ConfinedRg(benchmark::State &state)
{
    bareRg(state, true);
}
} // namespace

BENCHMARK(BM_GuardedRead64K)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareRead64K)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareWalkTree)->Unit(benchmark::kMicrosecond);
// The work happens in the child: wall time is what counts.
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareRg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConfinedRg)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
