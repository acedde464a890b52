#include "project/BuildVerification.h"
#include "core/HubError.h"

#include "ProjectFixture.h"

#include <QRegularExpression>

namespace
{
using Answer = NativeProjectHands::Answer;
using buildverification::Policy;

const QString kOperator = QStringLiteral("tavrilo_operator");

class Verification : public ProjectFixture
{
protected:
    Answer verify(double deadlineFromNow = 120000)
    {
        Json payload = call("project_verify_build", Json::object(), deadlineFromNow);
        payload["toolUseId"] = "pv-0123456789abcdef0123456789abcdef";
        return run(json::dump(payload), kOperator, std::chrono::seconds(120));
    }
    Json evidence(const Answer &answer)
    {
        EXPECT_EQ(answer.status, QStringLiteral("success")) << answer.result.toStdString();
        return Json::parse(answer.result.toStdString());
    }
    void writeTool(const char *path, const std::string &content)
    {
        const Answer answer = run(call("project_write_file", {{"path", path}, {"content", content}}));
        ASSERT_EQ(answer.status, QStringLiteral("success")) << answer.result.toStdString();
    }
    void package(const char *build)
    {
        write(QStringLiteral("package.json"),
              QByteArray(R"({"name":"fixture","scripts":{"build":)") + Json(build).dump().c_str() + "}}");
    }
    bool stagingIsEmpty() const
    {
        return QDir(at(QStringLiteral(".tavrilo/verification")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
            .isEmpty();
    }
};

TEST_F(Verification, NothingChangedIsVerifiedWithoutABuild)
{
    package("exit 1");
    const Answer answer = verify();
    EXPECT_EQ(answer.result, QStringLiteral(R"({"command":null,"diff":"","exitCode":null,"log":"","ok":true,)"
                                            R"("paths":[],"ran":false,"required":false,"version":1})"));
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral(".tavrilo"))));
    const Answer expired = verify(1500);
    EXPECT_EQ(expired.status, QStringLiteral("error"));
    EXPECT_EQ(expired.result, QStringLiteral("Verification deadline expired."));
}

TEST_F(Verification, APassingBuildAndTheDiffsInTheirByteForm)
{
    package("node -e \"console.log('built ok')\"");
    write(QStringLiteral("src/app.ts"), "one\n-- two\nthree\n");
    writeTool("src/app.ts", "one\nthree\n");
    writeTool("src/new.ts", "fresh\n");
    const Answer answer = verify();
    const Json e = evidence(answer);
    EXPECT_EQ(e["version"], 1);
    EXPECT_EQ(e["required"], true);
    EXPECT_EQ(e["ran"], true);
    EXPECT_EQ(e["ok"], true);
    EXPECT_EQ(e["exitCode"], 0);
    EXPECT_EQ(e["command"], "npm run build");
    EXPECT_NE(e["log"].get<std::string>().find("built ok"), std::string::npos);
    EXPECT_EQ(e["paths"], (Json{"src/app.ts", "src/new.ts"}));

    const QString diff = QString::fromStdString(e["diff"].get<std::string>());
    EXPECT_TRUE(diff.contains(QStringLiteral("diff --git \"a/src/app.ts\" \"b/src/app.ts\"\n")));
    EXPECT_TRUE(diff.contains(QStringLiteral("--- \"a/src/app.ts\"\n+++ \"b/src/app.ts\"\n")));
    // The removed line "-- two" stays a hunk line.
    EXPECT_TRUE(diff.contains(QStringLiteral("\n--- two\n")));
    EXPECT_TRUE(diff.contains(QStringLiteral("--- /dev/null\n+++ \"b/src/new.ts\"\n")));
    EXPECT_FALSE(diff.contains(root()));
    // Every "/" is written with a backslash before it.
    EXPECT_TRUE(answer.result.contains(QStringLiteral(R"(diff --git \"a\/src\/app.ts\" \"b\/src\/app.ts\")")));
    EXPECT_FALSE(answer.result.contains(QRegularExpression(QStringLiteral("[^\\\\]/"))));
    EXPECT_TRUE(stagingIsEmpty());
}

