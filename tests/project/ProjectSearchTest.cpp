#include "project/ProjectSearch.h"
#include "core/HubError.h"

#include "ProjectFixture.h"

#include <QRegularExpression>

#include <atomic>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <stdio.h>

namespace
{
using Answer = NativeProjectHands::Answer;

struct GlobCase
{
    const char *name;
    QString glob;
    QString path;
    bool matches;
};

class Glob : public ::testing::TestWithParam<GlobCase>
{
};

TEST_P(Glob, MatchesWholeProjectRelativePaths)
{
    const GlobCase &c = GetParam();
    EXPECT_EQ(projectsearch::globExpression(c.glob).match(c.path).hasMatch(), c.matches)
        << c.glob.toStdString() << " on " << c.path.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Glob,
    ::testing::Values(
        GlobCase{"extensionAtRoot", QStringLiteral("*.ts"), QStringLiteral("a.ts"), true},
        GlobCase{"extensionDeep", QStringLiteral("*.ts"), QStringLiteral("src/x/a.ts"), true},
        GlobCase{"extensionOther", QStringLiteral("*.ts"), QStringLiteral("src/a.tsx"), false},
        GlobCase{"folderStarDirect", QStringLiteral("src/*.ts"), QStringLiteral("src/a.ts"), true},
        GlobCase{"folderStarNotDeeper", QStringLiteral("src/*.ts"), QStringLiteral("src/x/a.ts"), false},
        GlobCase{"folderStarNotElsewhere", QStringLiteral("src/*.ts"), QStringLiteral("lib/src/a.ts"), false},
        GlobCase{"recursiveDirect", QStringLiteral("src/**/*.ts"), QStringLiteral("src/a.ts"), true},
        GlobCase{"recursiveDeep", QStringLiteral("src/**/*.ts"), QStringLiteral("src/x/y/a.ts"), true},
        GlobCase{"recursiveOtherFolder", QStringLiteral("src/**/*.ts"), QStringLiteral("lib/a.ts"), false},
        GlobCase{"twoStarsAlone", QStringLiteral("**"), QStringLiteral("any/path/at/all.c"), true},
        GlobCase{"questionOneLetter", QStringLiteral("?.c"), QStringLiteral("deep/a.c"), true},
        GlobCase{"questionTwoLetters", QStringLiteral("?.c"), QStringLiteral("ab.c"), false},
        GlobCase{"questionNotSlash", QStringLiteral("a?b"), QStringLiteral("a/b"), false},
        GlobCase{"bracketsLiteral", QStringLiteral("[ab].c"), QStringLiteral("[ab].c"), true},
        GlobCase{"bracketsNoClass", QStringLiteral("[ab].c"), QStringLiteral("a.c"), false},
        GlobCase{"dotLiteral", QStringLiteral("a.c"), QStringLiteral("abc"), false},
        GlobCase{"metacharactersLiteral", QStringLiteral("a+(b)|c$^{2}.c"), QStringLiteral("x/a+(b)|c$^{2}.c"), true},
        GlobCase{"backslashLiteral", QStringLiteral("a\\d"), QStringLiteral("a\\d"), true},
        GlobCase{"backslashNotClass", QStringLiteral("a\\d"), QStringLiteral("a1"), false},
        GlobCase{"doubleSlash", QStringLiteral("src//a.ts"), QStringLiteral("src//a.ts"), true},
        GlobCase{"emptyMatchesNothing", QString(), QStringLiteral("a"), false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GlobRefusal, AbsoluteOrClimbingGlobs)
{
    for (const QString &glob : {QStringLiteral("/etc/*"), QStringLiteral("../*.ts"), QStringLiteral("src/../../x")}) {
        try {
            projectsearch::globExpression(glob);
            ADD_FAILURE() << glob.toStdString();
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), QStringLiteral("Search glob must be project-relative."));
        }
    }
    EXPECT_NO_THROW(projectsearch::globExpression(QStringLiteral("a//b")));
}

struct ReportCase
{
    const char *name;
    QByteArray output;
    int status;
    bool cut, slow, walkFull;
    qint64 wanted;
    QString report;
};

class Report : public ::testing::TestWithParam<ReportCase>
{
};

TEST_P(Report, SaysWhenItWasCut)
{
    const ReportCase &c = GetParam();
    EXPECT_EQ(projectsearch::report(c.output, c.status, c.cut, c.slow, c.walkFull, c.wanted), c.report);
}

const QString M = projectsearch::kMarker;
INSTANTIATE_TEST_SUITE_P(
    Cases, Report,
    ::testing::Values(
        ReportCase{"lines", "a:1:x\n\nb:2:y\n", 0, false, false, false, 100, QStringLiteral("a:1:x\nb:2:y")},
        ReportCase{"noMatch", "", 1, false, false, false, 100, QStringLiteral("No matches.")},
        ReportCase{"moreThanWanted", "a:1:x\nb:2:y\nc:3:z\n", 0, false, false, false, 2,
                   QStringLiteral("a:1:x\nb:2:y\n") + M},
        ReportCase{"cut", "a:1:x\n", 0, true, false, false, 100, QStringLiteral("a:1:x\n") + M},
        ReportCase{"slow", "", 143, false, true, false, 100, M},
        ReportCase{"walkFull", "a:1:x\n", 0, false, false, true, 100, QStringLiteral("a:1:x\n") + M},
        // rg ends with 2 when one file failed; the matches it found are still the answer.
        ReportCase{"matchesDespiteAFailedFile", "a:1:x\n", 2, false, false, false, 100, QStringLiteral("a:1:x")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReportFailure, AQuickErrorWithoutLines)
{
    EXPECT_THROW(projectsearch::report("", 2, false, false, false, 100), HubError);
    EXPECT_THROW(projectsearch::report("", 127, false, false, false, 100), HubError);
}

class Search : public ProjectFixture
{
protected:
    Answer search(Json input, const QString &path = QStringLiteral("."))
    {
        input["path"] = path.toStdString();
        return run(call("project_search", input));
    }
    QStringList lines(Json input, const QString &path = QStringLiteral("."))
    {
        const Answer answer = search(std::move(input), path);
        EXPECT_EQ(answer.status, QStringLiteral("success")) << answer.result.toStdString();
        QStringList out = answer.result.split(u'\n');
        out.sort();
        return out;
    }
};

TEST_F(Search, SearchesOnlyVisibleSmallFilesOutsideBuildFolders)
{
    write(QStringLiteral("src/app.ts"), "let needle = 1;\n");
    write(QStringLiteral("src/.hidden.ts"), "needle\n");
    write(QStringLiteral(".config/x.ts"), "needle\n");
    write(QStringLiteral(".env"), "needle\n");
    write(QStringLiteral("node_modules/pkg/index.js"), "needle\n");
    write(QStringLiteral("lib/build/out.js"), "needle\n");
    write(QStringLiteral("vendor"), "needle\n");
    write(QStringLiteral("keys/server.pem"), "needle\n");
    write(QStringLiteral("big.txt"), QByteArray("needle\n") + QByteArray(2097153 - 7, 'x'));
    write(QStringLiteral("bin.dat"), QByteArray("\0\0needle\0", 9));
    write(QStringLiteral("docs/readme.md"), "a Needle here\n");
    testsupport::writeFile(outside() + QStringLiteral("/leak.ts"), "needle\n");
    link(QStringLiteral("away"), outside());

    // rg names a binary file it was handed instead of printing its bytes.
    const QString binary = QStringLiteral("bin.dat: binary file matches (found \"\\0\" byte around offset 0)");
    EXPECT_EQ(lines({{"pattern", "needle"}}), (QStringList{binary, QStringLiteral("src/app.ts:1:let needle = 1;")}));
    EXPECT_EQ(lines({{"pattern", "needle"}, {"ignore_case", true}}),
              (QStringList{binary, QStringLiteral("docs/readme.md:1:a Needle here"),
                           QStringLiteral("src/app.ts:1:let needle = 1;")}));
    EXPECT_EQ(lines({{"pattern", "ne+dle"}, {"regex", true}}),
              (QStringList{binary, QStringLiteral("src/app.ts:1:let needle = 1;")}));
    EXPECT_EQ(search({{"pattern", "ne+dle"}}).result, QStringLiteral("No matches."));
    EXPECT_EQ(lines({{"pattern", "needle"}}, QStringLiteral("src/app.ts")),
              QStringList{QStringLiteral("src/app.ts:1:let needle = 1;")});
    EXPECT_EQ(search({{"pattern", "needle"}, {"glob", "*.md"}}).result, QStringLiteral("No matches."));
    EXPECT_EQ(search({{"pattern", "needle"}, {"glob", ""}}).result, QStringLiteral("No matching searchable files."));
    EXPECT_EQ(search({{"pattern", "needle"}}, QStringLiteral("away")).result,
              QStringLiteral("Project symlink leaves the selected directory."));
}

TEST_F(Search, PatternsAndFailures)
{
    write(QStringLiteral("a.txt"), "-v is an option\nx\n");
    EXPECT_EQ(search({{"pattern", "-v"}}).result, QStringLiteral("a.txt:1:-v is an option"));
    const Answer bad = search({{"pattern", "("}, {"regex", true}});
    EXPECT_EQ(bad.status, QStringLiteral("error"));
    EXPECT_EQ(bad.result, QStringLiteral("Search failed: verify the regex and that ripgrep is installed."));
    EXPECT_EQ(search({{"pattern", "x"}, {"glob", "/a.txt"}}).result,
              QStringLiteral("Search glob must be project-relative."));
    EXPECT_EQ(search({{"pattern", "x"}}, QStringLiteral("missing")).result, QStringLiteral("Cannot search directory."));

    // Stars that backtrack over a long name reach the engine's bound: an error, not "no match".
    write(QStringLiteral("b") + QString(240, u'a'), "x\n");
    EXPECT_EQ(search({{"pattern", "x"}, {"glob", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"}}).result,
              QStringLiteral("Search glob is too complex to match; simplify it."));
    EXPECT_EQ(search({{"pattern", "x"}, {"glob", "b*"}}).result, QStringLiteral("b") + QString(240, u'a') + ":1:x");
}

TEST_F(Search, LinesAreCutToWhatWasAskedForWithAMarker)
{
    QByteArray many;
    for (int i = 0; i < 80; ++i)
        many += "match " + QByteArray::number(i) + "\n";
    write(QStringLiteral("a.txt"), many);
    write(QStringLiteral("b.txt"), many);
    const QStringList cut = search({{"pattern", "match"}, {"max_results", 100}}).result.split(u'\n');
    EXPECT_EQ(cut.size(), 101);
    EXPECT_EQ(cut.last(), projectsearch::kMarker);
    // Clamped: below 1 is 1, above 200 is 200, text is the default of 100.
    EXPECT_EQ(search({{"pattern", "match"}, {"max_results", 0}}).result.split(u'\n').size(), 2);
    EXPECT_EQ(search({{"pattern", "match"}, {"max_results", 500}}).result.split(u'\n').size(), 160);
    EXPECT_EQ(search({{"pattern", "match"}, {"max_results", "50"}}).result.split(u'\n').size(), 101);
}

TEST_F(Search, OutputIsCappedAtItsBytes)
{
    // 200 lines of 300 visible columns in each of 3 files: far more than 64,000 bytes.
    QByteArray wide;
    for (int i = 0; i < 200; ++i)
        wide += "hit" + QByteArray(400, 'w') + "\n";
    for (int f = 0; f < 3; ++f)
        write(QStringLiteral("w%1.txt").arg(f), wide);
    const Answer answer = search({{"pattern", "hit"}, {"max_results", 200}});
    EXPECT_EQ(answer.status, QStringLiteral("success"));
    EXPECT_TRUE(answer.result.endsWith(projectsearch::kMarker));
    EXPECT_LE(answer.result.toUtf8().size(), 64000 + projectsearch::kMarker.size() + 1);
}

TEST_F(Search, AWalkOfAThousandFilesSaysItWasBounded)
{
    for (int i = 0; i < 1005; ++i)
        write(QStringLiteral("many/f%1.txt").arg(i, 4, 10, QLatin1Char('0')), i == 3 ? "needle\n" : "hay\n");
    EXPECT_EQ(search({{"pattern", "needle"}}).result,
              QStringLiteral("many/f0003.txt:1:needle\n") + projectsearch::kMarker);
}
TEST_F(Search, NeverReadsOutsideTheRootWhileAFolderIsSwappedForALink)
{
    // "sub" is swapped, atomically and over and over, with a hidden link to the outside folder
    // holding a file of the same name: rg may be handed "sub/notes.txt" just as "sub" became the
    // link.
    write(QStringLiteral("sub/notes.txt"), "needle inside\n");
    write(QStringLiteral("top.txt"), "needle top\n");
    testsupport::writeFile(outside() + QStringLiteral("/notes.txt"), "needle OUTSIDE\n");
    link(QStringLiteral(".swap"), outside());

    const ProjectRoot projectRoot(root());
    const ProjectLocation location = projectRoot.inside(QStringLiteral("."), false);
    std::atomic<bool> done{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const QByteArray sub = at(QStringLiteral("sub")).toUtf8(), swap = at(QStringLiteral(".swap")).toUtf8();
        while (!done) {
            if (::renameat2(AT_FDCWD, sub.constData(), AT_FDCWD, swap.constData(), RENAME_EXCHANGE) == 0)
                ++swaps;
        }
    });
    std::vector<std::thread> searchers;
    std::atomic<int> answers{0}, leaks{0}, insides{0};
    for (int t = 0; t < 4; ++t) {
        searchers.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                try {
                    const QString report = projectsearch::search(projectRoot, QStringLiteral("needle"), Json::object(),
                                                                 location, nullptr, CancelToken());
                    ++answers;
                    if (report.contains(QLatin1String("OUTSIDE")))
                        ++leaks;
                    if (report.contains(QLatin1String("needle inside")))
                        ++insides;
                } catch (const HubError &) {
                    // A search may fail while the tree changes; it must never leak.
                }
            }
        });
    }
    for (std::thread &searcher : searchers)
        searcher.join();
    done = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_GT(answers.load(), 0);
    EXPECT_GT(insides.load(), 0);
    EXPECT_EQ(leaks.load(), 0) << "of " << answers.load() << " answers";
}

TEST_F(Search, HostileNamesAndTrees)
{
    // A name that is not UTF-8, and "-" at the root, which rg would read as standard input.
    const QByteArray latin = (root() + QStringLiteral("/latin")).toUtf8() + "\xE9.txt";
    const int fd = ::open(latin.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "needle bytes\n", 13), 13);
    ::close(fd);
    write(QStringLiteral("-"), "needle dash\n");
    EXPECT_EQ(lines({{"pattern", "needle"}}),
              (QStringList{QStringLiteral("-:1:needle dash"), QString::fromUtf8("latin\uFFFD.txt:1:needle bytes")}));
    // The temporary folder's clean-up cannot name it.
    ::unlink(latin.constData());

    // A chain of folders far deeper than the walk goes: what lies below the limit is left out, and
    // the report says the search was bounded.
    QString chain = QStringLiteral("deep");
    for (int level = 0; level < 100; ++level)
        chain += QStringLiteral("/d");
    write(chain + QStringLiteral("/far.txt"), "needle far\n");
    write(QStringLiteral("deep/near.txt"), "needle near\n");
    const QStringList deep = search({{"pattern", "needle"}}, QStringLiteral("deep")).result.split(u'\n');
    EXPECT_EQ(deep, (QStringList{QStringLiteral("deep/near.txt:1:needle near"), projectsearch::kMarker}));
}

TEST_F(Search, OutputOfExactlyTheCapSaysItWasBounded)
{
    // 200 lines that rg prints as exactly 320 bytes each (a 20-byte name, ":", the number, ":", the
    // text, a line feed): 64,000 bytes, all of which fit, but more may have been behind them.
    const QString name = QStringLiteral("aaaaaaaaaaaaaaaaaaaa");
    QByteArray text;
    for (int line = 1; line <= 200; ++line)
        text += "needle" + QByteArray(317 - 20 - QByteArray::number(line).size() - 6, 'x') + "\n";
    write(name, text);
    const QStringList report = search({{"pattern", "needle"}, {"max_results", 200}}).result.split(u'\n');
    ASSERT_EQ(report.size(), 201);
    EXPECT_EQ(report.first().size(), 319);
    EXPECT_EQ(report.last(), projectsearch::kMarker);
}
} // namespace
