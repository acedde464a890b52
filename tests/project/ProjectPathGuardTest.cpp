#include "core/HubError.h"
#include "project/ProjectRoot.h"

#include "ProjectFixture.h"

namespace
{
const char *const kOutside = "Project path is outside the permitted boundary or contains credentials.";
const char *const kLeaves = "Project symlink leaves the selected directory.";
const char *const kProtected = "Project symlink targets protected credentials or state.";
const char *const kRoot = "Cannot write the project directory.";

// `want` is the accepted location relative to the root, or the refusal sentence (`refused`).
struct GuardCase
{
    const char *name;
    QString path;
    bool write;
    bool refused;
    QString want;
};

GuardCase ok(const char *name, QString path, bool write, QString relative)
{
    return {name, std::move(path), write, false, std::move(relative)};
}
GuardCase no(const char *name, QString path, bool write, const char *sentence)
{
    return {name, std::move(path), write, true, QString::fromUtf8(sentence)};
}

class PathGuard : public ProjectFixture, public ::testing::WithParamInterface<GuardCase>
{
protected:
    void SetUp() override
    {
        ProjectFixture::SetUp();
        write(QStringLiteral("src/app.ts"), "app");
        write(QStringLiteral("a/b.txt"), "b");
        write(QStringLiteral(".git/config"), "[core]");
        write(QStringLiteral(".tavrilo/verification/x.txt"), "x");
        write(QStringLiteral("keys/public.txt"), "p");
        testsupport::writeFile(outside() + QStringLiteral("/secret.txt"), "secret");
        link(QStringLiteral("link_out"), outside());
        link(QStringLiteral("link_dangling_out"), QStringLiteral("/nonexistent/place"));
        link(QStringLiteral("link_git"), QStringLiteral(".git/config"));
        link(QStringLiteral("nested/link_git_dir"), QStringLiteral("../.git"));
        link(QStringLiteral("link_src"), QStringLiteral("src"));
        link(QStringLiteral("link_abs_src"), root() + QStringLiteral("/src"));
        link(QStringLiteral("link_up_and_back"), QStringLiteral("../project/a"));
        link(QStringLiteral("link_env"), QStringLiteral("keys/public.txt"));
        link(QStringLiteral("a/link_root"), QStringLiteral(".."));
    }
};

TEST_P(PathGuard, AcceptsOrRefuses)
{
    const GuardCase &c = GetParam();
    ProjectRoot guard(root());
    try {
        const ProjectLocation location = guard.inside(c.path, c.write);
        EXPECT_FALSE(c.refused) << "accepted as " << location.relative.toStdString();
        EXPECT_EQ(location.relative, c.want);
        EXPECT_EQ(location.path, c.want.isEmpty() ? root() : root() + u'/' + c.want);
    } catch (const HubError &error) {
        EXPECT_TRUE(c.refused) << error.description().toStdString();
        EXPECT_EQ(error.description(), c.want);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, PathGuard,
    ::testing::Values(
        ok("plain", QStringLiteral("src/app.ts"), false, QStringLiteral("src/app.ts")),
        ok("dotComponent", QStringLiteral("a/./b.txt"), false, QStringLiteral("a/b.txt")),
        ok("doubleSlash", QStringLiteral("a//b.txt"), true, QStringLiteral("a/b.txt")),
        ok("trailingSlash", QStringLiteral("a/"), false, QStringLiteral("a")),
        ok("missingFolders", QStringLiteral("new/deep/file.txt"), true, QStringLiteral("new/deep/file.txt")),
        ok("root", QStringLiteral("."), false, QString()), ok("empty", QString(), false, QString()),
        no("rootWrite", QStringLiteral("."), true, kRoot), no("emptyWrite", QString(), true, kRoot),
        no("rootWriteThroughLink", QStringLiteral("a/link_root"), true, kRoot),
        no("dotDot", QStringLiteral("a/../b.txt"), false, kOutside),
        no("dotDotAlone", QStringLiteral(".."), false, kOutside),
        no("absolute", QStringLiteral("/etc/passwd"), false, kOutside),
        no("home", QStringLiteral("~/notes"), false, kOutside),
        no("backslash", QStringLiteral("a\\b.txt"), false, kOutside),
        no("driveLetter", QStringLiteral("C:/x"), false, kOutside), no("colon", QStringLiteral("a:b"), false, kOutside),
        no("nul", QStringLiteral("a") + QChar(0) + QStringLiteral("b"), false, kOutside),
        no("tab", QStringLiteral("a\tb"), false, kOutside), no("lineFeed", QStringLiteral("a\nb"), false, kOutside),
        no("nextLine", QStringLiteral("a\u0085b"), false, kOutside),
        no("lineSeparator", QStringLiteral("a\u2028b"), false, kOutside),
        no("bidiOverride", QStringLiteral("evil\u202Etxt.sh"), false, kOutside),
        no("bidiIsolate", QStringLiteral("a\u2066b"), false, kOutside),
        no("envLocal", QStringLiteral("src/.env.local"), false, kOutside),
        no("envUpper", QStringLiteral("config/.ENV"), true, kOutside),
        no("pemUpper", QStringLiteral("keys/server.PEM"), false, kOutside),
        no("idRsaPub", QStringLiteral("docs/id_rsa.pub"), false, kOutside),
        no("npmrc", QStringLiteral("node_modules/.npmrc"), false, kOutside),
        no("gitFolder", QStringLiteral(".git/config"), false, kOutside),
        no("gitUpper", QStringLiteral(".GIT/config"), false, kOutside),
        no("sshFolder", QStringLiteral("home/.ssh/known_hosts"), false, kOutside),
        no("tfstate", QStringLiteral("infra/prod.tfstate"), false, kOutside),
        ok("dotEnvLikeNames", QStringLiteral("my.env"), true, QStringLiteral("my.env")),
        ok("envDocs", QStringLiteral("docs/env.md"), true, QStringLiteral("docs/env.md")),
        ok("github", QStringLiteral(".github/workflows/ci.yml"), true, QStringLiteral(".github/workflows/ci.yml")),
        ok("stateRead", QStringLiteral(".tavrilo/verification/x.txt"), false,
           QStringLiteral(".tavrilo/verification/x.txt")),
        no("stateWrite", QStringLiteral(".tavrilo/verification/x.txt"), true, kOutside),
        no("stateWriteUpper", QStringLiteral(".Tavrilo/notes.txt"), true, kOutside),
        no("linkOut", QStringLiteral("link_out/secret.txt"), false, kLeaves),
        no("linkOutItself", QStringLiteral("link_out"), true, kLeaves),
        no("danglingLinkOut", QStringLiteral("link_dangling_out"), true, kLeaves),
        no("linkToGitConfig", QStringLiteral("link_git"), false, kProtected),
        no("linkToGitFolder", QStringLiteral("nested/link_git_dir/config"), false, kProtected),
        ok("linkInside", QStringLiteral("link_src/app.ts"), false, QStringLiteral("src/app.ts")),
        ok("absoluteLinkInside", QStringLiteral("link_abs_src/app.ts"), true, QStringLiteral("src/app.ts")),
        ok("linkUpAndBack", QStringLiteral("link_up_and_back/b.txt"), false, QStringLiteral("a/b.txt"))),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
