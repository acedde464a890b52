#include "core/HubError.h"
#include "project/CompanionRunner.h"
#include "project/NativeChanges.h"
#include "project/NativeRepository.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::awaitFor;

namespace
{
const QString kChangesFailed = QStringLiteral(
    "The local working-tree reader failed. Install the matching tavrilo-code CLI companion or set TAVRILO_CODE_CLI.");
const QString kRepositoryFailed =
    QStringLiteral("The repository could not be opened. Check its address and noninteractive Git access.");

// Points TAVRILO_CODE_CLI somewhere for one test, and puts it back.
class CompanionSetting
{
public:
    explicit CompanionSetting(const QString &value)
        : m_had(qEnvironmentVariableIsSet("TAVRILO_CODE_CLI")), m_previous(qgetenv("TAVRILO_CODE_CLI"))
    {
        qputenv("TAVRILO_CODE_CLI", value.toUtf8());
    }
    ~CompanionSetting()
    {
        if (m_had)
            qputenv("TAVRILO_CODE_CLI", m_previous);
        else
            qunsetenv("TAVRILO_CODE_CLI");
    }

private:
    bool m_had;
    QByteArray m_previous;
};

class Companion : public ::testing::Test
{
protected:
    // A companion made of a shell script.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = folder.filePath(name);
        testsupport::writeFile(path, "#!/bin/sh\n" + body);
        ::chmod(path.toUtf8().constData(), 0755);
        return path;
    }
    QString errorOf(companion::Job job, const QByteArray &input = "{}")
    {
        try {
            companion::run(job, input);
            return QStringLiteral("<no error>");
        } catch (const HubError &error) {
            return error.description();
        }
    }

    QTemporaryDir folder;
};

TEST_F(Companion, ProgramChoice)
{
    const QString executable = script(QStringLiteral("companion"), "exit 0\n");
    const QString plain = folder.filePath(QStringLiteral("plain"));
    testsupport::writeFile(plain, "not executable");
    using companion::Job;
    const QStringList documents = {QStringLiteral("workspace"), QStringLiteral("--documents")};
    const QStringList installed = QStringList{QStringLiteral("tavrilo-code")} + documents;
    {
        CompanionSetting setting(executable);
        EXPECT_EQ(companion::choose(Job::changes).program, executable);
        EXPECT_EQ(companion::choose(Job::changes).arguments, documents);
        EXPECT_EQ(companion::choose(Job::repository).arguments,
                  (QStringList{QStringLiteral("workspace"), QStringLiteral("--project-open")}));
    }
    for (const QString &unusable : {QStringLiteral("companion"), plain}) {
        CompanionSetting setting(unusable);
        EXPECT_EQ(companion::choose(Job::changes).program, QStringLiteral("/usr/bin/env"));
        EXPECT_EQ(companion::choose(Job::changes).arguments, installed);
        EXPECT_THROW(companion::choose(Job::repository), HubError);
    }
    CompanionSetting empty(QString{});
    EXPECT_EQ(companion::choose(Job::repository).program, QStringLiteral("/usr/bin/env"));
}

TEST_F(Companion, RequestInReplyOutExitStatusDecides)
{
    CompanionSetting setting(script(QStringLiteral("echo"), "cat\n"));
    EXPECT_EQ(companion::run(companion::Job::changes, R"({"x":1})"), R"({"x":1})");
    CompanionSetting failing(script(QStringLiteral("fail"), "echo secret detail >&2\necho partial\nexit 1\n"));
    EXPECT_EQ(errorOf(companion::Job::changes), kChangesFailed);
    EXPECT_EQ(errorOf(companion::Job::repository), kRepositoryFailed);
}

TEST_F(Companion, ReplyCaps)
{
    struct Case
    {
        companion::Job job;
        int bytes;
        QString want;
    };
    for (const Case &c :
         {Case{companion::Job::changes, 1200000, QString()},
          Case{companion::Job::changes, 1200001, QStringLiteral("Working-tree response exceeds its preview limit.")},
          Case{companion::Job::repository, 16384, QString()},
          Case{companion::Job::repository, 16385,
               QStringLiteral("Repository companion response exceeds its limit.")}}) {
        CompanionSetting setting(script(QStringLiteral("flood%1").arg(c.bytes),
                                        "cat >/dev/null; head -c " + QByteArray::number(c.bytes) + " /dev/zero\n"));
        if (c.want.isEmpty())
            EXPECT_EQ(companion::run(c.job, "{}").size(), c.bytes);
        else
            EXPECT_EQ(errorOf(c.job), c.want);
    }
    // A flood that never ends is cut at the cap, and its group is stopped.
    CompanionSetting endless(script(QStringLiteral("endless"), "yes\n"));
    EXPECT_EQ(errorOf(companion::Job::changes), QStringLiteral("Working-tree response exceeds its preview limit."));
}

