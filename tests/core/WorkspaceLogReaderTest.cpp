// Journal reading: incremental reading, line handling, chunk reassembly and frame projection.
#include "FifoSupport.h"
#include "WorkspaceLogTestSupport.h"

#include "core/JournalLimits.h"

#include <unistd.h>

using namespace journaltest;

namespace
{
QByteArray lineOf(const WorkspaceEvent &e)
{
    return e.encode() + '\n';
}

class ReaderTest : public JournalFixture
{
protected:
    // Another file renamed over the journal, made while the old one still exists so that its
    // serial number differs.
    void replaceJournal(const QByteArray &bytes) const
    {
        const QString other = directory + QStringLiteral("/other");
        testsupport::writeFile(other, bytes);
        ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(journal()).constData()), 0);
    }
};

QStringList kinds(const JournalDeltas &d)
{
    QStringList out;
    for (const auto &e : d.events)
        out << e.kind;
    return out;
}

// A record of exactly `size` bytes before its line feed, written raw (writers never go past 16383).
QByteArray rawLineOfSize(const WorkspaceEvent &base, qsizetype size)
{
    WorkspaceEvent e = base;
    e.payload[QStringLiteral("pad")] = QString();
    const qsizetype empty = e.encode().size();
    e.payload[QStringLiteral("pad")] = QString(size - empty, QLatin1Char('x'));
    return e.encode();
}

TEST_F(ReaderTest, FirstReadCreatesBothFilesAndReturnsNothing)
{
    JournalReader r = reader();
    const auto d = r.readDeltas();
    EXPECT_TRUE(d.events.empty());
    EXPECT_TRUE(d.problems.isEmpty());
    EXPECT_TRUE(QFile::exists(journal()));
    EXPECT_TRUE(QFile::exists(directory + QStringLiteral("/events.lock")));
    EXPECT_EQ(testsupport::readFile(journal()).size(), 0);
}

TEST_F(ReaderTest, ReadsIncrementally)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("one"), {});
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("one")});
    EXPECT_TRUE(r.readDeltas().events.empty());
    w.append(QStringLiteral("two"), {});
    w.append(QStringLiteral("three"), {});
    EXPECT_EQ(kinds(r.readDeltas()), (QStringList{QStringLiteral("two"), QStringLiteral("three")}));
    EXPECT_EQ(r.offset(), quint64(testsupport::readFile(journal()).size()));
}

struct LineSizeCase
{
    const char *name;
    qsizetype size;
    bool returned;
};

class LineSize : public JournalFixture, public ::testing::WithParamInterface<LineSizeCase>
{
};

TEST_P(LineSize, CompleteLineAtAndOverTheLimit)
{
    const auto &c = GetParam();
    const QByteArray big = rawLineOfSize(event(QStringLiteral("big")), c.size);
    ASSERT_EQ(big.size(), c.size);
    JournalReader r = reader();
    r.readDeltas();
    appendRaw(journal(), big + '\n' + lineOf(event(QStringLiteral("after"))));
    const auto d = r.readDeltas();
    EXPECT_EQ(kinds(d), c.returned ? (QStringList{QStringLiteral("big"), QStringLiteral("after")})
                                   : QStringList{QStringLiteral("after")});
    EXPECT_TRUE(d.problems.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Table, LineSize,
                         ::testing::Values(LineSizeCase{"AtLimit", 16384, true},
                                           LineSizeCase{"OverLimit", 16385, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ReaderTest, IncompleteLastLineIsReturnedWithItsLineFeed)
{
    JournalReader r = reader();
    const QByteArray line = lineOf(event(QStringLiteral("split")));
    appendRaw(journal(), lineOf(event(QStringLiteral("first"))) + line.left(20));
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("first")});
    EXPECT_EQ(r.remainderSize(), 20);
    appendRaw(journal(), line.mid(20));
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("split")});
    EXPECT_EQ(r.remainderSize(), 0);
}

struct IncompleteCase
{
    const char *name;
    qsizetype size;
    bool rejected;
};

class IncompleteLine : public JournalFixture, public ::testing::WithParamInterface<IncompleteCase>
{
};

