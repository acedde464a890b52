#include "headless/HeadlessFrameStage.h"

#include "core/HubError.h"
#include "headless/StageFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using testsupport::readFile;
using testsupport::writeFile;

// The system's file operations, of which chosen calls (counted from 1) fail instead.
class FailingFiles final : public StageFiles
{
public:
    std::set<int> failAt;
    int calls = 0;
    QStringList log; // "<operation> <path>" of every call

    void makeFolders(const QString &path) override { step("makeFolders", path), system().makeFolders(path); }
    void makeFolder(const QString &path, bool ownerOnly) override
    {
        step("makeFolder", path), system().makeFolder(path, ownerOnly);
    }
    bool exists(const QString &path) override { return step("exists", path), system().exists(path); }
    QByteArray read(const QString &path) override { return step("read", path), system().read(path); }
    void writeNew(const QString &path, const QByteArray &bytes) override
    {
        step("writeNew", path), system().writeNew(path, bytes);
    }
    void rename(const QString &from, const QString &to) override { step("rename", to), system().rename(from, to); }
    void syncFolder(const QString &path) override { step("syncFolder", path), system().syncFolder(path); }
    void remove(const QString &path) override { step("remove", path), system().remove(path); }
    void removeTree(const QString &path) noexcept override { system().removeTree(path); }

    static QString failure(int call) { return QStringLiteral("injected failure %1").arg(call); }

private:
    void step(const char *operation, const QString &path)
    {
        ++calls;
        log << QString::fromLatin1(operation) + ' ' + path;
        if (failAt.count(calls))
            throw HubError(failure(calls));
    }
};

const QStringList kNames{"01-app-selector", "02-workspace-overview", "03-parallel-workforce-metal"};
const OffscreenWindowProof kValid{0, 0, 0, false};
const QString kIncomplete =
    QStringLiteral("Frame publication failed and rollback was incomplete; no valid generation may be assumed.");

// Every file of `folder` but the stage, with its bytes.
std::map<QString, QByteArray> contents(const QString &folder)
{
    std::map<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files[name] = readFile(folder + '/' + name);
    return files;
}

class Publication : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString output() const { return dir.filePath("out"); }

    // The previous generation (with a foreign file beside it), or only the foreign file.
    std::map<QString, QByteArray> previous(bool withGeneration)
    {
        writeFile(output() + "/notes.txt", "foreign");
        if (withGeneration) {
            for (const QString &name : kNames)
                writeFile(output() + '/' + name + ".png", "old " + name.toUtf8());
            writeFile(output() + "/manifest.json", "{\"old\": true}");
        }
        return contents(output());
    }

    static void stageNew(const HeadlessFrameStage &stage)
    {
        for (const QString &name : kNames)
            writeFile(stage.directory() + '/' + name + ".png", "new " + name.toUtf8());
    }

    static Json manifest() { return Json{{"zeta", 1}, {"alpha", Json{{"b", true}, {"a", "x/y"}}}}; }
};