TEST_F(Companion, EnvironmentIsScrubbedPerJob)
{
    const QByteArray names[] = {"AWS_PROFILE",     "GITHUB_TOKEN", "NPM_APIKEY",       "DB_PASSWORD",
                                "SSH_PRIVATE_KEY", "aws_profile",  "GIT_CONFIG_GLOBAL"};
    for (const QByteArray &name : names)
        qputenv(name.constData(), "x");
    CompanionSetting setting(script(QStringLiteral("env"), "env\n"));
    const QByteArray changes = "\n" + companion::run(companion::Job::changes, "{}");
    const QByteArray repository = "\n" + companion::run(companion::Job::repository, "{}");
    for (const QByteArray &name : names)
        qunsetenv(name.constData());
    for (const char *name : {"AWS_PROFILE=", "GITHUB_TOKEN=", "NPM_APIKEY=", "DB_PASSWORD=", "SSH_PRIVATE_KEY="}) {
        EXPECT_FALSE(changes.contains("\n" + QByteArray(name))) << name;
        EXPECT_FALSE(repository.contains("\n" + QByteArray(name))) << name;
    }
    EXPECT_TRUE(changes.contains("aws_profile=x"));
    EXPECT_TRUE(changes.contains("GIT_CONFIG_GLOBAL=x"));
    EXPECT_FALSE(repository.contains("GIT_CONFIG_GLOBAL=x"));
    EXPECT_TRUE(repository.contains("TAVRILO_CODE_CLI="));
}

// Decoding of the changes reply.
TEST(ChangeResult, DecodesStrictlyWithDefaults)
{
    const NativeChangeResult bare = NativeChangeResult::decode(R"({"kind":"changes"})");
    EXPECT_TRUE(bare.usable());
    EXPECT_TRUE(bare.files.isEmpty());
    EXPECT_FALSE(bare.truncated);
    EXPECT_FALSE(bare.selected.has_value());
    EXPECT_FALSE(bare.selectionError.has_value());

    const NativeChangeResult refused =
        NativeChangeResult::decode(R"({"kind":"error","message":"No repository here."})");
    EXPECT_FALSE(refused.usable());
    EXPECT_EQ(refused.failure(), QStringLiteral("No repository here."));
    EXPECT_EQ(NativeChangeResult::decode(R"({"kind":"error"})").failure(),
              QStringLiteral("Working-tree changes could not be read."));

    const NativeChangeResult full = NativeChangeResult::decode(R"({"kind":"changes","truncated":true,
        "files":[{"path":"a.py","status":"M","extra":1},{"path":"b.txt","status":"??"}],
        "selectionError":"Too large.",
        "selected":{"path":"a.py","diff":"","ast":{"status":"parsed","language":"Python","nodes":[
            {"id":"c","kind":"class","name":"Store","change":"added","afterLine":30,"children":[
                {"id":"c.m","kind":"function","name":"load","change":"modified","beforeLine":12,"afterLine":14,"children":[]}]},
            {"id":"f","kind":"function","name":"gone","change":"removed","beforeLine":7,"children":[]}]}}})");
    EXPECT_TRUE(full.truncated);
    EXPECT_EQ(full.files, (QList<NativeChangeFile>{{QStringLiteral("a.py"), QStringLiteral("M")},
                                                   {QStringLiteral("b.txt"), QStringLiteral("??")}}));
    EXPECT_EQ(full.selectionError, QStringLiteral("Too large."));
    ASSERT_TRUE(full.selected && full.selected->ast && full.selected->ast->nodes);
    const QList<NativeASTChange> &nodes = *full.selected->ast->nodes;
    EXPECT_EQ(nodes[0].label(), QStringLiteral("added \u00B7 class Store \u00B7 new \u2192 30"));
    EXPECT_EQ(nodes[0].descendants()->first().label(),
              QStringLiteral("modified \u00B7 function load \u00B7 12 \u2192 14"));
    EXPECT_EQ(nodes[1].label(), QStringLiteral("removed \u00B7 function gone \u00B7 7 \u2192 removed"));
    EXPECT_FALSE(nodes[1].descendants().has_value());
}