// An over-long incomplete line is discarded and reported; the records before it in the same call are
// still returned (they would otherwise be consumed and never seen), and the rest of that line, up to
// its line feed, never comes back as a line of its own.
TEST_P(IncompleteLine, AtAndOverTheLimit)
{
    const auto &c = GetParam();
    JournalReader r = reader();
    r.readDeltas();
    const QByteArray big = rawLineOfSize(event(QStringLiteral("big")), c.size + 1000);
    appendRaw(journal(), lineOf(event(QStringLiteral("before"))) + big.left(c.size));
    const auto d = r.readDeltas();
    EXPECT_EQ(kinds(d), QStringList{QStringLiteral("before")});
    if (c.rejected) {
        EXPECT_EQ(d.problems, QStringList{QStringLiteral("Oversized incomplete event rejected.")});
        EXPECT_EQ(r.remainderSize(), 0);
    } else {
        EXPECT_TRUE(d.problems.isEmpty());
        EXPECT_EQ(r.remainderSize(), c.size);
    }
    appendRaw(journal(), big.mid(c.size) + '\n' + lineOf(event(QStringLiteral("after"))));
    const auto next = r.readDeltas();
    EXPECT_EQ(kinds(next), QStringList{QStringLiteral("after")}); // "big" is over the limit either way
    EXPECT_TRUE(next.problems.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Table, IncompleteLine,
                         ::testing::Values(IncompleteCase{"AtLimit", 16384, false},
                                           IncompleteCase{"OverLimit", 16385, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ReaderTest, DropsNoiseAndForeignRecordsInFileOrder)
{
    JournalReader r = reader();
    WorkspaceEvent otherApp = event(QStringLiteral("other-app"));
    otherApp.appID = QStringLiteral("someone-else");
    WorkspaceEvent otherTenant = event(QStringLiteral("other-tenant"));
    otherTenant.tenantID = QStringLiteral("tenant-2");
    const QByteArray frame = frameOfSize(300);
    appendRaw(journal(), lineOf(event(QStringLiteral("a"))) + "\n" + "not json\n" + lineOf(otherApp) +
                             lineOf(otherTenant) + R"({"id":"x","timestamp":"t","app_id":")" + appID.toUtf8() +
                             R"(","tenant_id":"tenant-1","kind":"k","payload":{"n":1}})" + "\n" +
                             lineOf(event(QStringLiteral("session.frame"),
                                          {{QStringLiteral("frame"), QString::fromUtf8(frame)}})) +
                             lineOf(event(QStringLiteral("b"))));
    const auto d = r.readDeltas();
    EXPECT_EQ(kinds(d), (QStringList{QStringLiteral("a"), QStringLiteral("text"), QStringLiteral("b")}));
    EXPECT_TRUE(d.problems.isEmpty());
}

// Records another process appended to the old file between this reader's last call and a rotation
// are read from "events.previous.jsonl" before the new file.
TEST_F(ReaderTest, AfterARotationReadsTheRestOfTheOldFileThenTheNewOne)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("seen"), {});
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("seen")});
    w.append(QStringLiteral("late"), {});
    // Fill the old file close to the limit, then a batch that rotates.
    const QByteArray line = eventOfSize(16000).encode();
    const qint64 size = testsupport::readFile(journal()).size();
    const std::vector<QByteArray> filler(size_t((journal::kJournalLimit - size) / (line.size() + 1)), line);
    w.writeLines(filler);
    // Less than one filler line is left, so this batch rotates.
    w.appendEvent(eventOfSize(16000));
    ASSERT_TRUE(QFile::exists(previous()));
    ASSERT_LT(testsupport::readFile(journal()).size(), 30000); // only the chunk records of the last event
    // One call reads at most 24 MiB, old and new file together; the next call goes on.
    JournalDeltas d = r.readDeltas();
    EXPECT_EQ(d.events.size(), filler.size() + 1);
    for (auto &e : r.readDeltas().events)
        d.events.push_back(std::move(e));
    ASSERT_EQ(d.events.size(), filler.size() + 2);
    EXPECT_EQ(d.events.front().kind, QStringLiteral("late"));
    EXPECT_EQ(d.events.back().kind, QStringLiteral("sized"));
    EXPECT_EQ(r.offset(), quint64(testsupport::readFile(journal()).size()));
    w.append(QStringLiteral("next"), {});
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("next")});
}

