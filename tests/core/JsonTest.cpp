#include "core/HubError.h"
#include "core/JSONValue.h"

#include <gtest/gtest.h>

namespace
{
struct TextCase
{
    const char *name;
    const char *json;
    const char *text;
};

class JSONValueText : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(JSONValueText, RendersForDisplay)
{
    EXPECT_EQ(JSONValue::decode(GetParam().json).text(), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Table, JSONValueText,
                         ::testing::Values(TextCase{"IntegerKeepsFraction", "2", "2.0"},
                                           TextCase{"Negative", "-7", "-7.0"},
                                           TextCase{"Fraction", "0.1", "0.1"},
                                           TextCase{"Large", "1e16", "1e+16"},
                                           TextCase{"Small", "0.00001", "1e-05"},
                                           TextCase{"BelowLarge", "1234567890123456", "1234567890123456.0"},
                                           TextCase{"True", "true", "true"},
                                           TextCase{"StringTrue", "\"true\"", "true"},
                                           TextCase{"Null", "null", "null"},
                                           TextCase{"StringBare", "\"a \\\"b\\\"\"", "a \"b\""},
                                           TextCase{"ObjectSorted", "{\"b\":1,\"a\":\"x\"}", "a: x, b: 1.0"},
                                           TextCase{"NestedArray", "[1,[true]]", "[1.0, [true]]"},
                                           TextCase{"EmptyArray", "[]", "[]"},
                                           TextCase{"EmptyObject", "{}", ""},
                                           TextCase{"ObjectInArray", "[{\"k\":null}]", "[k: null]"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(JSONValue, KindsFollowTheDecodeOrder)
{
    EXPECT_NE(JSONValue::decode("true").boolean(), nullptr);
    EXPECT_EQ(JSONValue::decode("1").boolean(), nullptr);
    EXPECT_NE(JSONValue::decode("1").number(), nullptr);
    EXPECT_NE(JSONValue::decode("\"1\"").string(), nullptr);
    EXPECT_TRUE(JSONValue::decode("null").isNull());
}

TEST(JSONValue, RefusesWhatIsNotJsonOrTooDeep)
{
    const QByteArray bad[] = {"", "{", "tru", "[1,]", "{\"a\" 1}", "\"\xff\"", "01", "1 2", "NaN"};
    for (const auto &bytes : bad)
        EXPECT_THROW(JSONValue::decode(bytes), HubError) << bytes.toStdString();
    EXPECT_THROW(JSONValue::decode(QByteArray(json::kMaxDepth + 1, '[') + QByteArray(json::kMaxDepth + 1, ']')),
                 HubError);
    EXPECT_NO_THROW(JSONValue::decode(QByteArray(json::kMaxDepth, '[') + QByteArray(json::kMaxDepth, ']')));
    // Objects count as levels as arrays do, mixed or not.
    const auto objects = [](int depth) {
        QByteArray text;
        for (int i = 0; i < depth; ++i)
            text += "{\"a\":";
        return text + '1' + QByteArray(depth, '}');
    };
    EXPECT_TRUE(json::tryParse(objects(json::kMaxDepth)));
    EXPECT_FALSE(json::tryParse(objects(json::kMaxDepth + 1)));
    EXPECT_TRUE(json::tryParse("[{\"a\":" + QByteArray(json::kMaxDepth - 2, '[') + QByteArray(json::kMaxDepth - 2, ']') +
                               "}]"));
    EXPECT_FALSE(json::tryParse("[{\"a\":" + QByteArray(json::kMaxDepth - 1, '[') +
                                QByteArray(json::kMaxDepth - 1, ']') + "}]"));
    // Parsing stops at the cap instead of walking (and keeping a stack for) the rest.
    EXPECT_FALSE(json::tryParse(QByteArray(64 << 20, '[')));
}

TEST(Json, QuotedEscapesOnlyWhatJsonRequires)
{
    QByteArray out;
    json::appendQuoted(out, QStringView(u"a\"b\\c\n\u0001/é"));
    EXPECT_EQ(out, QByteArray("\"a\\\"b\\\\c\\n\\u0001/\xc3\xa9\""));
    // Round trip through the parser.
    EXPECT_EQ(json::tryParse(out)->get<std::string>(), std::string("a\"b\\c\n\x01/\xc3\xa9"));
}
TEST(Json, StringsKeepALeadingZeroWidthNoBreakSpace)
{
    // Escaped or written as UTF-8, U+FEFF at the start of a string is a character of it.
    // (QString::fromUtf8 and fromUtf16 both take it for a byte order mark.)
    const Json call = *json::tryParse(QByteArray("{\"a\":\"\\ufeffx\",\"b\":\"\xef\xbb\xbf\",\"c\":\"x\\ufeff\"}"));
    EXPECT_EQ(json::string(call, "a"), QStringView(u"\uFEFFx").toString());
    EXPECT_EQ(json::string(call, "b"), QStringView(u"\uFEFF").toString());
    EXPECT_EQ(json::string(call, "c"), QStringView(u"x\uFEFF").toString());
    EXPECT_EQ(utf8::decode("\xef\xbb\xbf\xff"), QStringView(u"\uFEFF\uFFFD").toString());
}
} // namespace
