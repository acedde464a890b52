#include "workspace/TerminalTranscriptDecoder.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace
{
// The byte offsets at which `utf8` may be cut without splitting a character.
std::vector<qsizetype> characterBoundaries(const QByteArray &utf8)
{
    std::vector<qsizetype> cuts;
    for (qsizetype i = 0; i <= utf8.size(); ++i)
        if (i == utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80)
            cuts.push_back(i);
    return cuts;
}

QByteArray decodeInPieces(const QByteArray &utf8, const std::vector<qsizetype> &cuts)
{
    TerminalTranscriptDecoder decoder;
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        decoder.append(QByteArrayView(utf8).sliced(from, cut - from), out);
        from = cut;
    }
    decoder.append(QByteArrayView(utf8).sliced(from), out);
    return out;
}

struct Case
{
    const char *name;
    QByteArray input;
    QByteArray output;
};

class Decoding : public ::testing::TestWithParam<Case>
{
};

TEST_P(Decoding, GivesTheSameTextWhereverTheInputIsCut)
{
    const Case &c = GetParam();
    EXPECT_EQ(decodeInPieces(c.input, {}), c.output);
    // Every single cut between characters, then one character per call.
    for (qsizetype cut : characterBoundaries(c.input))
        EXPECT_EQ(decodeInPieces(c.input, {cut}), c.output) << "cut at byte " << cut;
    EXPECT_EQ(decodeInPieces(c.input, characterBoundaries(c.input)), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Decoding,
    ::testing::Values(
        Case{"Empty", "", ""}, Case{"CrLfIsOneLineEnd", "a\r\nb", "a\nb"},
        Case{"LoneCrReturnsToTheLineStartAndIsOverwritten", "abc\rX", "Xbc"},
        Case{"ProgressMeterLeavesItsLastState", "10%\r20%\r100%\r\ndone\n", "100%\ndone\n"},
        Case{"LineFeedKeepsTheRestOfAnOverwrittenLine", "abcdef\rXY\nZ", "XYcdef\nZ"},
        Case{"LfCrIsOneLineEnd", "a\n\rb", "a\nb"}, Case{"LfLfStaysTwo", "a\n\nb", "a\n\nb"},
        Case{"DroppedControlKeepsCrLfWhole", "\r\a\n", "\n"},
        Case{"C1ControlKeepsCrLfWhole", "\r\xC2\x85\n", "\n"},
        Case{"WiderCharacterOverwritesNarrower", "abc\r\xC3\xA9", "\xC3\xA9" "bc"},
        Case{"NarrowerCharacterOverwritesWider", "\xE2\x82\xAC\xC3\xA9z\rxy", "xyz"},
        Case{"TabOverwritesOneCharacter", "abc\r\t", "\tbc"},
        Case{"SelectGraphicRendition", "\x1b[31mred\x1b[0m", "red"},
        Case{"ControlSequenceSwallowsLineEnds", "\x1b[1\r\n2Jx", "x"},
        Case{"ControlSequenceSwallowsNonAscii", "\x1b[\xC3\xA9mx", "x"},
        Case{"OscEndsAtBell", "\x1b]0;t\ax", "x"}, Case{"OscEndsAtStringTerminator", "\x1b]0;t\x1b\\x", "x"},
        Case{"EscapeInsideOscStaysInside", "\x1b]0;t\x1b" "b\ax", "x"},
        Case{"DeviceControlIgnoresBell", "\x1bPd\ae\x1b\\x", "x"},
        Case{"StartOfStringPrivacyAndApplicationStrings", "\x1bXa\x1b\\b\x1b^c\x1b\\d\x1b_e\x1b\\f", "bdf"},
        Case{"EscapeInsideControlStringStaysInside", "\x1bPa\x1bz\ab\x1b\\x", "x"},
        Case{"CharacterSetDesignationsLeaveNothing", "\x1b[31merror\x1b(B\x1b[m: \x1b)0\x1b(0lqqk\x1b(B\x1b*A\x1b+B",
             "error: lqqk"},
        Case{"OtherEscapesWithIntermediatesLeaveNothing", "a\x1b#8b\x1b%Gc\x1b F\x1b  Gd", "abcd"},
        Case{"TwoCharacterEscapeConsumesOneCharacter", "\x1b" "7x\x1b" "8y", "xy"},
        Case{"EscapeBeforeNonAsciiConsumesIt", "\x1b\xC3\xA9x", "x"},
        Case{"BackspaceMovesBackOneCharacter", "ab\bc", "ac"},
        Case{"BackspaceStopsAtTheLineStart", "a\b\b\bb", "b"},
        Case{"BackspaceStepsOverAWholeCharacter", "x\xE2\x82\xAC\by", "xy"},
        Case{"BackspaceStaysOnItsLine", "ab\n\bc", "ab\nc"},
        Case{"SpinnerLeavesOnlyWhatFollowsIt", "|\b/\b-\b\\\bdone", "done"},
        Case{"EraseToEndOfLine", "abcdef\r\x1b[Kxy", "xy"}, Case{"EraseToEndWithZero", "abcdef\x1b[3D\x1b[0K", "abc"},
        Case{"EraseToStartOfLine", "abcdef\x1b[3D\x1b[1K", "    ef"},
        Case{"EraseWholeLine", "abcdef\x1b[3D\x1b[2K", "   "},
        Case{"CursorBackThenOverwrite", "abcdef\x1b[2DXY", "abcdXY"},
        Case{"CursorForwardStaysWithinTheText", "abcd\r\x1b[2CX\x1b[9CY", "abXdY"},
        Case{"CursorToColumn", "abcd\x1b[2GX\x1b[GY", "YXcd"},
        Case{"DeleteCharacters", "abcdef\r\x1b[2P\x1b[P", "def"},
        Case{"OnlyTheFirstParameterCounts", "abcdef\x1b[2;5D!", "abcd!f"},
        Case{"PrivateSequencesAreNotApplied", "abc\x1b[?2K\x1b[>1D", "abc"},
        Case{"BracketedPasteTogglesAddNoBlankLines", "$ ls\r\n\x1b[?2004l\rfile\r\n\x1b[?2004h$ ", "$ ls\nfile\n$ "},
        Case{"DeleteIsDropped", "a\x7f" "b", "ab"},
        Case{"OtherC0ControlsAreDropped", QByteArray("a\x00\x01\x0b\x0c\x0e\x1a\x1c\x1f" "b", 10), "ab"},
        Case{"TabAndScalarsFromNoBreakSpaceUpAreKept", "\t\xC2\xA0\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80",
             "\t\xC2\xA0\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        Case{"C1ControlsAreDroppedAndStartNoSequence", "a\xC2\x85" "b\xC2\x9B" "31mc", "ab31mc"},
        Case{"C1ControlOverwritesNothing", "ab\r\xC2\x85" "c", "cb"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TerminalTranscriptDecoder, EmptyInputLeavesTheStateAsItWas)
{
    for (const auto &[first, second, want] : {std::tuple{"ab\r", "\nc", "ab\nc"}, std::tuple{"a\x1b[3", "1mb", "ab"}}) {
        TerminalTranscriptDecoder decoder;
        QByteArray out;
        decoder.append(first, out);
        const TerminalTranscriptDecoder before = decoder;
        decoder.append("", out);
        EXPECT_EQ(decoder, before);
        decoder.append(second, out);
        EXPECT_EQ(out, want);
    }
}

// The caller checks only what the decoder did not: ill-formed bytes, wherever they stand among the
// text, must never be vouched for, while well-formed text must be, or every message is read twice.
TEST(TerminalTranscriptDecoder, VouchesForWellFormedTextOnly)
{
    struct Vouch
    {
        const char *name;
        QByteArray input;
        bool unchecked;
    };
    for (const auto &[name, input, unchecked] : {
             Vouch{"Ascii", "a\x1b[31mb\r\n\t", false},
             Vouch{"CharactersOfEveryLength", "\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", false},
             Vouch{"C1Control", "a\xC2\x85z", false},
             Vouch{"LoneContinuation", "a\x80", true},
             Vouch{"InvalidAfterABlockOfText", "0123456789abcdefghij\xFF", true},
             Vouch{"InvalidRightAfterACharacter", "\xC3\xA9\xFF", true},
             Vouch{"Surrogate", "\xED\xA0\x80", true},
             Vouch{"Overlong", "\xE0\x9F\xBF", true},
             Vouch{"BeyondU10FFFF", "\xF4\x90\x80\x80", true},
             Vouch{"CutAtTheEnd", "a\xE2\x82", true},
         }) {
        TerminalTranscriptDecoder decoder;
        QByteArray out;
        EXPECT_EQ(decoder.append(input, out), unchecked) << name;
        EXPECT_LE(out.size(), input.size()) << name;
    }
}

// Text is looked at many bytes at a time: wherever a sequence, a character or a control falls
// within such a block, near the end of a call or cut across two, the text is the one that one
// character per call gives, and ill-formed bytes are never vouched for.
TEST(TerminalTranscriptDecoder, GivesTheSameTextWhereverABlockIsCut)
{
    struct Piece
    {
        const char *name;
        QByteArray bytes;
        bool illFormed = false;
    };
    const Piece pieces[] = {
        {"Colour", "\x1b[1;31m"},
        {"EraseToEnd", "\x1b[K"},
        {"EraseToEndWithParameters", "\x1b[0;2K"},
        {"EraseToStart", "\x1b[1K"},
        {"EraseAfterCarriageReturn", "\r\x1b[K"},
        {"TitleEndingAtBell", "\x1b]0;title\a"},
        {"TitleEndingAtStringTerminator", "\x1b]0;title\x1b\\"},
        {"TitleWithEscapeInside", "\x1b]0;t\x1bxy\a"},
        {"Designation", "\x1b(B"},
        {"CursorBack", "\x1b[3D"},
        {"TwoByteCharacter", "\xC3\xA9"},
        {"ThreeByteCharacters", "\xE2\x82\xAC\xE2\x94\x82"},
        {"FourByteCharacter", "\xF0\x9F\x98\x80"},
        {"C1Control", "\xC2\x85"},
        {"CrLf", "\r\n"},
        {"LoneCarriageReturn", "\r"},
        {"LineFeed", "\n"},
        {"Backspace", "\b"},
        {"Tab", "\t"},
        {"Bell", "\a"},
        {"IllFormedByte", "\xFF", true},
        {"CutCharacter", "\xE2\x82", true},
    };
    const QByteArray filler = QByteArray("abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!").repeated(3);
    for (const auto &[name, bytes, illFormed] : pieces) {
        for (qsizetype before = 0; before < 80; ++before) {
            for (qsizetype after : {0, 3, 40, 70}) {
                const QByteArray input = filler.left(before) + bytes + filler.mid(before, after);
                const std::vector<qsizetype> boundaries = characterBoundaries(input);
                const QByteArray want = decodeInPieces(input, boundaries);
                TerminalTranscriptDecoder decoder;
                QByteArray whole;
                const std::string where = std::string(name) + " at byte " + std::to_string(before) + ", " +
                                          std::to_string(after) + " bytes of text after it";
                EXPECT_EQ(decoder.append(input, whole), illFormed) << where;
                EXPECT_EQ(whole, want) << where;
                for (qsizetype cut : boundaries) {
                    if (cut > before && cut < before + bytes.size()) {
                        EXPECT_EQ(decodeInPieces(input, {cut}), want) << where << ", cut at " << cut;
                    }
                }
            }
        }
    }
}

// Random terminal-like input, cut at random character boundaries: the output never grows past the
// input and does not depend on where the input was cut.
TEST(TerminalTranscriptDecoder, OutputIsNeverLongerThanInputNorDependsOnCuts)
{
    const std::vector<QByteArray> alphabet = {"\x1b", "[", "]", "\\", "\a", "\r", "\n", "\t", "P", "X", "^", "_",
                                              "m",    "0", ";", "a",  "\b", "K", "D", "P", "2", "(", "#", "\x7f", "\xC2\x85", "\xC2\x9B",
                                              "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"};
    QRandomGenerator random(20261210);
    for (int round = 0; round < 2000; ++round) {
        QByteArray input;
        const int pieces = random.bounded(1, 60);
        for (int i = 0; i < pieces; ++i)
            input += alphabet[random.bounded(int(alphabet.size()))];
        const QByteArray whole = decodeInPieces(input, {});
        ASSERT_LE(whole.size(), input.size()) << input.toHex().constData();

        const std::vector<qsizetype> boundaries = characterBoundaries(input);
        std::vector<qsizetype> cuts;
        for (qsizetype b : boundaries)
            if (random.bounded(3) == 0)
                cuts.push_back(b);
        ASSERT_EQ(decodeInPieces(input, cuts), whole) << input.toHex().constData();
    }
}
} // namespace