TEST(ChangeResult, RefusesWhatIsMissingOrTooDeep)
{
    const QByteArray broken[] = {
        R"({"files":[]})",
        R"({"kind":"changes","files":[{"path":"a"}]})",
        R"({"kind":"changes","selected":{"path":"a"}})",
        R"({"kind":"changes","selected":{"path":"a","diff":"","ast":{}}})",
        R"({"kind":"changes","selected":{"path":"a","diff":"","ast":{"status":"parsed","nodes":[
            {"id":"x","kind":"k","name":"n","change":"c"}]}}})",
        R"({"kind":"changes","truncated":"yes"})",
        "not json",
    };
    for (const QByteArray &reply : broken)
        EXPECT_THROW(NativeChangeResult::decode(reply), HubError) << reply.constData();

    QByteArray deep = R"({"id":"x","kind":"k","name":"n","change":"c","children":[]})";
    for (int i = 0; i < 80; ++i)
        deep = R"({"id":"x","kind":"k","name":"n","change":"c","children":[)" + deep + "]}";
    EXPECT_THROW(
        NativeChangeResult::decode(
            R"({"kind":"changes","selected":{"path":"a","diff":"","ast":{"status":"parsed","nodes":[)" + deep + "]}}}"),
        HubError);
}

TEST(ChangesRequest, SendsThePathOnlyWhenGiven)
{
    EXPECT_EQ(NativeChanges::request(QStringLiteral("/p"), std::nullopt),
              R"({"request":{"kind":"changes"},"root":"/p"})");
    EXPECT_EQ(NativeChanges::request(QStringLiteral("/p"), QString()),
              R"({"request":{"kind":"changes","path":""},"root":"/p"})");
}

// The stand-in companion on a real repository.
class CompanionProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        base = QFileInfo(folder.path()).canonicalFilePath();
        repository = base + QStringLiteral("/repo");
        QDir().mkpath(repository);
        git({QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("main")});
        testsupport::writeFile(repository + QStringLiteral("/store.py"), "import os\n\ndef load():\n    return 1\n");
        testsupport::writeFile(repository + QStringLiteral("/notes.txt"), "notes\n");
        git({QStringLiteral("add"), QStringLiteral(".")});
        git({QStringLiteral("-c"), QStringLiteral("user.email=t@example.com"), QStringLiteral("-c"),
             QStringLiteral("user.name=T"), QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"),
             QStringLiteral("first")});
    }
    void git(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(repository);
        process.start(QStringLiteral("git"), arguments);
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }

    QTemporaryDir folder;
    QString base;
    QString repository;
    CompanionSetting setting{QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-code")};
};

TEST_F(CompanionProgram, ChangesOfAFixtureRepositoryWithTheirSummary)
{
    testsupport::writeFile(repository + QStringLiteral("/store.py"),
                           "import os\nimport sys\n\ndef load():\n    return 2\n");
    testsupport::writeFile(repository + QStringLiteral("/new.txt"), "fresh\n");
    const NativeChangeResult listed = awaitFor(NativeChanges::read(repository, std::nullopt), std::chrono::seconds(30));
    ASSERT_TRUE(listed.usable());
    EXPECT_EQ(listed.files, (QList<NativeChangeFile>{{QStringLiteral("store.py"), QStringLiteral("M")},
                                                     {QStringLiteral("new.txt"), QStringLiteral("??")}}));
    // Without a path the companion selects the first file.
    EXPECT_EQ(listed.selected->path, QStringLiteral("store.py"));

    const NativeChangeResult chosen =
        awaitFor(NativeChanges::read(repository, QStringLiteral("store.py")), std::chrono::seconds(30));
    ASSERT_TRUE(chosen.selected);
    EXPECT_EQ(chosen.selected->path, QStringLiteral("store.py"));
    EXPECT_TRUE(chosen.selected->diff.contains(QStringLiteral("+import sys")));
    ASSERT_TRUE(chosen.selected->ast && chosen.selected->ast->nodes);
    EXPECT_EQ(chosen.selected->ast->status, QStringLiteral("parsed"));
    QStringList labels;
    for (const NativeASTChange &node : *chosen.selected->ast->nodes)
        labels.append(node.label());
    labels.sort();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("added \u00B7 import sys \u00B7 new \u2192 2"),
                                   QStringLiteral("modified \u00B7 function load \u00B7 3 \u2192 4")}));

    const NativeChangeResult unknown =
        awaitFor(NativeChanges::read(repository, QStringLiteral("notes.txt")), std::chrono::seconds(30));
    EXPECT_EQ(unknown.selectionError, QStringLiteral("No working-tree change for notes.txt."));
    EXPECT_FALSE(awaitFor(NativeChanges::read(base, std::nullopt), std::chrono::seconds(30)).usable());
}