TEST_F(Verification, AFailingBuildDeletedAndUnchangedFiles)
{
    package("node -e \"console.log('broken'); process.exit(2)\"");
    write(QStringLiteral("gone.txt"), "bye\n");
    write(QStringLiteral("same.txt"), "same\n");
    writeTool("gone.txt", "changed\n");
    writeTool("same.txt", "other\n");
    writeTool("same.txt", "same\n");
    QFile::remove(at(QStringLiteral("gone.txt")));
    const Json e = evidence(verify());
    EXPECT_EQ(e["ran"], true);
    EXPECT_EQ(e["ok"], false);
    EXPECT_EQ(e["exitCode"], 2);
    EXPECT_NE(e["log"].get<std::string>().find("broken"), std::string::npos);
    EXPECT_EQ(e["paths"], (Json{"gone.txt", "same.txt"}));
    const std::string diff = e["diff"];
    EXPECT_NE(diff.find("--- \"a/gone.txt\"\n+++ /dev/null\n"), std::string::npos);
    EXPECT_EQ(diff.find("same.txt"), std::string::npos);
}

TEST_F(Verification, WithoutABuildCommandTheDiffsStillCome)
{
    writeTool("notes.md", "hello\n");
    const Json e = evidence(verify());
    EXPECT_EQ(e["ran"], false);
    EXPECT_EQ(e["ok"], false);
    EXPECT_EQ(e["command"], nullptr);
    EXPECT_NE(e["diff"].get<std::string>().find("+hello"), std::string::npos);
}

// The obvious fault: a build that ran out of time used to cancel the group for the rest of the turn.
TEST_F(Verification, ABuildTimeoutIsReportedAndTheNextVerificationRuns)
{
    package("node -e \"setTimeout(() => {}, 60000)\"");
    writeTool("a.txt", "a\n");
    const Answer slow = verify(3500);
    EXPECT_EQ(slow.status, QStringLiteral("error"));
    EXPECT_EQ(slow.result, QStringLiteral("The project build did not finish within its time budget."));
    package("node -e \"0\"");
    EXPECT_EQ(evidence(verify())["ok"], true);
    EXPECT_TRUE(stagingIsEmpty());
}

TEST_F(Verification, DiffsBeyondTheirCapFailWithoutEvidence)
{
    // More than a pipe holds, so the cut stops git before it can exit.
    QByteArray wide;
    for (int i = 0; i < 5000; ++i)
        wide += "line " + QByteArray::number(i) + " " + QByteArray(30, 'x') + "\n";
    writeTool("one.txt", wide.toStdString());
    const Answer tooLong = verify();
    EXPECT_EQ(tooLong.status, QStringLiteral("error"));
    EXPECT_EQ(tooLong.result, QStringLiteral("The complete selected-project diff could not be read."));
    EXPECT_TRUE(stagingIsEmpty());

    testsupport::awaitFor(hands().beginTurn());
    const std::string half(20000, 'y');
    writeTool("two.txt", half);
    writeTool("three.txt", half);
    const Answer together = verify();
    EXPECT_EQ(together.result,
              QStringLiteral("Verification diff exceeds 32768 bytes; no incomplete evidence was submitted."));
    EXPECT_TRUE(stagingIsEmpty());
}

