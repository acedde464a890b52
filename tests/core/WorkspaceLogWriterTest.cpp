// Journal writing: folder set-up, opening rules, record formats, batch writing and rotation.
#include "WorkspaceLogTestSupport.h"

#include "core/JournalLimits.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace journaltest;

namespace
{
using WriterTest = JournalFixture;

constexpr uid_t kOtherUser = 65534;

mode_t modeOf(const QString &path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

QByteArray fill(qint64 size)
{
    // Whole lines of filler ending with a line feed, `size` bytes in all.
    QByteArray out(size, 'z');
    for (qint64 i = 999; i < size; i += 1000)
        out[i] = '\n';
    out[size - 1] = '\n';
    return out;
}

// ---- Folder and files -------------------------------------------------------------------------

TEST_F(WriterTest, SetsUpBothFoldersOwnerOnly)
{
    const JournalFolder f = folder();
    EXPECT_EQ(f.directory(), directory);
    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_EQ(modeOf(tmpBase() + QStringLiteral("/tavrilo")), 0700u);
}

TEST_F(WriterTest, WiderFolderPermissionsAreSetBackTo0700)
{
    folder();
    ASSERT_EQ(::chmod(QFile::encodeName(directory).constData(), 0755), 0);
    folder();
    EXPECT_EQ(modeOf(directory), 0700u);
}

TEST_F(WriterTest, FolderThatIsASymbolicLinkIsRefused)
{
    QTemporaryDir target;
    QDir().mkpath(tmpBase() + QStringLiteral("/tavrilo"));
    ASSERT_TRUE(QFile::link(target.path(), directory));
    EXPECT_EQ(sentenceOf([&] { folder(); }), QStringLiteral("Unsafe shared workspace directory: ") + directory);
    QFile::remove(directory);
}

TEST_F(WriterTest, FolderOfAnotherUserIsRefused)
{
    folder();
    ASSERT_EQ(::chown(QFile::encodeName(directory).constData(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(sentenceOf([&] { folder(); }), QStringLiteral("Unsafe shared workspace directory: ") + directory);
}

TEST_F(WriterTest, PlainFileInPlaceOfTheFolderFailsItsCreation)
{
    QDir().mkpath(tmpBase() + QStringLiteral("/tavrilo"));
    testsupport::writeFile(directory, "not a folder");
    const QString sentence = sentenceOf([&] { folder(); });
    EXPECT_NE(sentence, QStringLiteral("no error"));
    EXPECT_FALSE(sentence.startsWith(QStringLiteral("Unsafe shared workspace directory")));
    EXPECT_TRUE(sentence.contains(QStringLiteral("File exists"))) << sentence.toStdString();
    QFile::remove(directory);
}

// The shared "tavrilo" level is checked the same way; shown under a private base so the real one,
// which other tests use at the same time, is never touched.
TEST(JournalFolderLevels, TavriloLevelThatIsASymbolicLinkIsRefused)
{
    QTemporaryDir base, target;
    ASSERT_TRUE(QFile::link(target.path(), base.path() + QStringLiteral("/tavrilo")));
    EXPECT_EQ(sentenceOf([&] { JournalFolder::setUp(base.path(), QStringLiteral("app")); }),
              QStringLiteral("Unsafe shared workspace directory: ") + base.path() + QStringLiteral("/tavrilo"));
}

TEST(JournalFolderLevels, TavriloLevelOfAnotherUserIsRefused)
{
    QTemporaryDir base;
    const QString tavrilo = base.path() + QStringLiteral("/tavrilo");
    ASSERT_TRUE(QDir().mkpath(tavrilo));
    ASSERT_EQ(::chown(QFile::encodeName(tavrilo).constData(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(sentenceOf([&] { JournalFolder::setUp(base.path(), QStringLiteral("app")); }),
              QStringLiteral("Unsafe shared workspace directory: ") + tavrilo);
}

// The configuration allows letters, digits, "_" and "-" only; an id that could name another folder
// is refused at set-up as well. A NUL would cut the id where the system reads the path.
struct ApplicationIdCase
{
    const char *name;
    QString id;
};

class ApplicationId : public ::testing::TestWithParam<ApplicationIdCase>
{
};

TEST_P(ApplicationId, NotAFolderNameIsRefused)
{
    QTemporaryDir base;
    const QString tavrilo = base.path() + QStringLiteral("/tavrilo");
    EXPECT_EQ(sentenceOf([&] { JournalFolder::setUp(base.path(), GetParam().id); }),
              QStringLiteral("Unsafe shared workspace directory: ") + tavrilo + u'/' + GetParam().id);
    EXPECT_TRUE(QDir(tavrilo).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Table, ApplicationId,
                         ::testing::Values(ApplicationIdCase{"Empty", QString()},
                                           ApplicationIdCase{"Dot", QStringLiteral(".")},
                                           ApplicationIdCase{"DotDot", QStringLiteral("..")},
                                           ApplicationIdCase{"Slash", QStringLiteral("app/x")},
                                           ApplicationIdCase{"Nul", QStringLiteral("app") + QChar(0) + u'x'}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(JournalFolderLevels, CreatesMissingLevelsUnderAPrivateBase)
{
    QTemporaryDir base;
    const JournalFolder f = JournalFolder::setUp(base.path(), QStringLiteral("app"));
    EXPECT_EQ(f.directory(), base.path() + QStringLiteral("/tavrilo/app"));
    EXPECT_EQ(modeOf(f.directory()), 0700u);
}

struct FileCase
{
    const char *name;
    const char *file; // "events.jsonl" or "events.lock"
    bool link;        // a symbolic link to a file, else a file of another user
    const char *want;
};

class UnsafeFile : public JournalFixture, public ::testing::WithParamInterface<FileCase>
{
};

TEST_P(UnsafeFile, IsRefusedAndNothingIsWritten)
{
    const auto &c = GetParam();
    const JournalWriter w = writer();
    const QString path = directory + QLatin1Char('/') + QLatin1String(c.file);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.path() + QStringLiteral("/target");
    testsupport::writeFile(target, "");
    if (c.link) {
        ASSERT_TRUE(QFile::link(target, path));
    } else {
        testsupport::writeFile(path, "");
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser), 0);
    }
    EXPECT_EQ(sentenceOf([&] { w.append(QStringLiteral("x"), {}); }), QLatin1String(c.want));
    EXPECT_EQ(sentenceOf([&] { reader().readDeltas(); }), QLatin1String(c.want));
    EXPECT_TRUE(testsupport::readFile(target).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnsafeFile,
    ::testing::Values(FileCase{"JournalLink", "events.jsonl", true, "Cannot open workspace event log."},
                      FileCase{"JournalOfAnotherUser", "events.jsonl", false, "Unsafe event log owner or type."},
                      FileCase{"LockLink", "events.lock", true, "Cannot open event lock."},
                      FileCase{"LockOfAnotherUser", "events.lock", false, "Unsafe event lock."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WriterTest, JournalThatIsNotARegularFileIsRefused)
{
    const JournalWriter w = writer();
    ASSERT_EQ(::mkfifo(QFile::encodeName(journal()).constData(), 0600), 0);
    EXPECT_EQ(sentenceOf([&] { w.append(QStringLiteral("x"), {}); }),
              QStringLiteral("Unsafe event log owner or type."));
}

TEST_F(WriterTest, JournalModeIsSetTo0600AndTheLockModeIsLeft)
{
    const JournalWriter w = writer();
    testsupport::writeFile(journal(), "");
    testsupport::writeFile(directory + QStringLiteral("/events.lock"), "");
    ::chmod(QFile::encodeName(journal()).constData(), 0644);
    ::chmod(QFile::encodeName(directory + QStringLiteral("/events.lock")).constData(), 0640);
    w.append(QStringLiteral("x"), {});
    EXPECT_EQ(modeOf(journal()), 0600u);
    EXPECT_EQ(modeOf(directory + QStringLiteral("/events.lock")), 0640u);
}

TEST_F(WriterTest, NewFilesAre0600)
{
    writer().append(QStringLiteral("x"), {});
    EXPECT_EQ(modeOf(journal()), 0600u);
    EXPECT_EQ(modeOf(directory + QStringLiteral("/events.lock")), 0600u);
}

// ---- Records ------------------------------------------------------------------------------------

TEST_F(WriterTest, AppendRecordsTheHubsOwnEvent)
{
    writer().append(QStringLiteral("workspace.connected"), {{QStringLiteral("k"), QStringLiteral("v")}});
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), 1);
    const WorkspaceEvent e = decoded(all[0]);
    EXPECT_EQ(e.kind, QStringLiteral("workspace.connected"));
    EXPECT_EQ(e.appID, appID);
    EXPECT_EQ(e.tenantID, kTenant);
    EXPECT_EQ(e.payload, (EventPayload{{QStringLiteral("k"), QStringLiteral("v")}}));
    static const QRegularExpression uuid(
        QStringLiteral("\\A[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\z"));
    EXPECT_TRUE(uuid.match(e.id).hasMatch()) << e.id.toStdString();
    static const QRegularExpression stamp(QStringLiteral("\\A\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\\z"));
    EXPECT_TRUE(stamp.match(e.timestamp).hasMatch()) << e.timestamp.toStdString();
}

struct EventSizeCase
{
    const char *name;
    qsizetype size;
    qsizetype records;            // 0: fails
    QList<qsizetype> firstPieces; // lengths of the first pieces' "data"
    qsizetype lastPiece;
};

class EventSize : public JournalFixture, public ::testing::WithParamInterface<EventSizeCase>
{
};

TEST_P(EventSize, OneLineOrChunkRecords)
{
    const auto &c = GetParam();
    const WorkspaceEvent e = eventOfSize(c.size);
    ASSERT_EQ(e.encode().size(), c.size);
    const JournalWriter w = writer();
    if (c.records == 0) {
        EXPECT_EQ(sentenceOf([&] { w.appendEvent(e); }), QStringLiteral("Workspace frame exceeds 16 MiB."));
        EXPECT_TRUE(lines(journal()).isEmpty());
        return;
    }
    w.appendEvent(e);
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), c.records);
    if (c.records == 1) {
        EXPECT_EQ(all[0], e.encode());
        return;
    }
    QByteArray base64;
    QString setID;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const WorkspaceEvent piece = decoded(all[i]);
        EXPECT_EQ(piece.kind, QStringLiteral("frame.chunk"));
        EXPECT_EQ(piece.encode(), all[i]); // the writer's own bytes are the record's encoding
        EXPECT_EQ(piece.timestamp, e.timestamp);
        EXPECT_EQ(piece.appID, e.appID);
        EXPECT_EQ(piece.tenantID, e.tenantID);
        EXPECT_NE(piece.id, e.id);
        EXPECT_EQ(piece.payload.value(QStringLiteral("index")), QString::number(i));
        EXPECT_EQ(piece.payload.value(QStringLiteral("count")), QString::number(c.records));
        if (i == 0)
            setID = piece.payload.value(QStringLiteral("frame_id"));
        EXPECT_EQ(piece.payload.value(QStringLiteral("frame_id")), setID);
        const QString data = piece.payload.value(QStringLiteral("data"));
        if (i < c.firstPieces.size()) {
            EXPECT_EQ(data.size(), c.firstPieces[i]);
        }
        if (i == all.size() - 1) {
            EXPECT_EQ(data.size(), c.lastPiece);
        }
        base64 += data.toLatin1();
    }
    EXPECT_EQ(QByteArray::fromBase64(base64), e.encode());
}

INSTANTIATE_TEST_SUITE_P(Table, EventSize,
                         ::testing::Values(EventSizeCase{"OneShortOfThreshold", 15359, 1, {}, 0},
                                           EventSizeCase{"AtThreshold", 15360, 3, {10000, 10000}, 480},
                                           EventSizeCase{"Largest", 16777216, 2237, {10000}, 22369624 - 2236 * 10000},
                                           EventSizeCase{"OneOverLargest", 16777217, 0, {}, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

struct FrameSizeCase
{
    const char *name;
    qsizetype size;
    qsizetype records; // 0: fails; 1: one "session.frame"
    qsizetype lastSlice;
};

class FrameSize : public JournalFixture, public ::testing::WithParamInterface<FrameSizeCase>
{
};

TEST_P(FrameSize, OneRecordOrSlices)
{
    const auto &c = GetParam();
    const QByteArray frame = frameOfSize(c.size);
    ASSERT_EQ(frame.size(), c.size);
    const JournalWriter w = writer();
    if (c.records == 0) {
        EXPECT_EQ(sentenceOf([&] { w.appendFrame(frame); }),
                  QStringLiteral("Frame exceeds journal reassembly capacity."));
        EXPECT_TRUE(lines(journal()).isEmpty());
        return;
    }
    w.appendFrame(frame);
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), c.records);
    if (c.records == 1) {
        const WorkspaceEvent e = decoded(all[0]);
        EXPECT_EQ(e.kind, QStringLiteral("session.frame"));
        EXPECT_EQ(e.payload.value(QStringLiteral("frame")).toUtf8(), frame);
        return;
    }
    QByteArray joined;
    QString stamp;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const WorkspaceEvent piece = decoded(all[i]);
        EXPECT_EQ(piece.kind, QStringLiteral("session.frame.chunk"));
        EXPECT_EQ(piece.encode(), all[i]);
        EXPECT_EQ(piece.payload.value(QStringLiteral("index")), QString::number(i));
        EXPECT_EQ(piece.payload.value(QStringLiteral("total")), QString::number(c.records));
        if (i == 0)
            stamp = piece.timestamp;
        EXPECT_EQ(piece.timestamp, stamp);
        const QByteArray slice = QByteArray::fromBase64(piece.payload.value(QStringLiteral("data")).toLatin1());
        EXPECT_EQ(slice.size(), i == all.size() - 1 ? c.lastSlice : 7000);
        joined += slice;
    }
    EXPECT_EQ(joined, frame);
}

INSTANTIATE_TEST_SUITE_P(Table, FrameSize,
                         ::testing::Values(FrameSizeCase{"AtLimit", 7000, 1, 0}, FrameSizeCase{"OneOver", 7001, 2, 1},
                                           FrameSizeCase{"Largest", 16777216, 2397, 5216},
                                           FrameSizeCase{"OneOverLargest", 16777217, 0, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

// A frame of at most 7000 bytes whose escaping takes its "session.frame" line
// past 16384 bytes is stored as slices instead of failing on every attempt.
TEST_F(WriterTest, SmallFrameWhoseEscapedLineIsTooLongIsSliced)
{
    QByteArray frame = frameOfSize(7000);
    const qsizetype start = frame.indexOf("yyy");
    for (qsizetype i = start; i < start + 3000; ++i)
        frame[i] = '\x01'; // "\u0001" in JSON: 6 bytes each
    ASSERT_EQ(frame.size(), 7000);
    const QByteArray single = WorkspaceEvent{WorkspaceEvent::newID(),
                                             WorkspaceEvent::now(),
                                             appID,
                                             kTenant,
                                             QStringLiteral("session.frame"),
                                             {{QStringLiteral("frame"), QString::fromUtf8(frame)}}}
                                  .encode();
    ASSERT_GT(single.size() + 1, journal::kLineLimit);
    // The record as such would fail the batch...
    EXPECT_EQ(sentenceOf([&] { writer().writeLines({single}); }),
              QStringLiteral("Event exceeds the 16 KiB delta limit."));
    // ...so appendFrame stores slices, which give the frame back byte for byte.
    writer().appendFrame(frame);
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), 1);
    const WorkspaceEvent slice = decoded(all[0]);
    EXPECT_EQ(slice.kind, QStringLiteral("session.frame.chunk"));
    EXPECT_EQ(slice.payload.value(QStringLiteral("total")), QStringLiteral("1"));
    JournalReader r = reader();
    EXPECT_EQ(r.fragment(slice.payload.value(QStringLiteral("id")), 0, 1, slice.payload.value(QStringLiteral("data"))),
              std::optional<QByteArray>(frame));
    // Such a frame is no JSON, so reading drops it without an error.
    const auto deltas = r.readDeltas();
    EXPECT_TRUE(deltas.events.empty());
    EXPECT_TRUE(deltas.problems.isEmpty());
}

TEST_F(WriterTest, FrameThatIsNotJsonIsStoredAllTheSame)
{
    writer().appendFrame("not json {");
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(decoded(all[0]).payload.value(QStringLiteral("frame")), QStringLiteral("not json {"));
}

// Ill-formed UTF-8 in a frame stored as text: each maximal ill-formed subpart (the longest start of
// a sequence that could still have become well-formed, or else one byte) becomes one U+FFFD.
struct IllFormedCase
{
    const char *name;
    QByteArray frame;
    QString text;
};

class IllFormedFrame : public JournalFixture, public ::testing::WithParamInterface<IllFormedCase>
{
};

TEST_P(IllFormedFrame, EachMaximalSubpartBecomesOneReplacement)
{
    writer().appendFrame(GetParam().frame);
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(decoded(all[0]).payload.value(QStringLiteral("frame")), GetParam().text);
}

const QString kFFFD(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Table, IllFormedFrame,
    ::testing::Values(IllFormedCase{"WellFormed", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
                                    QStringLiteral("a\u00e9\u20ac\U0001F600")},
                      IllFormedCase{"TruncatedThreeByte", "\xe2\x82", kFFFD},
                      IllFormedCase{"TruncatedThenText", "\xe2\x82x", kFFFD + u'x'},
                      IllFormedCase{"TruncatedFourByte", "\xf0\x9f\x98", kFFFD},
                      IllFormedCase{"TwoTruncatedInARow", "\xf1\x80\x80\xe1\x80\xc2\x80",
                                    kFFFD + kFFFD + QChar(0x80)},
                      IllFormedCase{"Overlong", "\xc0\xaf", kFFFD + kFFFD},
                      IllFormedCase{"OverlongThreeByte", "\xe0\x80\xaf", kFFFD + kFFFD + kFFFD},
                      IllFormedCase{"Surrogate", "\xed\xa0\x80", kFFFD + kFFFD + kFFFD},
                      IllFormedCase{"AboveTheLastCodePoint", "\xf4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
                      IllFormedCase{"StrayContinuations", "\x80\xbf", kFFFD + kFFFD},
                      IllFormedCase{"LeadAtTheEnd", "x\xf0", u'x' + kFFFD},
                      IllFormedCase{"NeverALead", "\xff\xfe", kFFFD + kFFFD}),
    [](const auto &info) { return std::string(info.param.name); });

struct LineCase
{
    const char *name;
    qsizetype size;
    bool written;
};

class LineLimit : public JournalFixture, public ::testing::WithParamInterface<LineCase>
{
};

TEST_P(LineLimit, WholeBatchOrNothing)
{
    const auto &c = GetParam();
    const QByteArray small = event(QStringLiteral("small")).encode();
    const QByteArray big = eventOfSize(c.size).encode();
    const JournalWriter w = writer();
    const QString sentence = sentenceOf([&] { w.writeLines({small, big}); });
    if (c.written) {
        EXPECT_EQ(sentence, QStringLiteral("no error"));
        EXPECT_EQ(lines(journal()), (QList<QByteArray>{small, big}));
    } else {
        EXPECT_EQ(sentence, QStringLiteral("Event exceeds the 16 KiB delta limit."));
        EXPECT_FALSE(QFile::exists(journal()));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LineLimit,
                         ::testing::Values(LineCase{"WithLineFeedAtLimit", 16383, true},
                                           LineCase{"WithLineFeedOverLimit", 16384, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(WriterTest, BatchOver24MiBFailsBeforeAnyFileIsOpened)
{
    const QByteArray line = eventOfSize(16383).encode();
    const qsizetype count = journal::kJournalLimit / (line.size() + 1) + 1;
    const std::vector<QByteArray> batch(size_t(count), line);
    EXPECT_EQ(sentenceOf([&] { writer().writeLines(batch); }), QStringLiteral("Frame batch exceeds journal capacity."));
    EXPECT_FALSE(QFile::exists(journal()));
    EXPECT_FALSE(QFile::exists(directory + QStringLiteral("/events.lock")));
}

// ---- Rotation -----------------------------------------------------------------------------------

struct RotationCase
{
    const char *name;
    qint64 extra; // bytes over "limit minus batch" already in the journal
    bool rotates;
};

class Rotation : public JournalFixture, public ::testing::WithParamInterface<RotationCase>
{
};

TEST_P(Rotation, AtTheBoundary)
{
    const auto &c = GetParam();
    const WorkspaceEvent e = event(QStringLiteral("boundary"));
    const qint64 batch = e.encode().size() + 1;
    const QByteArray before = fill(journal::kJournalLimit - batch + c.extra);
    const JournalWriter w = writer();
    testsupport::writeFile(previous(), "old generation\n");
    testsupport::writeFile(journal(), before);
    w.appendEvent(e);
    if (c.rotates) {
        EXPECT_EQ(testsupport::readFile(previous()), before);
        EXPECT_EQ(testsupport::readFile(journal()), e.encode() + '\n');
    } else {
        EXPECT_EQ(testsupport::readFile(journal()).size(), journal::kJournalLimit);
        EXPECT_EQ(testsupport::readFile(previous()), QByteArray("old generation\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Rotation,
                         ::testing::Values(RotationCase{"Exact", 0, false}, RotationCase{"OneMore", 1, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// A write that failed half way left a line without its line feed; the next batch ends that line
// first instead of being glued to it and lost.
TEST_F(WriterTest, BatchAfterATornLineStartsWithALineFeed)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("before"), {});
    appendRaw(journal(), R"({"id":"torn","timest)");
    const WorkspaceEvent e = event(QStringLiteral("after"));
    w.appendEvent(e);
    const auto all = lines(journal());
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[1], QByteArray(R"({"id":"torn","timest)"));
    EXPECT_EQ(all[2], e.encode());
    const auto deltas = r.readDeltas();
    ASSERT_EQ(deltas.events.size(), 2u);
    EXPECT_EQ(deltas.events[0].kind, QStringLiteral("before"));
    EXPECT_EQ(deltas.events[1].id, e.id);
    EXPECT_TRUE(deltas.problems.isEmpty());
}

// The file's last byte is read under the lock before every batch, even when the file has the serial
// number and size this writer's own last batch left: another writer may have emptied it in place and
// torn a line of exactly that size into it.
TEST_F(WriterTest, TornLineOfTheSizeThisWriterLeftIsEndedAllTheSame)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("first"), {});
    const qsizetype size = testsupport::readFile(journal()).size();
    ASSERT_EQ(::truncate(QFile::encodeName(journal()).constData(), 0), 0);
    appendRaw(journal(), QByteArray(size, 'z'));
    const WorkspaceEvent e = event(QStringLiteral("after"));
    w.appendEvent(e);
    EXPECT_EQ(lines(journal()).last(), e.encode());
    const auto deltas = r.readDeltas();
    ASSERT_EQ(deltas.events.size(), 1u);
    EXPECT_EQ(deltas.events[0].id, e.id);
}

TEST_F(WriterTest, TornLineCountsTowardsRotation)
{
    const WorkspaceEvent e = event(QStringLiteral("boundary"));
    const qint64 batch = e.encode().size() + 1;
    // Exactly at the limit with the batch, but the damaged line needs one more byte.
    QByteArray before = fill(journal::kJournalLimit - batch);
    before[before.size() - 1] = 'z';
    const JournalWriter w = writer();
    testsupport::writeFile(journal(), before);
    w.appendEvent(e);
    EXPECT_EQ(testsupport::readFile(previous()), before);
    EXPECT_EQ(testsupport::readFile(journal()), e.encode() + '\n');
}
} // namespace

namespace
{
TEST_F(WriterTest, FailedRotationWritesNothing)
{
    const WorkspaceEvent e = event(QStringLiteral("boundary"));
    const QByteArray before = fill(journal::kJournalLimit - (e.encode().size() + 1) + 1);
    const JournalWriter w = writer();
    testsupport::writeFile(journal(), before);
    // A folder that is not empty cannot be replaced by a rename.
    testsupport::writeFile(previous() + QStringLiteral("/keep"), "x");
    EXPECT_EQ(sentenceOf([&] { w.appendEvent(e); }), QStringLiteral("Cannot rotate bounded journal."));
    EXPECT_EQ(testsupport::readFile(journal()), before);
    // The lock was released: a reader gets through.
    EXPECT_EQ(sentenceOf([&] { reader().readDeltas(); }), QStringLiteral("no error"));
}
} // namespace