TEST_F(Publication, ReplacesTheGenerationWholeAndLeavesOtherFiles)
{
    const auto before = previous(true);
    HeadlessFrameStage stage(output());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(stage.directory()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(QFileInfo(stage.directory()).fileName().startsWith(".capture-stage-"));
    stageNew(stage);
    stage.publish(manifest(), kNames, kValid);

    const auto after = contents(output());
    EXPECT_EQ(after.at("notes.txt"), "foreign");
    for (const QString &name : kNames)
        EXPECT_EQ(after.at(name + ".png"), "new " + name.toUtf8());
    // Indented, keys sorted at every level, slashes as they are.
    EXPECT_EQ(after.at("manifest.json"),
              "{\n  \"alpha\": {\n    \"a\": \"x/y\",\n    \"b\": true\n  },\n  \"zeta\": 1\n}\n");
    EXPECT_EQ(after.size(), before.size());
    // The stage and its copies of the old generation stay until discarded; discarding twice is fine.
    EXPECT_TRUE(QFileInfo::exists(stage.directory() + "/rollback/manifest.json"));
    stage.discard();
    EXPECT_FALSE(QFileInfo::exists(stage.directory()));
    stage.discard();
}

TEST_F(Publication, CreatesAMissingOutputFolderWithItsParents)
{
    const QString deep = dir.filePath("a/b/c");
    HeadlessFrameStage stage(deep);
    EXPECT_TRUE(QFileInfo(deep).isDir());
    stage.discard();
    EXPECT_EQ(QDir(deep).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(Publication, RefusesAnUnvalidatedProofBeforeTouchingAnything)
{
    const auto before = previous(true);
    FailingFiles files;
    HeadlessFrameStage stage(output(), files);
    stageNew(stage);
    for (const OffscreenWindowProof &proof :
         {OffscreenWindowProof{0, 1, 0, false}, OffscreenWindowProof{2, 2, 1, false},
          OffscreenWindowProof{0, 0, 0, true}}) {
        files.calls = 0;
        try {
            stage.publish(manifest(), kNames, proof);
            ADD_FAILURE() << "published";
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), "Unvalidated capture cannot publish frames.");
        }
        EXPECT_EQ(files.calls, 0);
    }
    EXPECT_EQ(contents(output()), before);
}

// A failure of any one file operation, over a previous generation and over an empty folder: the
// output holds exactly what it held before, and the failure is reported as it happened.
TEST_F(Publication, AnyOneFailureLeavesThePreviousGenerationWhole)
{
    for (const bool withGeneration : {true, false}) {
        int total = 0;
        {
            QTemporaryDir probe;
            FailingFiles files;
            HeadlessFrameStage stage(probe.filePath("out"), files);
            stageNew(stage);
            files.calls = 0;
            stage.publish(manifest(), kNames, kValid);
            total = files.calls;
        }
        ASSERT_GT(total, 10);
        for (int k = 1; k <= total; ++k) {
            QTemporaryDir fresh;
            dir.swap(fresh);
            const auto before = previous(withGeneration);
            FailingFiles files;
            HeadlessFrameStage stage(output(), files);
            stageNew(stage);
            files.calls = 0;
            files.failAt = {k};
            try {
                stage.publish(manifest(), kNames, kValid);
                ADD_FAILURE() << "call " << k << " failed unnoticed";
            } catch (const HubError &error) {
                EXPECT_EQ(error.description(), FailingFiles::failure(k)) << "call " << k;
            }
            EXPECT_EQ(contents(output()), before)
                << "call " << k << (withGeneration ? " over" : " without") << " a previous generation";
            stage.discard();
        }
    }
}

// A second failure after the first: either the rollback completed and the previous generation is
// whole, or its saved manifest could not be put back (no manifest: no generation may be assumed),
// or the rollback itself failed and says so.
TEST_F(Publication, AFailedRollbackSaysSoAndNeverPassesForAGeneration)
{
    // The first failure: the temporary file of the second frame cannot be written, so the first
    // frame is already published and must be put back.
    int placing = 0;
    {
        previous(true);
        FailingFiles files;
        HeadlessFrameStage stage(output(), files);
        stageNew(stage);
        files.calls = 0;
        files.log.clear();
        stage.publish(manifest(), kNames, kValid);
        for (qsizetype i = 0; i < files.log.size() && !placing; ++i) {
            if (files.log[i].startsWith("writeNew " + output() + "/.02-"))
                placing = int(i) + 1;
        }
    }
    ASSERT_GT(placing, 0);
    int incomplete = 0;
    int manifestLost = 0;
    for (int m = 1; m <= 40; ++m) {
        QTemporaryDir fresh;
        dir.swap(fresh);
        const auto before = previous(true);
        FailingFiles files;
        HeadlessFrameStage stage(output(), files);
        stageNew(stage);
        files.calls = 0;
        files.failAt = {placing, placing + m};
        QString got;
        try {
            stage.publish(manifest(), kNames, kValid);
        } catch (const HubError &error) {
            got = error.description();
        }
        const auto after = contents(output());
        if (got == kIncomplete) {
            ++incomplete;
            EXPECT_LE(placing + m, files.calls) << m;
        } else if (got == FailingFiles::failure(placing + m)) {
            // Only putting the saved manifest back failed: the frames are the old ones, and no
            // manifest but the old one (renamed back before the folder could not be flushed) claims
            // them for a generation.
            ++manifestLost;
            if (after.count("manifest.json")) {
                EXPECT_EQ(after.at("manifest.json"), before.at("manifest.json")) << m;
            }
            for (const QString &name : kNames)
                EXPECT_EQ(after.at(name + ".png"), before.at(name + ".png")) << m;
        } else {
            EXPECT_EQ(got, FailingFiles::failure(placing)) << m;
            EXPECT_EQ(after, before) << m;
        }
        stage.discard();
    }
    EXPECT_GT(incomplete, 0);
    EXPECT_GT(manifestLost, 0);
}

TEST(DefaultOutput, IsAPrivateFolderOfOursAndNoLink)
{
    QTemporaryDir base;
    const QString frames = HeadlessFrameStage::defaultOutput(base.path(), "app");
    EXPECT_EQ(frames, base.filePath("tavrilo/app/frames"));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(frames).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A folder left open to others is closed again.
    ASSERT_EQ(::chmod(QFile::encodeName(frames).constData(), 0777), 0);
    HeadlessFrameStage::defaultOutput(base.path(), "app");
    ASSERT_EQ(::stat(QFile::encodeName(frames).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    const QString unsafe = "Unsafe shared workspace directory: " + base.filePath("tavrilo/other/frames");
    QDir().mkpath(base.filePath("elsewhere"));
    QDir().mkpath(base.filePath("tavrilo/other"));
    ASSERT_TRUE(QFile::link(base.filePath("elsewhere"), base.filePath("tavrilo/other/frames")));
    try {
        HeadlessFrameStage::defaultOutput(base.path(), "other");
        ADD_FAILURE() << "a link was taken for the folder";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), unsafe);
    }

    if (::getuid() != 0)
        GTEST_SKIP() << "a folder of another user can only be made as root";
    QDir().mkpath(base.filePath("tavrilo/third/frames"));
    ASSERT_EQ(::chown(QFile::encodeName(base.filePath("tavrilo/third/frames")).constData(), 65534, 65534), 0);
    EXPECT_THROW(HeadlessFrameStage::defaultOutput(base.path(), "third"), HubError);
}
} // namespace