TEST(DiffHeaders, OnlyTheHeaderBeforeTheFirstHunkIsRewritten)
{
    const QString output = QStringLiteral("diff --git a/tmp/x/0 b/home/p/f\nindex 1..2 100644\n--- a/tmp/x/0\n"
                                          "+++ b/home/p/f\n@@ -1,2 +1,2 @@\n--- old\n+++ new\n diff --git kept\n");
    EXPECT_EQ(buildverification::rewriteHeaders(output, QStringLiteral("d/f \"q\""), true, true),
              QStringLiteral("diff --git \"a/d/f \\\"q\\\"\" \"b/d/f \\\"q\\\"\"\nindex 1..2 100644\n"
                             "--- \"a/d/f \\\"q\\\"\"\n+++ \"b/d/f \\\"q\\\"\"\n@@ -1,2 +1,2 @@\n--- old\n+++ new\n"
                             " diff --git kept\n"));
}

struct CommandCase
{
    const char *name;
    std::function<void(ProjectFixture &)> project;
    QStringList command;
};

class BuildCommand : public ProjectFixture, public ::testing::WithParamInterface<CommandCase>
{
};

TEST_P(BuildCommand, FollowsThePolicy)
{
    GetParam().project(*this);
    const Policy policy = Policy::decode(R"({
        "nodeScripts": ["build", "compile"],
        "technologyCommands": [
            {"technology": "Marked", "manifest": "tool.cfg", "marker": "[build]", "command": "marked", "args": ["go"]},
            {"technology": "Plain", "manifest": "tool.cfg", "marker": null, "command": "plain", "args": []},
            {"technology": "Hidden", "manifest": ".env", "command": "never", "args": []}
        ]})");
    ProjectRoot projectRoot(root());
    const std::optional<QStringList> command = buildverification::buildCommand(projectRoot, policy);
    EXPECT_EQ(command.value_or(QStringList{QStringLiteral("<none>")}), GetParam().command);
}

void file(ProjectFixture &f, const char *path, const QByteArray &bytes)
{
    testsupport::writeFile(f.at(QString::fromUtf8(path)), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildCommand,
    ::testing::Values(
        CommandCase{"npmByDefault",
                    [](auto &f) { file(f, "package.json", R"({"scripts":{"compile":"tsc","build":"x"}})"); },
                    {"npm", "run", "build"}},
        CommandCase{
            "bunWhenPinned",
            [](auto &f) { file(f, "package.json", R"({"packageManager":"bun@1.1.0","scripts":{"build":"x"}})"); },
            {"bun", "run", "build"}},
        CommandCase{"otherManager",
                    [](auto &f) { file(f, "package.json", R"({"packageManager":"pnpm@9","scripts":{"build":"x"}})"); },
                    {"npm", "run", "build"}},
        CommandCase{"numberScriptSkipped",
                    [](auto &f) { file(f, "package.json", R"({"scripts":{"build":5,"compile":"tsc"}})"); },
                    {"npm", "run", "compile"}},
        CommandCase{"brokenPackageFallsThrough",
                    [](auto &f) {
                        file(f, "package.json", "{not json");
                        file(f, "tool.cfg", "[build]\n");
                    },
                    {"marked", "go"}},
        CommandCase{"markerMissingNextRow", [](auto &f) { file(f, "tool.cfg", "nothing\n"); }, {"plain"}},
        CommandCase{"nothing", [](auto &) {}, {"<none>"}},
        CommandCase{"protectedManifestNeverChosen", [](auto &f) { file(f, ".env", "x"); }, {"<none>"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BuildPolicy, TheShippedPolicyDecodesAndAMistypedOneDoesNot)
{
    const Policy shipped = Policy::shipped();
    EXPECT_FALSE(shipped.nodeScripts.isEmpty());
    EXPECT_FALSE(shipped.technologyCommands.isEmpty());
    EXPECT_THROW(Policy::decode(R"({"nodeScripts":["build"]})"), HubError);
    EXPECT_THROW(Policy::decode(R"({"nodeScripts":[1],"technologyCommands":[]})"), HubError);
    EXPECT_THROW(
        Policy::decode(R"({"nodeScripts":[],"technologyCommands":[{"technology":"t","manifest":"m","command":"c"}]})"),
        HubError);
}
} // namespace
