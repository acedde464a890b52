#include "ui/NativeJournalPresentation.h"

#include "live/NativePresence.h"

#include <gtest/gtest.h>

namespace
{
EventPayload framed(const QString &frame)
{
    return {{QStringLiteral("frame"), frame}};
}

// A frame object of exactly `bytes` UTF-8 bytes, padded by a key that carries no meaning here.
QString frameOfSize(qsizetype bytes, const QString &padding = QStringLiteral("x"))
{
    const QString head = QStringLiteral(R"({"kind":"tool_end","pad":")");
    const QString tail = QStringLiteral(R"("})");
    QString pad;
    while ((head + pad + tail).toUtf8().size() < bytes)
        pad += padding;
    return head + pad + tail;
}

struct Case
{
    const char *name;
    QString kind;
    EventPayload payload;
    QString headline;
    QString detail;
};

class JournalEntry : public ::testing::TestWithParam<Case>
{
};

TEST_P(JournalEntry, SaysOnlyWhatItsVocabularyAllows)
{
    const Case &c = GetParam();
    const NativeJournalPresentation::Entry entry = NativeJournalPresentation::make(c.kind, c.payload);
    EXPECT_EQ(entry.headline, c.headline);
    EXPECT_EQ(entry.detail, c.detail);
}

const QString kFrame = QStringLiteral("session.frame");
const QString kJournalUpdate = QStringLiteral("Journal update");
const QString kLargeFrame = QStringLiteral("Large frame content omitted");