// A FIFO planted where the previous generation lies would hold an ordinary open for good, and with
// it the shared lock that every writer waits for.
TEST_F(ReaderTest, AFifoInPlaceOfThePreviousGenerationIsNotWaitedOn)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("seen"), {});
    r.readDeltas();
    replaceJournal(lineOf(event(QStringLiteral("fresh"))));
    ASSERT_TRUE(fifotest::makeFifo(previous()));
    JournalDeltas d;
    EXPECT_TRUE(fifotest::finishesBesideFifo(previous(), [&] { d = r.readDeltas(); }));
    EXPECT_EQ(kinds(d), QStringList{QStringLiteral("fresh")});
    w.append(QStringLiteral("next"), {});
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("next")});
}

TEST_F(ReaderTest, AfterAReplacementThatIsNotTheOldFileStartsAtTheBeginning)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("old"), {});
    r.readDeltas();
    replaceJournal(lineOf(event(QStringLiteral("fresh"))));
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("fresh")});
}

TEST_F(ReaderTest, AFileEmptiedInPlaceIsReadAgainFromTheStart)
{
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("one"), {});
    w.append(QStringLiteral("two"), {});
    r.readDeltas();
    ASSERT_EQ(::truncate(QFile::encodeName(journal()).constData(), 0), 0);
    w.append(QStringLiteral("three"), {});
    EXPECT_EQ(kinds(r.readDeltas()), QStringList{QStringLiteral("three")});
}

// ---- Chunk reassembly ---------------------------------------------------------------------------

std::vector<QByteArray> pieces(const WorkspaceEvent &e)
{
    return JournalWriter::eventRecords(e);
}

TEST_F(ReaderTest, ChunkedEventInOrder201IsReturnedOnceWhenComplete)
{
    const WorkspaceEvent e = eventOfSize(15360);
    const auto records = pieces(e);
    ASSERT_EQ(records.size(), 3u);
    JournalReader r = reader();
    appendRaw(journal(), records[2] + '\n' + records[0] + '\n');
    EXPECT_TRUE(r.readDeltas().events.empty());
    EXPECT_EQ(r.openFragments(), 1);
    appendRaw(journal(), records[1] + '\n');
    const auto d = r.readDeltas();
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].encode(), e.encode());
    EXPECT_EQ(r.openFragments(), 0);
    EXPECT_EQ(r.fragmentBytes(), 0);
}

// A read of thousands of lines over more than one read buffer returns them in file order, with a
// chunk set whose pieces lie far apart and stored frames among them.
TEST_F(ReaderTest, ManyLinesAtOnceComeBackInFileOrder)
{
    const WorkspaceEvent chunked = eventOfSize(15360);
    const auto chunkRecords = pieces(chunked);
    ASSERT_EQ(chunkRecords.size(), 3u);
    const JournalWriter w = writer();
    std::vector<QByteArray> records;
    QStringList want;
    for (int i = 0; i < 6000; ++i) {
        if (i == 10 || i == 3000) {
            records.push_back(chunkRecords[i == 10 ? 0 : 1]);
        } else if (i == 5990) {
            records.push_back(chunkRecords[2]);
            want << chunked.kind;
        } else if (i % 7 == 0) {
            for (auto &r : w.frameRecords(frameOfSize(400, i)))
                records.push_back(std::move(r));
            want << QStringLiteral("text");
        } else {
            records.push_back(event(QStringLiteral("e%1").arg(i)).encode());
            want << QStringLiteral("e%1").arg(i);
        }
    }
    w.writeLines(records);
    JournalReader r = reader();
    const auto d = r.readDeltas();
    EXPECT_EQ(kinds(d), want);
    EXPECT_EQ(d.events[size_t(want.indexOf(chunked.kind))].encode(), chunked.encode());
    EXPECT_TRUE(d.problems.isEmpty());
}

struct RoundTripCase
{
    const char *name;
    qsizetype size;
};

class EventRoundTrip : public JournalFixture, public ::testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(EventRoundTrip, ComesBackAsItWasWritten)
{
    const WorkspaceEvent e = eventOfSize(GetParam().size);
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.append(QStringLiteral("before"), {});
    w.appendEvent(e);
    w.append(QStringLiteral("after"), {});
    const auto d = r.readDeltas();
    ASSERT_EQ(d.events.size(), 3u);
    EXPECT_EQ(d.events[1].encode(), e.encode());
    EXPECT_EQ(kinds(d), (QStringList{QStringLiteral("before"), QStringLiteral("sized"), QStringLiteral("after")}));
}

