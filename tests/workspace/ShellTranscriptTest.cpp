#include "workspace/ShellTranscript.h"

#include "core/Utf8.h"

#include <gtest/gtest.h>

namespace
{
constexpr quint8 kOut = 1;
constexpr quint8 kErr = 2;

QByteArray text(const ShellTranscript &transcript)
{
    return transcript.utf8().toByteArray();
}

// Characters of one to four bytes, cut at every pair of byte offsets: whatever the cuts, the
// transcript shows the characters whole.
TEST(ShellTranscript, MultiByteCharactersCutAnywhereArriveWhole)
{
    const QByteArray whole = "a\xC3\xA9" "b\xE2\x82\xAC" "c\xF0\x9F\x98\x80" "d";
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        for (qsizetype second = cut; second <= whole.size(); ++second) {
            ShellTranscript transcript;
            transcript.append(QByteArrayView(whole).first(cut), kOut);
            transcript.append(QByteArrayView(whole).sliced(cut, second - cut), kOut);
            transcript.append(QByteArrayView(whole).sliced(second), kOut);
            ASSERT_EQ(text(transcript), whole) << "cuts at " << cut << " and " << second;
        }
    }
}

TEST(ShellTranscript, ChannelsHoldTheirBytesBackApart)
{
    ShellTranscript apart;
    apart.append("\xE2\x82", kOut);
    apart.append("\xAC", kErr);
    EXPECT_EQ(text(apart), "");

    ShellTranscript together;
    together.append("x\xE2\x82", kOut);
    together.append("err\n", kErr);
    together.append("\xAC", kOut);
    EXPECT_EQ(text(together), "xerr\n\xE2\x82\xAC");
}

struct InvalidCase
{
    const char *name;
    std::vector<QByteArray> messages;
    QByteArray shown;
};

class InvalidOutput : public ::testing::TestWithParam<InvalidCase>
{
};

TEST_P(InvalidOutput, IsHeldBackUntilFiveBytesThenShownReplaced)
{
    ShellTranscript transcript;
    for (const QByteArray &message : GetParam().messages)
        transcript.append(message, kOut);
    EXPECT_EQ(text(transcript), GetParam().shown);
}

const QByteArray kReplacement = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidOutput,
    ::testing::Values(
        InvalidCase{"LoneInvalidByteAndThreeValidAreHeldBack", {"\xFF" "abc"}, ""},
        InvalidCase{"FifthByteShowsAllFive", {"\xFF" "abc", "d"}, kReplacement + "abcd"},
        InvalidCase{"ValidTextBeforeAnInvalidTailIsShown", {"abcd\xFF"}, "abcd"},
        InvalidCase{"InvalidByteInsideLongOutputIsReplaced", {"ab\xFF" "cdefgh"}, "ab" + kReplacement + "cdefgh"},
        InvalidCase{"TruncatedSequenceIsOneReplacement", {"\xF0\x9F\x98" "xyzw"}, kReplacement + "xyzw"},
        InvalidCase{"SurrogateIsInvalid", {"\xED\xA0\x80" "xy"}, kReplacement.repeated(3) + "xy"},
        InvalidCase{"OverlongFormIsInvalid", {"\xC0\xAF" "xyz"}, kReplacement.repeated(2) + "xyz"},
        InvalidCase{"BeyondU10FFFFIsInvalid", {"\xF4\x90\x80\x80" "x"}, kReplacement.repeated(4) + "x"},
        InvalidCase{"ReplacementPassesThroughTheDecoder", {"\xFF\x1b[31mred"}, kReplacement + "red"},
        InvalidCase{"HeldBackStartNotContinuedIsReplaced", {"ab\xE2\x82", "xyz"}, "ab" + kReplacement + "xyz"},
        InvalidCase{"CompletedCharacterBeforeInvalidOutput", {"a\xE2\x82", "\xAC\xFF" "bcde"},
                    "a\xE2\x82\xAC" + kReplacement + "bcde"}),
    [](const auto &info) { return std::string(info.param.name); });

// Each channel keeps its own place in a sequence, but both write to one line, as to one screen: what
// standard output writes after standard error's carriage return overwrites it.
TEST(ShellTranscript, OutputIsCleanedPerChannelWithStateAcrossMessages)
{
    ShellTranscript transcript;
    transcript.append("\x1b[3", kOut);
    transcript.append("a\r", kErr);
    transcript.append("1mred\r", kOut);
    transcript.append("\nb", kErr);
    transcript.append("\n", kOut);
    EXPECT_EQ(text(transcript), "red\nb\n");
}

// Past the cap the transcript keeps its last bytes, starting on a whole character.
TEST(ShellTranscript, IsCappedAtItsLastBytesOnAWholeCharacter)
{
    ShellTranscript transcript;
    QByteArray all;
    const QByteArray euro = "\xE2\x82\xAC";
    for (int i = 0; i < 300000; ++i) {
        const QByteArray piece = i % 7 == 0 ? QByteArray("x\n") : euro;
        all += piece;
        transcript.append(piece, kOut);
        ASSERT_LE(transcript.utf8().size(), ShellTranscript::kMaximumBytes);
    }
    const QByteArray kept = text(transcript);
    EXPECT_GE(kept.size(), ShellTranscript::kMaximumBytes - 2);
    EXPECT_TRUE(all.endsWith(kept));
    EXPECT_TRUE(utf8::isWellFormed(QByteArrayView(kept)));
}

TEST(ShellTranscript, ClearStartsAfreshWhileResetChannelsKeepsTheText)
{
    ShellTranscript transcript;
    transcript.append("kept\xE2\x82", kOut);
    transcript.resetChannels();
    transcript.append("\xAC", kOut);
    EXPECT_EQ(text(transcript), "kept");

    transcript.append("\xE2\x82", kOut);
    transcript.clear();
    EXPECT_TRUE(transcript.isEmpty());
    transcript.append("\xAC" "abcd", kOut);
    EXPECT_EQ(text(transcript), kReplacement + "abcd");
}
} // namespace