INSTANTIATE_TEST_SUITE_P(
    Table, JournalEntry,
    ::testing::Values(
        Case{"KnownKindWithEmptyPayload",
             QStringLiteral("workspace.connected"),
             {},
             QStringLiteral("workspace.connected"),
             QStringLiteral("Workspace connected")},
        Case{"UnknownKind",
             QStringLiteral("document.opened"),
             {{QStringLiteral("path"), QStringLiteral("/home/u/notes.txt")}},
             kJournalUpdate,
             QStringLiteral("No displayable frame metadata")},
        Case{"ToolStartFrame", kFrame,
             framed(QStringLiteral(R"({"kind":"tool_start","agent":"tavrilo_builder",)"
                                   R"("payload":{"tool":"read_file","status":"running"}})")),
             QStringLiteral("tool_start"), QStringLiteral("Tool started · tavrilo_builder · read_file · running")},
        Case{"FrameAtTheParsingCap", kFrame, framed(frameOfSize(4096)), QStringLiteral("tool_end"),
             QStringLiteral("Tool finished")},
        Case{"FrameOneByteOverTheCap", kFrame, framed(frameOfSize(4097)), kJournalUpdate, kLargeFrame},
        // 2100 characters, but 4200 bytes: the cap counts bytes.
        Case{"FrameOverTheCapInBytesNotCharacters", kFrame, framed(frameOfSize(4200, QStringLiteral("é"))),
             kJournalUpdate, kLargeFrame},
        Case{"UnparsableFrame", kFrame, framed(QStringLiteral(R"({"kind":"tool_start",)")), kJournalUpdate,
             kLargeFrame},
        Case{"FrameIsAnArray", kFrame, framed(QStringLiteral(R"([{"kind":"tool_start"}])")), kJournalUpdate,
             kLargeFrame},
        Case{"SessionFrameWithoutFrame", kFrame, {}, kJournalUpdate, kLargeFrame},
        Case{"FrameKindNotText", kFrame, framed(QStringLiteral(R"({"kind":7})")), kJournalUpdate, kLargeFrame},
        // A frame entry is read only for session frames.
        Case{"FrameEntryOfAnotherKind", QStringLiteral("plan"), framed(QStringLiteral(R"({"kind":"usage"})")),
             QStringLiteral("plan"), QStringLiteral("Plan update")},
        Case{"FrameAgentThatIsNoRoleWins", kFrame,
             framed(QStringLiteral(R"({"kind":"handoff","agent":"stranger","payload":{"agent":"tavrilo_builder"}})")),
             QStringLiteral("handoff"), QStringLiteral("Specialist handoff")},
        Case{"FrameAgentNotTextAsksThePayload", kFrame,
             framed(QStringLiteral(R"({"kind":"handoff","agent":5,"payload":{"agent":"tavrilo_reviewer"}})")),
             QStringLiteral("handoff"), QStringLiteral("Specialist handoff · tavrilo_reviewer")},
        Case{"PayloadAgentAndStringValues",
             QStringLiteral("tool_end"),
             {{QStringLiteral("agent"), QStringLiteral("tavrilo_reviewer")},
              {QStringLiteral("tool"), QStringLiteral("write_file")},
              {QStringLiteral("status"), QStringLiteral("completed")}},
             QStringLiteral("tool_end"),
             QStringLiteral("Tool finished · tavrilo_reviewer · write_file · completed")},
        Case{"PayloadAgentThatIsNoRole",
             QStringLiteral("tool_end"),
             {{QStringLiteral("agent"), QStringLiteral("builder")}},
             QStringLiteral("tool_end"),
             QStringLiteral("Tool finished")},
        Case{"UnknownToolAndStatus",
             QStringLiteral("tool_start"),
             {{QStringLiteral("tool"), QStringLiteral("run_shell")},
              {QStringLiteral("status"), QStringLiteral("Running")}},
             QStringLiteral("tool_start"),
             QStringLiteral("Tool started")},
        // A tool text decides; the name is asked only when there is none.
        Case{
            "UnknownToolHidesAKnownName",
            QStringLiteral("tool_start"),
            {{QStringLiteral("tool"), QStringLiteral("run_shell")}, {QStringLiteral("name"), QStringLiteral("search")}},
            QStringLiteral("tool_start"),
            QStringLiteral("Tool started")},
        Case{"NameWhenToolIsNoText", kFrame,
             framed(QStringLiteral(R"({"kind":"tool_start","payload":{"tool":1,"name":"search"}})")),
             QStringLiteral("tool_start"), QStringLiteral("Tool started · search")},
        Case{"StatusNotText", kFrame, framed(QStringLiteral(R"({"kind":"control","payload":{"status":true}})")),
             QStringLiteral("control"), QStringLiteral("Run control")},
        Case{
            "PayloadAsJsonText", kFrame,
            framed(QStringLiteral(R"({"kind":"tool_end","payload":"{\"tool\":\"edit_file\",\"status\":\"failed\"}"})")),
            QStringLiteral("tool_end"), QStringLiteral("Tool finished · edit_file · failed")},
        // Text that is no JSON object leaves the event's own payload in place.
        Case{"PayloadTextNotAnObject", kFrame, framed(QStringLiteral(R"({"kind":"tool_end","payload":"[1]"})")),
             QStringLiteral("tool_end"), QStringLiteral("Tool finished")},
        Case{"TextCountedInUserPerceivedCharacters", kFrame,
             framed(QStringLiteral(R"({"kind":"text","payload":{"text":"e\u0301👍🏽🇫🇷a"}})")),
             QStringLiteral("text"), QStringLiteral("Text update · 4 characters")},
        Case{"ReasoningTextFromAStringPayload",
             QStringLiteral("reasoning"),
             {{QStringLiteral("text"), QStringLiteral("Thinking about the secret plan")}},
             QStringLiteral("reasoning"),
             QStringLiteral("Reasoning update · 30 characters")},
        Case{"TextOfAnotherKindIsNotCounted",
             QStringLiteral("plan"),
             {{QStringLiteral("text"), QStringLiteral("abc")}},
             QStringLiteral("plan"),
             QStringLiteral("Plan update")},
        Case{"TokensFromAUsageObject", kFrame,
             framed(QStringLiteral(R"({"kind":"usage","payload":{"usage":{"inputTokens":1200,"outputTokens":3.5}}})")),
             QStringLiteral("usage"), QStringLiteral("Usage update · 1200 input tokens")},
        Case{"TokensAtTheBounds", kFrame,
             framed(
                 QStringLiteral(R"({"kind":"usage","payload":{"inputTokens":1000000001,"outputTokens":1000000000}})")),
             QStringLiteral("usage"), QStringLiteral("Usage update · 1000000000 output tokens")},
        Case{"TokensWrittenAsWholeFloatingPoint", kFrame,
             framed(QStringLiteral(R"({"kind":"usage","payload":{"inputTokens":0.0,"outputTokens":2e3}})")),
             QStringLiteral("usage"), QStringLiteral("Usage update · 0 input tokens · 2000 output tokens")},
        Case{"TokensNegativeBooleanOrHuge", kFrame,
             framed(QStringLiteral(R"({"kind":"usage","payload":{"inputTokens":-1,"outputTokens":true,)"
                                   R"("usage":{"inputTokens":1e300,"outputTokens":-0.5}}})")),
             QStringLiteral("usage"), QStringLiteral("Usage update")},
        Case{"TokensAsTextAddNothing",
             QStringLiteral("usage"),
             {{QStringLiteral("inputTokens"), QStringLiteral("1200")},
              {QStringLiteral("outputTokens"), QStringLiteral("3")}},
             QStringLiteral("usage"),
             QStringLiteral("Usage update")}),
    [](const auto &info) { return std::string(info.param.name); });

// Every field of an event that may carry free text, each holding a marker that must never show.
struct Leak
{
    const char *name;
    QString kind;
    EventPayload payload;
};

class JournalFreeText : public ::testing::TestWithParam<Leak>
{
};

TEST_P(JournalFreeText, NeverReachesTheEntry)
{
    const Leak &c = GetParam();
    const NativeJournalPresentation::Entry entry = NativeJournalPresentation::make(c.kind, c.payload);
    EXPECT_FALSE(entry.headline.contains(QStringLiteral("LEAK"), Qt::CaseInsensitive)) << entry.headline.toStdString();
    EXPECT_FALSE(entry.detail.contains(QStringLiteral("LEAK"), Qt::CaseInsensitive)) << entry.detail.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, JournalFreeText,
    ::testing::Values(
        Leak{"EventKind", QStringLiteral("leak.kind"), {}},
        Leak{"FrameKind", kFrame, framed(QStringLiteral(R"({"kind":"leak kind"})"))},
        Leak{"FrameAgent", kFrame, framed(QStringLiteral(R"({"kind":"text","agent":"leak_agent"})"))},
        Leak{"PayloadAgent", QStringLiteral("text"), {{QStringLiteral("agent"), QStringLiteral("tavrilo_leak")}}},
        Leak{"Tool", QStringLiteral("tool_start"), {{QStringLiteral("tool"), QStringLiteral("leak_tool")}}},
        Leak{"Name", QStringLiteral("tool_start"), {{QStringLiteral("name"), QStringLiteral("leak_name")}}},
        Leak{"Status", QStringLiteral("tool_end"), {{QStringLiteral("status"), QStringLiteral("leaked")}}},
        Leak{"Text", QStringLiteral("text"), {{QStringLiteral("text"), QStringLiteral("the leak")}}},
        Leak{"Prompt", QStringLiteral("plan"), {{QStringLiteral("prompt"), QStringLiteral("leak prompt")}}},
        Leak{"ToolInput", kFrame,
             framed(QStringLiteral(
                 R"({"kind":"tool_start","payload":{"tool":"write_file","input":{"content":"leak"}}})"))},
        Leak{"Reason", kFrame, framed(QStringLiteral(R"({"kind":"error","payload":{"reason":"leak","code":"LEAK"}})"))},
        Leak{"TokenCountAsText", QStringLiteral("usage"), {{QStringLiteral("inputTokens"), QStringLiteral("leak")}}},
        Leak{"UsageObjectKeys", kFrame,
             framed(QStringLiteral(R"({"kind":"usage","payload":{"usage":{"leak":1,"model":"leak"}}})"))},
        Leak{"PayloadText", kFrame, framed(QStringLiteral(R"({"kind":"tool_end","payload":"leak"})"))},
        Leak{"UnparsedFrame", kFrame, framed(QStringLiteral("leak"))}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(JournalDetail, CutsAfterTwoHundredFortyCharactersWithoutSplittingOne)
{
    // Each "e\u0301" is one user-perceived character made of two code units.
    QString accented;
    for (int i = 0; i < 300; ++i)
        accented += QStringLiteral("e\u0301");
    const QString cut = NativeJournalPresentation::detail({accented});
    EXPECT_EQ(cut.size(), 480);
    EXPECT_TRUE(cut.endsWith(QStringLiteral("e\u0301")));

    // The separator counts: "a · " is four characters, so the cut falls inside the second line.
    const QString joined = NativeJournalPresentation::detail({QStringLiteral("a"), QString(300, u'b')});
    EXPECT_EQ(joined, QStringLiteral("a · ") + QString(236, u'b'));
    EXPECT_EQ(NativeJournalPresentation::detail({QString(240, u'c')}), QString(240, u'c'));
}

TEST(JournalBlock, ShowsTheNewestFiveNewestFirst)
{
    EXPECT_EQ(NativeJournalPresentation::block({}).countText,
              QStringLiteral("Last 0 deltas · No cloud evidence inferred"));
    EXPECT_TRUE(NativeJournalPresentation::block({}).rows.isEmpty());

    QList<WorkspaceEvent> events;
    for (int i = 1; i <= 7; ++i)
        events.append(WorkspaceEvent{QString::number(i), {}, {}, {}, QStringLiteral("done"), {}});
    const JournalBlock seven = NativeJournalPresentation::block(events);
    EXPECT_EQ(seven.countText, QStringLiteral("Last 5 deltas · No cloud evidence inferred"));
    QStringList ids;
    for (const JournalRow &row : seven.rows)
        ids.append(row.id);
    EXPECT_EQ(ids, (QStringList{"7", "6", "5", "4", "3"}));
    EXPECT_EQ(seven.rows.front().headline, QStringLiteral("done"));
    EXPECT_EQ(seven.rows.front().detail, QStringLiteral("Turn completed"));

    events.resize(2);
    EXPECT_EQ(NativeJournalPresentation::block(events).countText,
              QStringLiteral("Last 2 deltas · No cloud evidence inferred"));
    EXPECT_EQ(NativeJournalPresentation::block(events).rows.size(), 2);
}

TEST(JournalRoles, TheTestsRoleIdsAreRoles)
{
    // The table above relies on these being the contract's roles.
    EXPECT_TRUE(NativePresence::isRole(QStringLiteral("tavrilo_builder")));
    EXPECT_TRUE(NativePresence::isRole(QStringLiteral("tavrilo_reviewer")));
}
} // namespace