INSTANTIATE_TEST_SUITE_P(Table, EventRoundTrip,
                         ::testing::Values(RoundTripCase{"OneLine", 15359}, RoundTripCase{"ThreePieces", 15360},
                                           RoundTripCase{"OneMiB", 1048576}, RoundTripCase{"Largest", 16777216}),
                         [](const auto &info) { return std::string(info.param.name); });

class FrameRoundTrip : public JournalFixture, public ::testing::WithParamInterface<RoundTripCase>
{
};

// The stored frame, one record or slices, is projected to the event the live path builds from the
// same frame with the two record helpers: same id, kind, timestamp and payload.
TEST_P(FrameRoundTrip, ProjectsToTheLiveEvent)
{
    const QByteArray frame = frameOfSize(GetParam().size, 42);
    const Json object = Json::parse(frame.toStdString());
    Json payload = object["payload"];
    payload["agent"] = object["agent"];
    payload["session_id"] = object["sessionId"];
    payload["turnId"] = object["turnId"];
    const WorkspaceEvent live{WorkspaceEvent::projectionID(object, QStringLiteral("unused")),
                              QStringLiteral("2026-12-09T08:26:13Z"),
                              appID,
                              kTenant,
                              QStringLiteral("text"),
                              WorkspaceEvent::stringPayload(payload)};
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.appendFrame(frame);
    const auto d = r.readDeltas();
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].id, live.id);
    EXPECT_TRUE(d.events[0].id.startsWith(QStringLiteral("frame:")));
    EXPECT_EQ(d.events[0].encode(), live.encode());
}

INSTANTIATE_TEST_SUITE_P(Table, FrameRoundTrip,
                         ::testing::Values(RoundTripCase{"OneRecord", 7000}, RoundTripCase{"TwoSlices", 7001},
                                           RoundTripCase{"OneMiB", 1048576}),
                         [](const auto &info) { return std::string(info.param.name); });

// A piece that breaks the reassembly rules is dropped with its set, the
// sentence is reported, and the good records of the same call are returned.
struct BadPieceCase
{
    const char *name;
    const char *want;
    // Builds the damaged records from a good three-piece set.
    std::function<std::vector<QByteArray>(std::vector<QByteArray>)> damage;
};

WorkspaceEvent with(const QByteArray &record, const QString &key, const QString &value)
{
    WorkspaceEvent e = *WorkspaceEvent::decode(record);
    e.payload[key] = value;
    return e;
}

class BadPiece : public JournalFixture, public ::testing::WithParamInterface<BadPieceCase>
{
};

