#include "ProjectFixture.h"

#include <QRegularExpression>

#include <atomic>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>

namespace
{
using Answer = NativeProjectHands::Answer;

const QString kBuilder = QStringLiteral("tavrilo_builder");

void expectError(const Answer &answer, const char *sentence)
{
    EXPECT_EQ(answer.status, QStringLiteral("error"));
    EXPECT_EQ(answer.result, QString::fromUtf8(sentence));
    EXPECT_TRUE(answer.changed.isEmpty());
}

// The dispatcher's admission, in the order it checks.
struct AdmissionCase
{
    const char *name;
    std::function<QByteArray()> payload;
    QString agent;
    const char *sentence;
};

class Admission : public ProjectFixture, public ::testing::WithParamInterface<AdmissionCase>
{
};

TEST_P(Admission, RefusesWithItsSentence)
{
    expectError(run(GetParam().payload(), GetParam().agent), GetParam().sentence);
}

QByteArray dumped(Json value)
{
    return json::dump(value);
}

Json verify(const char *toolUseID, Json input = Json::object())
{
    Json payload = ProjectFixture::call("project_verify_build", std::move(input));
    payload["toolUseId"] = toolUseID;
    return payload;
}

const QString kOperator = QStringLiteral("tavrilo_operator");
const char *const kExpired = "Project call expired or malformed.";
const char *const kVerifyOnly = "Only an authenticated system verification request is permitted.";
const char *const kWriteRights = "Write requires an authorized specialist and at least five seconds remaining.";
const QString kHex32 = QStringLiteral("0123456789abcdef0123456789abcdef");

INSTANTIATE_TEST_SUITE_P(
    Calls, Admission,
    ::testing::Values(
        AdmissionCase{"notJson", [] { return QByteArray("{tool"); }, kBuilder,
                      "The data couldn't be read because it isn't in the correct format."},
        AdmissionCase{"scalar", [] { return QByteArray("5"); }, kBuilder,
                      "The data couldn't be read because it isn't in the correct format."},
        AdmissionCase{"array", [] { return QByteArray("[]"); }, kBuilder, "Malformed project call."},
        AdmissionCase{"noTool",
                      [] {
                          return dumped({{"input", Json::object()}, {"deadline", ProjectFixture::nowMs() + 60000}});
                      },
                      kBuilder, kExpired},
        AdmissionCase{"inputNotObject",
                      [] {
                          return dumped({{"tool", "project_read_file"}, {"input", "x"}, {"deadline", 1e15}});
                      },
                      kBuilder, kExpired},
        AdmissionCase{"deadlineText",
                      [] {
                          return dumped({{"tool", "project_read_file"}, {"input", Json::object()}, {"deadline", "9"}});
                      },
                      kBuilder, kExpired},
        AdmissionCase{"deadlinePassed", [] { return dumped(ProjectFixture::call("project_read_file", {}, -1)); },
                      kBuilder, kExpired},
        AdmissionCase{"verifyFromBuilder", [] { return dumped(verify("pv-0123456789abcdef0123456789abcdef")); },
                      kBuilder, kVerifyOnly},
        AdmissionCase{"verifyWithInput",
                      [] {
                          return dumped(verify("pv-0123456789abcdef0123456789abcdef", {{"path", "."}}));
                      },
                      kOperator, kVerifyOnly},
        AdmissionCase{"verifyUpperHex", [] { return dumped(verify("pv-0123456789ABCDEF0123456789ABCDEF")); }, kOperator,
                      kVerifyOnly},
        AdmissionCase{"verify31", [] { return dumped(verify("pv-0123456789abcdef0123456789abcde")); }, kOperator,
                      kVerifyOnly},
        AdmissionCase{"verify33", [] { return dumped(verify("pv-0123456789abcdef0123456789abcdef0")); }, kOperator,
                      kVerifyOnly},
        AdmissionCase{"writeFromReviewer",
                      [] {
                          return dumped(ProjectFixture::call("project_write_file", {{"path", "a"}, {"content", ""}}));
                      },
                      QStringLiteral("tavrilo_reviewer"), kWriteRights},
        AdmissionCase{"writeAgentCase",
                      [] {
                          return dumped(ProjectFixture::call("project_write_file", {{"path", "a"}, {"content", ""}}));
                      },
                      QStringLiteral("Tavrilo_Builder"), kWriteRights},
        AdmissionCase{"editWithFiveSecondsLeft",
                      [] {
                          return dumped(ProjectFixture::call("project_edit_file", {{"path", "a"}}, 5000));
                      },
                      kBuilder, kWriteRights},
        AdmissionCase{"path4097",
                      [] {
                          return dumped(ProjectFixture::call("project_read_file", {{"path", std::string(4097, 'a')}}));
                      },
                      kBuilder, "Project paths exceed the safe local-tool limit."},
        AdmissionCase{"pathNul",
                      [] {
                          return dumped(ProjectFixture::call("project_read_file", {{"path", std::string("a\0b", 3)}}));
                      },
                      kBuilder, "Project paths exceed the safe local-tool limit."},
        AdmissionCase{"path4096PassesToTheGuard",
                      [] {
                          return dumped(ProjectFixture::call("project_read_file", {{"path", std::string(4096, 'a')}}));
                      },
                      kBuilder, "Cannot safely open the project file."},
        AdmissionCase{"unknownToolBadPath",
                      [] {
                          return dumped(ProjectFixture::call("project_delete", {{"path", "../x"}}));
                      },
                      kBuilder, "Project path is outside the permitted boundary or contains credentials."},
        AdmissionCase{"unknownTool",
                      [] {
                          return dumped(ProjectFixture::call("project_delete", {{"path", "x"}}));
                      },
                      kBuilder, "Unknown project tool."},
        AdmissionCase{"emptyToolName", [] { return dumped(ProjectFixture::call("", Json::object())); }, kBuilder,
                      "Unknown project tool."},
        AdmissionCase{"searchWithoutPattern",
                      [] {
                          return dumped(ProjectFixture::call("project_search", {{"pattern", ""}}));
                      },
                      kBuilder, "Search requires pattern text."},
        AdmissionCase{
            "previewPathListedAsAName",
            [] {
                return dumped(ProjectFixture::call("project_list_directory", {{"path", "__tavrilo_preview_vision__"}}));
            },
            kBuilder, "Cannot list project directory."},
        AdmissionCase{
            "previewPathWrittenAsAName",
            [] {
                return dumped(ProjectFixture::call("project_edit_file", {{"path", "__tavrilo_preview_vision__"}}));
            },
            kBuilder, "Edit requires an existing file, old_text and new_text."},
        AdmissionCase{"writeWithoutPath",
                      [] {
                          return dumped(ProjectFixture::call("project_write_file", {{"content", "x"}}));
                      },
                      kBuilder, "Cannot write the project directory."},
        AdmissionCase{"readWithoutPath", [] { return dumped(ProjectFixture::call("project_read_file", {})); }, kBuilder,
                      "File exceeds the 2 MiB limit or is not regular."}),
    [](const auto &info) { return std::string(info.param.name); });

class Tools : public ProjectFixture
{
protected:
    Answer read(const QString &path, Json extra = Json::object())
    {
        extra["path"] = path.toStdString();
        return run(call("project_read_file", extra));
    }
    Answer list(const QString &path, Json extra = Json::object())
    {
        extra["path"] = path.toStdString();
        return run(call("project_list_directory", extra));
    }
    Answer writeFile(const QString &path, const std::string &content, bool append = false)
    {
        return run(
            call("project_write_file", {{"path", path.toStdString()}, {"content", content}, {"append", append}}));
    }
    Answer edit(const QString &path, const std::string &oldText, const std::string &newText, bool all = false)
    {
        return run(
            call("project_edit_file",
                 {{"path", path.toStdString()}, {"old_text", oldText}, {"new_text", newText}, {"replace_all", all}}));
    }
};

TEST_F(Tools, ReadNumbersLinesWithinOffsetAndLimit)
{
    write(QStringLiteral("t.txt"), "a\nb\n");
    EXPECT_EQ(read(QStringLiteral("t.txt")).result, QStringLiteral("1: a\n2: b\n3: "));
    EXPECT_EQ(read(QStringLiteral("t.txt"), {{"offset", 3}, {"limit", 1}}).result, QStringLiteral("3: "));
    EXPECT_EQ(read(QStringLiteral("t.txt"), {{"offset", 10}}).result, QString());
    EXPECT_EQ(read(QStringLiteral("t.txt"), {{"offset", -4}, {"limit", 0}}).result, QStringLiteral("1: a"));
    // A key of another type counts as absent.
    EXPECT_EQ(read(QStringLiteral("t.txt"), {{"offset", "2"}, {"limit", 1.5}}).result,
              QStringLiteral("1: a\n2: b\n3: "));
    write(QStringLiteral("empty.txt"), "");
    const Answer empty = read(QStringLiteral("empty.txt"));
    EXPECT_EQ(empty.status, QStringLiteral("success"));
    EXPECT_EQ(empty.result, QStringLiteral("1: "));
}

TEST_F(Tools, ReadCutsLongLinesToCharactersAndTheAnswerToBytes)
{
    // 2500 flags of two code points each: the cut counts what the user sees.
    QString flags;
    for (int i = 0; i < 2500; ++i)
        flags += QStringLiteral("\U0001F1EB\U0001F1F7");
    write(QStringLiteral("flags.txt"), flags.toUtf8());
    const Answer answer = read(QStringLiteral("flags.txt"));
    EXPECT_EQ(answer.result, QStringLiteral("1: ") + flags.left(4000 * 2));

    // 70,000 bytes of lines: the answer keeps its first 65,000 bytes; a character cut there becomes
    // U+FFFD.
    QByteArray lines;
    while (lines.size() < 70000)
        lines += QByteArray(97, 'x') + "\xc3\xa9\n";
    write(QStringLiteral("big.txt"), lines);
    const QByteArray answered = read(QStringLiteral("big.txt")).result.toUtf8();
    EXPECT_LE(answered.size(), 65002);
    EXPECT_GE(answered.size(), 64998);
}

TEST_F(Tools, ReadRefusesWhatIsNotSmallUtf8Text)
{
    write(QStringLiteral("cap.txt"), QByteArray(2097152, 'a'));
    write(QStringLiteral("over.txt"), QByteArray(2097153, 'a'));
    write(QStringLiteral("nul.txt"), QByteArray("a\0b", 3));
    write(QStringLiteral("latin1.txt"), "caf\xe9");
    write(QStringLiteral("surrogate.txt"), "\xed\xa0\x80");
    write(QStringLiteral("bom.txt"), "\xef\xbb\xbfhi");
    ASSERT_EQ(::mkfifo(at(QStringLiteral("fifo")).toUtf8().constData(), 0600), 0);

    EXPECT_EQ(read(QStringLiteral("cap.txt")).status, QStringLiteral("success"));
    expectError(read(QStringLiteral("over.txt")), "File exceeds the 2 MiB limit or is not regular.");
    expectError(read(QStringLiteral("nul.txt")), "File is oversized or is not UTF-8 text.");
    expectError(read(QStringLiteral("latin1.txt")), "File is oversized or is not UTF-8 text.");
    expectError(read(QStringLiteral("surrogate.txt")), "File is oversized or is not UTF-8 text.");
    // Opening a named pipe does not wait for a writer.
    expectError(read(QStringLiteral("fifo")), "File exceeds the 2 MiB limit or is not regular.");
    expectError(read(QStringLiteral("missing.txt")), "Cannot safely open the project file.");
    EXPECT_EQ(read(QStringLiteral("bom.txt")).result, QStringLiteral("1: \uFEFFhi"));
}

TEST_F(Tools, ListSortsVisibleEntriesToTheDepthAskedFor)
{
    write(QStringLiteral("b.txt"), "");
    write(QStringLiteral("A.txt"), "");
    write(QStringLiteral("src/main.c"), "");
    write(QStringLiteral("src/deep/er/est/x.c"), "");
    write(QStringLiteral(".hidden/y"), "");
    write(QStringLiteral(".tavrilo/verification/evidence"), "");
    write(QStringLiteral("keys/id_rsa"), "");
    write(QStringLiteral("keys/readme"), "");
    testsupport::writeFile(outside() + QStringLiteral("/secret"), "");
    link(QStringLiteral("away"), outside());
    link(QStringLiteral("alias"), QStringLiteral("src"));

    EXPECT_EQ(list(QStringLiteral(".")).result, QStringLiteral("A.txt\nalias\nb.txt\nkeys\nsrc"));
    EXPECT_EQ(list(QStringLiteral("."), {{"depth", 2}}).result,
              QStringLiteral("A.txt\nalias\nb.txt\nkeys\nkeys/readme\nsrc\nsrc/deep\nsrc/main.c"));
    EXPECT_EQ(list(QStringLiteral("src"), {{"depth", 99}}).result,
              QStringLiteral("src/deep\nsrc/deep/er\nsrc/deep/er/est\nsrc/deep/er/est/x.c\nsrc/main.c"));
    EXPECT_EQ(list(QStringLiteral(".tavrilo/verification")).result, QStringLiteral(".tavrilo/verification/evidence"));
    EXPECT_EQ(list(QStringLiteral("alias")).result, QStringLiteral("src/deep\nsrc/main.c"));
    expectError(list(QStringLiteral("away")), "Project symlink leaves the selected directory.");
    expectError(list(QStringLiteral("b.txt")), "Cannot list project directory.");
    write(QStringLiteral("empty/.keep"), "");
    EXPECT_EQ(list(QStringLiteral("empty")).result, QString());
}

TEST_F(Tools, ListStopsAtItsEntryLimitWithAMarker)
{
    QDir(root()).mkpath(QStringLiteral("many"));
    for (int i = 0; i < 1500; ++i)
        write(QStringLiteral("many/f%1").arg(i, 4, 10, QLatin1Char('0')), "");
    const QStringList lines = list(QStringLiteral("many")).result.split(u'\n');
    EXPECT_EQ(lines.size(), 1001);
    EXPECT_TRUE(lines.contains(QStringLiteral("[1000-entry limit]")));
}

TEST_F(Tools, WriteCreatesReportsAndKeepsTheFirstBaseline)
{
    const Answer created = writeFile(QStringLiteral("a/b/new.txt"), "héllo");
    EXPECT_EQ(created.status, QStringLiteral("success"));
    EXPECT_EQ(created.result, QStringLiteral("Updated a/b/new.txt (6 bytes)."));
    EXPECT_EQ(created.changed, QStringList{QStringLiteral("a/b/new.txt")});
    EXPECT_EQ(contents(QStringLiteral("a/b/new.txt")), "héllo");

    const Answer same = writeFile(QStringLiteral("a//b/new.txt"), "héllo");
    EXPECT_EQ(same.result, QStringLiteral("Unchanged a//b/new.txt"));
    EXPECT_TRUE(same.changed.isEmpty());

    EXPECT_EQ(writeFile(QStringLiteral("a/./b/new.txt"), "!", true).changed,
              QStringList{QStringLiteral("a/./b/new.txt")});
    EXPECT_EQ(contents(QStringLiteral("a/b/new.txt")), "héllo!");
    EXPECT_EQ(writeFile(QStringLiteral("appended.txt"), "first", true).result,
              QStringLiteral("Updated appended.txt (5 bytes)."));
    EXPECT_EQ(writeFile(QStringLiteral("empty.txt"), "").result, QStringLiteral("Updated empty.txt (0 bytes)."));

    const ProjectOriginals originals = testsupport::awaitFor(hands().originals());
    ASSERT_TRUE(originals.contains(QStringLiteral("a/b/new.txt")));
    EXPECT_FALSE(originals[QStringLiteral("a/b/new.txt")].exists);
    EXPECT_EQ(originals[QStringLiteral("a/b/new.txt")].text, QString());
    EXPECT_EQ(originals[QStringLiteral("a/b/new.txt")].permissions, 0644);
    EXPECT_EQ(originals.size(), 3);

    testsupport::awaitFor(hands().beginTurn());
    EXPECT_TRUE(testsupport::awaitFor(hands().originals()).isEmpty());
}

TEST_F(Tools, WriteReplacesAtomicallyAndKeepsTheMode)
{
    write(QStringLiteral("run.sh"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(at(QStringLiteral("run.sh")).toUtf8().constData(), 0750), 0);
    EXPECT_EQ(writeFile(QStringLiteral("run.sh"), "#!/bin/sh\necho hi\n").status, QStringLiteral("success"));
    struct stat st;
    ASSERT_EQ(::stat(at(QStringLiteral("run.sh")).toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(QDir(root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("run.sh")});

    const ProjectOriginals originals = testsupport::awaitFor(hands().originals());
    EXPECT_TRUE(originals[QStringLiteral("run.sh")].exists);
    EXPECT_EQ(originals[QStringLiteral("run.sh")].text, QStringLiteral("#!/bin/sh\n"));
    EXPECT_EQ(originals[QStringLiteral("run.sh")].permissions, 0750);

    // The second change of the turn keeps the first baseline.
    writeFile(QStringLiteral("run.sh"), "changed again\n");
    EXPECT_EQ(testsupport::awaitFor(hands().originals())[QStringLiteral("run.sh")].text, QStringLiteral("#!/bin/sh\n"));
}

TEST_F(Tools, WriteRefusals)
{
    write(QStringLiteral("huge.txt"), QByteArray(2097152, 'a'));
    expectError(writeFile(QStringLiteral("huge.txt"), "b", true), "Write exceeds 2 MiB.");
    EXPECT_EQ(writeFile(QStringLiteral("cap.txt"), std::string(2097152, 'c')).status, QStringLiteral("success"));
    expectError(run(call("project_write_file", {{"path", "x.txt"}, {"content", 5}})), "Write requires content text.");
    expectError(writeFile(QStringLiteral(".tavrilo/notes"), "x"),
                "Project path is outside the permitted boundary or contains credentials.");
    write(QStringLiteral("latin1.txt"), "caf\xe9");
    expectError(writeFile(QStringLiteral("latin1.txt"), "x"), "File is oversized or is not UTF-8 text.");
    EXPECT_EQ(contents(QStringLiteral("latin1.txt")), "caf\xe9");
}

TEST_F(Tools, ALeadingZeroWidthNoBreakSpaceIsKeptInEveryString)
{
    // U+FEFF is a format character: a path that begins with it names no file of the project, and
    // text that begins with it is written and found as it was sent.
    const std::string mark = "\xef\xbb\xbf";
    write(QStringLiteral("plain.txt"), "plain\n");
    expectError(read(QChar(0xFEFF) + QStringLiteral("plain.txt")),
                "Project path is outside the permitted boundary or contains credentials.");
    EXPECT_EQ(writeFile(QStringLiteral("marked.txt"), mark + "text").status, QStringLiteral("success"));
    EXPECT_EQ(contents(QStringLiteral("marked.txt")), QByteArray::fromStdString(mark + "text"));
    EXPECT_EQ(edit(QStringLiteral("marked.txt"), mark + "te", "TE").status, QStringLiteral("success"));
    EXPECT_EQ(contents(QStringLiteral("marked.txt")), "TExt");
    write(QStringLiteral("found.txt"), QByteArray::fromStdString("needle\na" + mark + "needle\n"));
    const Json input = {{"path", "."}, {"pattern", mark + "needle"}};
    EXPECT_EQ(run(call("project_search", input)).result, QStringLiteral("found.txt:2:a\uFEFFneedle"));
}

TEST_F(Tools, EditIsMeasuredBeforeItsTextIsBuilt)
{
    // Doubling every character of 1 MiB lands exactly on the cap; one more character passes it.
    write(QStringLiteral("half.txt"), QByteArray(1048576, 'a'));
    EXPECT_EQ(edit(QStringLiteral("half.txt"), "a", "aa", true).result,
              QStringLiteral("Updated half.txt (2097152 bytes)."));
    write(QStringLiteral("over.txt"), QByteArray(1048577, 'a'));
    expectError(edit(QStringLiteral("over.txt"), "a", "aa", true), "Write exceeds 2 MiB.");
    EXPECT_EQ(contents(QStringLiteral("over.txt")).size(), 1048577);

    // Every character of a full file replaced by 512: the result would be 1 GiB of text, refused
    // without being built.
    write(QStringLiteral("full.txt"), QByteArray(2097152, 'a'));
    struct rusage before = {}, after = {};
    ::getrusage(RUSAGE_SELF, &before);
    expectError(edit(QStringLiteral("full.txt"), "a", std::string(512, 'b'), true), "Write exceeds 2 MiB.");
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "peak grew by kB";
}

TEST_F(Tools, EditReplacesOneOccurrenceOrAllWhenAsked)
{
    write(QStringLiteral("e.txt"), "one two one");
    expectError(edit(QStringLiteral("e.txt"), "one", "1"), "Edit text was absent or ambiguous.");
    expectError(edit(QStringLiteral("e.txt"), "three", "3"), "Edit text was absent or ambiguous.");
    expectError(edit(QStringLiteral("e.txt"), "", "3"), "Edit requires an existing file, old_text and new_text.");
    expectError(edit(QStringLiteral("none.txt"), "a", "b"), "Edit requires an existing file, old_text and new_text.");
    EXPECT_EQ(edit(QStringLiteral("e.txt"), "two", "2").result, QStringLiteral("Updated e.txt (9 bytes)."));
    EXPECT_EQ(contents(QStringLiteral("e.txt")), "one 2 one");
    EXPECT_EQ(edit(QStringLiteral("e.txt"), "one", "1", true).status, QStringLiteral("success"));
    EXPECT_EQ(contents(QStringLiteral("e.txt")), "1 2 1");
    // Occurrences do not overlap.
    write(QStringLiteral("aaa.txt"), "aaa");
    EXPECT_EQ(edit(QStringLiteral("aaa.txt"), "aa", "b").status, QStringLiteral("success"));
    EXPECT_EQ(contents(QStringLiteral("aaa.txt")), "ba");
}

// While a write runs, another process swaps the folder it writes into for a link that leads out
// of the project and back. Nothing may ever land outside.
TEST_F(Tools, ASwappedFolderNeverLeadsAWriteOutside)
{
    QDir(root()).mkpath(QStringLiteral("dir"));
    const QByteArray folder = at(QStringLiteral("dir")).toUtf8();
    const QByteArray parked = at(QStringLiteral("parked")).toUtf8();
    const QByteArray linkTarget = outside().toUtf8();
    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        while (!stop) {
            // dir -> parked, link dir -> outside, then back.
            if (::rename(folder.constData(), parked.constData()) == 0) {
                ::symlink(linkTarget.constData(), folder.constData());
                ::unlink(folder.constData());
                ::rename(parked.constData(), folder.constData());
            }
        }
    });
    int written = 0;
    for (int i = 0; i < 300; ++i) {
        const Answer answer = writeFile(QStringLiteral("dir/file%1.txt").arg(i), "data");
        if (answer.status == QStringLiteral("success"))
            ++written;
    }
    stop = true;
    swapper.join();
    EXPECT_TRUE(QDir(outside()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_GT(written, 0);
}
} // namespace