TEST_F(CompanionProgram, OpensAndReusesAClone)
{
    const QString parent = base + QStringLiteral("/workspace");
    QDir().mkpath(parent);
    const QString url = QStringLiteral("file://") + repository;
    const NativeRepository::Result opened =
        awaitFor(NativeRepository::open(url, QString(), parent, {}), std::chrono::seconds(60));
    EXPECT_EQ(opened.directory, parent + QStringLiteral("/repo"));
    EXPECT_EQ(opened.origin, QStringLiteral("git"));
    EXPECT_FALSE(opened.fetchFailed.has_value());
    EXPECT_TRUE(QFileInfo::exists(opened.directory + QStringLiteral("/store.py")));

    // The clone is reused; with its remote gone, the update cannot be confirmed.
    QDir(repository).removeRecursively();
    const NativeRepository::Result again =
        awaitFor(NativeRepository::open(url, QString(), parent, {}), std::chrono::seconds(60));
    EXPECT_EQ(again.directory, opened.directory);
    EXPECT_TRUE(again.fetchFailed.has_value());
}

TEST(RepositoryRequest, RefOnlyWhenGivenAndWithinItsLimit)
{
    EXPECT_EQ(NativeRepository::request(QStringLiteral("https://h/r.git"), QString(), QStringLiteral("/w")),
              R"({"origin":{"kind":"git","url":"https://h/r.git"},"workspaceRoot":"/w"})");
    EXPECT_EQ(
        NativeRepository::request(QStringLiteral("https://h/r.git"), QStringLiteral("main"), QStringLiteral("/w")),
        R"({"origin":{"kind":"git","ref":"main","url":"https://h/r.git"},"workspaceRoot":"/w"})");
    // The request holds 65 bytes besides the filler.
    const QString filler = QString(16384 - 65, u'a');
    EXPECT_NO_THROW(NativeRepository::request(QStringLiteral("https://h/") + filler, QString(), QStringLiteral("/w")));
    EXPECT_THROW(NativeRepository::request(QStringLiteral("https://h/a") + filler, QString(), QStringLiteral("/w")),
                 HubError);
}

TEST(RepositoryReply, IsChecked)
{
    const QString invalid = QStringLiteral("The repository companion returned an invalid project.");
    struct Case
    {
        QByteArray reply;
        QString error;
    };
    for (const Case &c : {Case{R"({"directory":"relative","origin":{"kind":"git"}})", invalid},
                          Case{R"({"directory":"/abs","origin":{"kind":"svn"}})", invalid},
                          Case{R"({"directory":"/abs"})",
                               QStringLiteral("The data couldn't be read because it isn't in the correct format.")},
                          Case{R"({"directory":"/abs","origin":{}})",
                               QStringLiteral("The data couldn't be read because it isn't in the correct format.")}}) {
        try {
            NativeRepository::decode(c.reply);
            ADD_FAILURE() << c.reply.constData();
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), c.error) << c.reply.constData();
        }
    }
    const NativeRepository::Result fetched =
        NativeRepository::decode(R"({"directory":"/abs","origin":{"kind":"git"},"fetchFailed":""})");
    EXPECT_EQ(fetched.fetchFailed, QString());
}

TEST_F(Companion, RepositoryCancellationBeforeAndDuringTheRun)
{
    const QString started = folder.filePath(QStringLiteral("started"));
    // A companion that hangs and leaves a grandchild holding the reply pipe.
    CompanionSetting setting(
        script(QStringLiteral("hang"), "touch '" + started.toUtf8() + "'\nsleep 100 &\nsleep 100\n"));

    CancelSource before;
    before.cancel();
    EXPECT_THROW(
        awaitFor(NativeRepository::open(QStringLiteral("https://h/r"), QString(), folder.path(), before.token())),
        CancelledError);
    EXPECT_FALSE(QFileInfo::exists(started));

    CancelSource during;
    auto outcome = std::make_shared<std::optional<QString>>();
    auto drive = [](QCoro::Task<NativeRepository::Result> task,
                    std::shared_ptr<std::optional<QString>> out) -> QCoro::Task<void> {
        try {
            co_await std::move(task);
            *out = QStringLiteral("<opened>");
        } catch (const HubError &error) {
            *out = error.description();
        }
    };
    drive(NativeRepository::open(QStringLiteral("https://h/r"), QString(), folder.path(), during.token()), outcome);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(started); }, std::chrono::seconds(10)));
    during.cancel();
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome->has_value(); }, std::chrono::seconds(10)));
    EXPECT_EQ(**outcome, kRepositoryFailed);
}

TEST_F(Companion, AnUnusableConfiguredCompanionLaunchesNothingForARepository)
{
    CompanionSetting setting(QStringLiteral("relative/tavrilo-code"));
    try {
        awaitFor(NativeRepository::open(QStringLiteral("https://h/r"), QString(), folder.path(), {}));
        FAIL() << "opened";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Configure an executable absolute CLI companion path."));
    }
}
} // namespace