TEST_P(BadPiece, IsDroppedWithItsSetAndTheCallGoesOn)
{
    const auto &c = GetParam();
    const auto good = pieces(eventOfSize(15360));
    JournalReader r = reader();
    QByteArray bytes = lineOf(event(QStringLiteral("before")));
    for (const QByteArray &record : c.damage(good))
        bytes += record + '\n';
    bytes += lineOf(event(QStringLiteral("after")));
    appendRaw(journal(), bytes);
    const auto d = r.readDeltas();
    EXPECT_EQ(kinds(d), (QStringList{QStringLiteral("before"), QStringLiteral("after")}));
    EXPECT_EQ(d.problems, QStringList{QLatin1String(c.want)});
    EXPECT_EQ(r.openFragments(), 0);
    EXPECT_EQ(r.fragmentBytes(), 0);
    // The rest of the dropped set never opens a set that cannot complete.
    appendRaw(journal(), good[2] + '\n');
    EXPECT_TRUE(r.readDeltas().events.empty());
    EXPECT_EQ(r.openFragments(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadPiece,
    ::testing::Values(
        BadPieceCase{"DuplicateWithOtherBytes", "Conflicting duplicate journal fragment.",
                     [](std::vector<QByteArray> g) {
                         return std::vector<QByteArray>{
                             g[0], with(g[0], QStringLiteral("data"), QStringLiteral("AAAA")).encode(), g[1]};
                     }},
        BadPieceCase{
            "OtherCount", "Conflicting journal fragment metadata.",
            [](std::vector<QByteArray> g) {
                return std::vector<QByteArray>{g[0], with(g[1], QStringLiteral("count"), QStringLiteral("4")).encode()};
            }},
        BadPieceCase{"NotBase64", "Invalid journal frame fragment.",
                     [](std::vector<QByteArray> g) {
                         return std::vector<QByteArray>{
                             g[0], with(g[1], QStringLiteral("data"), QStringLiteral("A*==")).encode()};
                     }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ReaderTest, PieceRepeatedWithTheSameBytesIsHarmless)
{
    const WorkspaceEvent e = eventOfSize(15360);
    const auto good = pieces(e);
    JournalReader r = reader();
    appendRaw(journal(), good[0] + '\n' + good[0] + '\n' + good[1] + '\n' + good[2] + '\n');
    const auto d = r.readDeltas();
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].encode(), e.encode());
    EXPECT_TRUE(d.problems.isEmpty());
}

TEST_F(ReaderTest, PiecesWithMissingOrNonDecimalFieldsAreDroppedSilently)
{
    const auto good = pieces(eventOfSize(15360));
    WorkspaceEvent noData = *WorkspaceEvent::decode(good[0]);
    noData.payload.remove(QStringLiteral("data"));
    JournalReader r = reader();
    appendRaw(journal(), noData.encode() + '\n' +
                             with(good[1], QStringLiteral("index"), QStringLiteral("1x")).encode() + '\n' +
                             with(good[1], QStringLiteral("count"), QStringLiteral(" 3")).encode() + '\n');
    const auto d = r.readDeltas();
    EXPECT_TRUE(d.events.empty());
    EXPECT_TRUE(d.problems.isEmpty());
    EXPECT_EQ(r.openFragments(), 0);
}

struct InvalidCase
{
    const char *name;
    QString id;
    qint64 index;
    qint64 count;
    QString data;
};

class InvalidFragment : public JournalFixture, public ::testing::WithParamInterface<InvalidCase>
{
};

TEST_P(InvalidFragment, Fails)
{
    const auto &c = GetParam();
    JournalReader r = reader();
    EXPECT_EQ(sentenceOf([&] { r.fragment(c.id, c.index, c.count, c.data); }),
              QStringLiteral("Invalid journal frame fragment."));
    EXPECT_EQ(r.openFragments(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidFragment,
                         ::testing::Values(InvalidCase{"CountZero", "set", 0, 0, "AAAA"},
                                           InvalidCase{"Count2401", "set", 0, 2401, "AAAA"},
                                           InvalidCase{"IndexEqualsCount", "set", 3, 3, "AAAA"},
                                           InvalidCase{"NegativeIndex", "set", -1, 3, "AAAA"},
                                           InvalidCase{"Id129", QString(129, QLatin1Char('a')), 0, 3, "AAAA"},
                                           InvalidCase{"IdWithDot", "a.b", 0, 3, "AAAA"},
                                           InvalidCase{"EmptyId", "", 0, 3, "AAAA"},
                                           InvalidCase{"Data10001", "set", 0, 3, QString(10001, QLatin1Char('A'))},
                                           InvalidCase{"DataNotMultipleOfFour", "set", 0, 3, "AAA"},
                                           InvalidCase{"DataOutsideAlphabet", "set", 0, 3, "AA-A"},
                                           InvalidCase{"PaddingInTheMiddle", "set", 0, 3, "AA==AAAA"},
                                           InvalidCase{"ThreePaddingCharacters", "set", 0, 3, "A==="},
                                           InvalidCase{"OnlyPadding", "set", 0, 3, "===="},
                                           InvalidCase{"UrlAlphabet", "set", 0, 3, "AA_A"},
                                           InvalidCase{"LineBreak", "set", 0, 3, "AAAA\nAAA"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ReaderTest, ValidLimitsAreAccepted)
{
    JournalReader r = reader();
    EXPECT_EQ(r.fragment(QString(128, QLatin1Char('a')), 2399, 2400, QString(10000, QLatin1Char('A'))), std::nullopt);
    EXPECT_EQ(r.fragment(QStringLiteral("Az09_-"), 0, 1, QStringLiteral("YQ==")), std::optional<QByteArray>("a"));
    EXPECT_EQ(r.openFragments(), 1);
}

TEST_F(ReaderTest, NinthSetFailsAndSetsExpireAfterSixtySeconds)
{
    auto now = std::chrono::steady_clock::now();
    JournalReader r = reader([&] { return now; });
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(r.fragment(QStringLiteral("set%1").arg(i), 0, 2, QStringLiteral("YQ==")), std::nullopt);
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("set8"), 0, 2, QStringLiteral("YQ==")); }),
              QStringLiteral("Too many incomplete journal frames."));
    EXPECT_EQ(r.openFragments(), 8);
    now += std::chrono::seconds(59);
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("set8"), 0, 2, QStringLiteral("YQ==")); }),
              QStringLiteral("Too many incomplete journal frames."));
    now += std::chrono::seconds(1);
    // Set 0 is gone: its second piece opens a new set, which then waits for piece 0 again.
    EXPECT_EQ(r.fragment(QStringLiteral("set0"), 1, 2, QStringLiteral("Yg==")), std::nullopt);
    EXPECT_EQ(r.openFragments(), 1);
    EXPECT_EQ(r.fragmentBytes(), 1);
    EXPECT_EQ(r.fragment(QStringLiteral("set0"), 0, 2, QStringLiteral("YQ==")), std::optional<QByteArray>("ab"));
}

