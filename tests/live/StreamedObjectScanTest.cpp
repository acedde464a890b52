#include "live/StreamedObjectScan.h"
#include "core/Json.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using State = StreamedObjectScan::State;

struct Case
{
    const char *name;
    std::vector<std::string> pieces;
    State want;
};

class StreamedObjectScanTable : public ::testing::TestWithParam<Case>
{
};

TEST_P(StreamedObjectScanTable, Follows)
{
    StreamedObjectScan scan;
    for (const auto &piece : GetParam().pieces)
        scan.feed(piece);
    EXPECT_EQ(scan.state(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Table, StreamedObjectScanTable,
                         ::testing::Values(Case{"Empty", {}, State::Open}, Case{"Blank", {" \n"}, State::Open},
                                           Case{"OpenObject", {"{\"a\":", "[1,2"}, State::Open},
                                           Case{"ClosedAcrossPieces", {"{\"a\"", ":[1,{}]", "}"}, State::Closed},
                                           Case{"TrailingBlank", {"{}", " \r\n\t"}, State::Closed},
                                           Case{"BraceInsideString", {"{\"a\":\"}", "\"", "}"}, State::Closed},
                                           Case{"EscapedQuoteSplit", {"{\"a\":\"\\", "\"}", "\"}"}, State::Closed},
                                           Case{"StillInString", {"{\"a\":\"\\\"}"}, State::Open},
                                           Case{"TrailingText", {"{}", "x"}, State::Never},
                                           Case{"Array", {"[{}]"}, State::Never}, Case{"Number", {"12"}, State::Never},
                                           Case{"ByteOrderMark", {"\xEF\xBB", "\xBF{}"}, State::Closed},
                                           Case{"HalfAMark", {"\xEF{}"}, State::Never},
                                           Case{"MarkAfterBlank", {" \xEF\xBB\xBF{}"}, State::Never}),
                         [](const auto &info) { return info.param.name; });

// Whenever a prefix of a streamed text parses as a JSON object, the scan says so: skipping the
// parser while the scan says otherwise changes no result.
TEST(StreamedObjectScan, NeverMissesAnObject)
{
    const std::vector<std::string> atoms{"{", "}", "}", "}", "[",      "]",       "\"",    "\\",   ":",
                                         ",", " ", "1", "a", "\"k\":", "\"k\":1", "\"}\"", "null", "\xEF\xBB\xBF"};
    QRandomGenerator random(4711);
    int objects = 0;
    for (int round = 0; round < 5000; ++round) {
        StreamedObjectScan scan;
        std::string text = round % 10 == 0 ? "\xEF\xBB\xBF{" : "{";
        scan.feed(text);
        for (int step = 0; step < 10; ++step) {
            std::string piece;
            for (int n = random.bounded(1, 4); n > 0; --n)
                piece += atoms[size_t(random.bounded(int(atoms.size())))];
            text += piece;
            const State state = scan.feed(piece);
            const auto parsed = json::tryParse(text);
            if (parsed && parsed->is_object()) {
                ++objects;
                ASSERT_EQ(state, State::Closed) << text;
            }
        }
    }
    EXPECT_GT(objects, 300); // the walk did reach whole objects
}
} // namespace
