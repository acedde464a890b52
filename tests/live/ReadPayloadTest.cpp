#include "live/ReadPayload.h"

#include <gtest/gtest.h>

namespace
{
enum class Read { Text, Number, Boolean, Null, String, Object, Array };

struct Case
{
    const char *name;
    const char *value;
    Read want;
};

class ReadPayloadValue : public ::testing::TestWithParam<Case>
{
};

// Every value is read as a JSON fragment when it is one, else kept as its text; the shortcut for
// plain text must agree with the parser.
TEST_P(ReadPayloadValue, ReadsAsJsonOrText)
{
    const EventPayload raw{{QStringLiteral("k"), QString::fromUtf8(GetParam().value)}};
    const ReadPayload payload(raw);
    const ReadValue value = payload.value("k");
    ASSERT_TRUE(value.present());
    EXPECT_EQ(bool(ReadPayload::readFragment(raw.value("k"))), value.text == nullptr);
    switch (GetParam().want) {
    case Read::Text:
        EXPECT_EQ(value.text, &raw.find(QStringLiteral("k")).value());
        break;
    case Read::Number:
        EXPECT_TRUE(value.isNumber());
        break;
    case Read::Boolean:
        EXPECT_TRUE(value.isBoolean());
        break;
    case Read::Null:
        EXPECT_TRUE(value.json && value.json->is_null());
        break;
    case Read::String:
        EXPECT_TRUE(value.json && value.json->is_string());
        break;
    case Read::Object:
        EXPECT_TRUE(value.isObject());
        break;
    case Read::Array:
        EXPECT_TRUE(value.isArray());
        break;
    }
    EXPECT_EQ(value.isString(), GetParam().want == Read::Text || GetParam().want == Read::String);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadPayloadValue,
                         ::testing::Values(Case{"Word", "hello", Read::Text}, Case{"Empty", "", Read::Text},
                                           Case{"Blank", "  ", Read::Text}, Case{"Integer", "2", Read::Number},
                                           Case{"PaddedBoolean", " true\n", Read::Boolean},
                                           Case{"Null", "null", Read::Null}, Case{"Quoted", "\"2\"", Read::String},
                                           Case{"PlusSign", "+2", Read::Text}, Case{"LeadingZero", "02", Read::Text},
                                           Case{"TrueWord", "trueish", Read::Text},
                                           Case{"Object", "{\"a\":1}", Read::Object}, Case{"Array", "[1]", Read::Array},
                                           Case{"OpenBrace", "{", Read::Text},
                                           Case{"ByteOrderMark",
                                                "\xEF\xBB\xBF"
                                                "7",
                                                Read::Number}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ReadPayload, AbsentKeyIsAbsent)
{
    const EventPayload raw{{QStringLiteral("a"), QStringLiteral("1")}};
    const ReadPayload payload(raw);
    EXPECT_FALSE(payload.value("b").present());
    EXPECT_EQ(payload.raw("b"), nullptr);
    EXPECT_EQ(*payload.raw("a"), QStringLiteral("1"));
}
} // namespace