TEST_F(ReaderTest, ConflictsLeaveTheSetAsItWas)
{
    JournalReader r = reader();
    EXPECT_EQ(r.fragment(QStringLiteral("s"), 0, 3, QStringLiteral("YQ==")), std::nullopt);
    EXPECT_EQ(r.fragment(QStringLiteral("s"), 0, 3, QStringLiteral("YQ==")), std::nullopt);
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("s"), 0, 3, QStringLiteral("Yg==")); }),
              QStringLiteral("Conflicting duplicate journal fragment."));
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("s"), 1, 2, QStringLiteral("Yg==")); }),
              QStringLiteral("Conflicting journal fragment metadata."));
    EXPECT_EQ(r.fragmentBytes(), 1);
    EXPECT_EQ(r.fragment(QStringLiteral("s"), 1, 3, QStringLiteral("Yg==")), std::nullopt);
    EXPECT_EQ(r.fragment(QStringLiteral("s"), 2, 3, QStringLiteral("Yw==")), std::optional<QByteArray>("abc"));
}

TEST_F(ReaderTest, MemoryLimitsPerSetAndInAll)
{
    JournalReader r = reader();
    const QString piece(10000, QLatin1Char('A')); // 7500 bytes decoded
    // 2236 pieces hold 16 770 000 bytes; one more would pass 16 MiB in one set.
    for (int i = 0; i < 2236; ++i)
        ASSERT_EQ(r.fragment(QStringLiteral("a"), i, 2400, piece), std::nullopt);
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("a"), 2236, 2400, piece); }),
              QStringLiteral("Journal reassembly memory limit exceeded."));
    for (int i = 0; i < 2236; ++i)
        ASSERT_EQ(r.fragment(QStringLiteral("b"), i, 2400, piece), std::nullopt);
    // 33 540 000 held; a third set may add 7500 once but not twice within 32 MiB.
    EXPECT_EQ(r.fragment(QStringLiteral("c"), 0, 2400, piece), std::nullopt);
    EXPECT_EQ(sentenceOf([&] { r.fragment(QStringLiteral("c"), 1, 2400, piece); }),
              QStringLiteral("Journal reassembly memory limit exceeded."));
    EXPECT_EQ(r.fragmentBytes(), 2 * 2236 * 7500 + 7500);
}

TEST_F(ReaderTest, ChunkedEventOfAnotherTenantOrOfKindFrameChunkYieldsNothing)
{
    WorkspaceEvent foreign = eventOfSize(15360);
    foreign.tenantID = QStringLiteral("tenant-2");
    // The chunk records carry the inner event's tenant; re-stamp them as ours to reach reassembly.
    std::vector<QByteArray> records;
    for (const QByteArray &record : pieces(foreign)) {
        WorkspaceEvent e = *WorkspaceEvent::decode(record);
        e.tenantID = kTenant;
        records.push_back(e.encode());
    }
    WorkspaceEvent nested = eventOfSize(15360);
    nested.kind = QStringLiteral("frame.chunk");
    for (const QByteArray &record : pieces(nested))
        records.push_back(record);
    JournalReader r = reader();
    writer().writeLines(records);
    const auto d = r.readDeltas();
    EXPECT_TRUE(d.events.empty());
    EXPECT_TRUE(d.problems.isEmpty());
}

// ---- Frame projection ---------------------------------------------------------------------------

struct ProjectionCase
{
    const char *name;
    const char *frame;
    bool projected;
    EventPayload payload; // when projected
};

class Projection : public JournalFixture, public ::testing::WithParamInterface<ProjectionCase>
{
};

TEST_P(Projection, StoredAsOneRecordAndAsSlices)
{
    const auto &c = GetParam();
    const QByteArray frame(c.frame);
    const JournalWriter w = writer();
    JournalReader r = reader();
    w.appendFrame(frame);
    // The same frame as slices, written by hand since it is small.
    const QString setID = WorkspaceEvent::newID();
    w.writeLines(
        {event(QStringLiteral("session.frame.chunk"), {{QStringLiteral("id"), setID},
                                                       {QStringLiteral("index"), QStringLiteral("0")},
                                                       {QStringLiteral("total"), QStringLiteral("1")},
                                                       {QStringLiteral("data"), QString::fromLatin1(frame.toBase64())}})
             .encode()});
    const auto d = r.readDeltas();
    if (!c.projected) {
        ASSERT_EQ(d.events.size(), 1u);
        EXPECT_EQ(d.events[0].kind, QStringLiteral("session.frame"));
        EXPECT_EQ(d.events[0].payload.value(QStringLiteral("frame")).toUtf8(), frame);
        return;
    }
    ASSERT_EQ(d.events.size(), 2u);
    for (const auto &e : d.events) {
        EXPECT_EQ(e.payload, c.payload);
        EXPECT_EQ(e.appID, appID);
        EXPECT_EQ(e.tenantID, kTenant);
    }
}

const EventPayload kBase{{"session_id", "s"}, {"turnId", "t"}};
EventPayload plus(EventPayload p, const EventPayload &more)
{
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        p.insert(it.key(), it.value());
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Projection,
    ::testing::Values(
        ProjectionCase{
            "OtherTenant", R"({"tenantId":"tenant-2","sessionId":"s","turnId":"t","kind":"text"})", false, {}},
        ProjectionCase{"EmptyTurn", R"({"tenantId":"tenant-1","sessionId":"s","turnId":"","kind":"text"})", false, {}},
        ProjectionCase{"NoKind", R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t"})", false, {}},
        ProjectionCase{"NumericSession", R"({"tenantId":"tenant-1","sessionId":1,"turnId":"t","kind":"k"})", false, {}},
        ProjectionCase{"NotAnObject", R"([1,2])", false, {}},
        ProjectionCase{"EmptySessionIsText",
                       R"({"tenantId":"tenant-1","sessionId":"","turnId":"t","kind":"k"})",
                       true,
                       {{"session_id", ""}, {"turnId", "t"}}},
        ProjectionCase{
            "NoAgentRemovesPayloadAgent",
            R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","payload":{"agent":"x","a":1}})", true,
            plus(kBase, {{"a", "1"}})},
        ProjectionCase{
            "AgentOfAnyType",
            R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","agent":{"r":true},"payload":{"agent":"x"}})",
            true, plus(kBase, {{"agent", R"({"r":true})"}})},
        ProjectionCase{
            "PayloadAsText",
            R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","payload":"{\"b\":true,\"session_id\":\"no\"}"})",
            true, plus(kBase, {{"b", "true"}})},
        ProjectionCase{"PayloadNumber",
                       R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","payload":5})", true, kBase},
        ProjectionCase{"PayloadArray",
                       R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","payload":[1]})", true, kBase},
        ProjectionCase{"PayloadTextNotObject",
                       R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","payload":"[1]"})", true,
                       kBase}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ReaderTest, ProjectionTakesTsAsItIsAndStampsFramesWithoutOne)
{
    JournalReader r = reader();
    const auto withTs =
        r.projectFrame(R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","ts":"whenever"})");
    ASSERT_TRUE(withTs);
    EXPECT_EQ(withTs->timestamp, QStringLiteral("whenever"));
    const auto without = r.projectFrame(R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","ts":5})");
    ASSERT_TRUE(without);
    EXPECT_EQ(without->timestamp.size(), 20);
    // Without session and sequence fields the id is a fresh UUID, new every time.
    EXPECT_EQ(without->id.size(), 36);
    EXPECT_NE(r.projectFrame(R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k"})")->id, without->id);
    EXPECT_EQ(
        r.projectFrame(R"({"tenantId":"tenant-1","sessionId":"s","turnId":"t","kind":"k","journalEventId":"J"})")->id,
        QStringLiteral("J"));
    EXPECT_FALSE(r.projectFrame(QByteArray(16777217, ' ')));
}
} // namespace
