// The journal's one-pass line decoder gives exactly what the general record decoder gives.
#include "core/JournalLineDecoder.h"

#include <gtest/gtest.h>

namespace
{
std::optional<WorkspaceEvent> general(const QByteArray &line)
{
    const auto json = json::tryParse(line);
    return json ? WorkspaceEvent::decode(*json) : std::nullopt;
}

struct LineCase
{
    const char *name;
    QByteArray line;
    JournalLineDecoder::Outcome simple; // which road the one-pass decoder takes
};

class LineDecoder : public ::testing::TestWithParam<LineCase>
{
};

TEST_P(LineDecoder, AgreesWithTheGeneralDecoder)
{
    const auto &c = GetParam();
    JournalLineDecoder decoder(QStringLiteral("app"), QStringLiteral("t"));
    WorkspaceEvent scratch;
    EXPECT_EQ(decoder.decodeSimple(std::string_view(c.line.constData(), size_t(c.line.size())), scratch), c.simple);
    const auto fast = decoder.decode(std::string_view(c.line.constData(), size_t(c.line.size())));
    const auto slow = general(c.line);
    ASSERT_EQ(fast.has_value(), slow.has_value());
    if (fast) {
        EXPECT_EQ(fast->encode(), slow->encode());
        EXPECT_EQ(fast->payload, slow->payload);
    }
}

using O = JournalLineDecoder::Outcome;
#define REC(payload) R"({"id":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":"k","payload":)" payload "}"

INSTANTIATE_TEST_SUITE_P(
    Table, LineDecoder,
    ::testing::Values(
        LineCase{"Plain", REC(R"({"a":"b"})"), O::Event}, LineCase{"EmptyPayload", REC("{}"), O::Event},
        LineCase{"Escapes", REC(R"({"q":"\"\\\/\b\f\n\r\t","u":"\u00e9\u20ac\ud83d\ude00\u0000"})"), O::Event},
        LineCase{"RawUtf8", REC("{\"x\":\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"}"), O::Event},
        LineCase{"Whitespace",
                 " \t{ \"id\" : \"i\" ,\"timestamp\":\"s\",\"app_id\":\"app\",\"tenant_id\":\"t\",\"kind\":\"k\","
                 "\"payload\" : { \"a\" : \"b\" } } \r\n",
                 O::Event},
        LineCase{"KeysInAnyOrderAndUnknownText",
                 R"({"payload":{},"kind":"k","extra":"x","tenant_id":"t","app_id":"app","timestamp":"s","id":"i"})",
                 O::Event},
        LineCase{
            "DuplicateKeyLastWins",
            R"({"id":"a","id":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":"k","payload":{"a":"1","a":"2"}})",
            O::Event},
        LineCase{"EscapedKey",
                 R"({"\u0069d":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":"k","payload":{}})", O::Event},
        LineCase{"MissingTenant", R"({"id":"i","timestamp":"s","app_id":"app","kind":"k","payload":{}})", O::NotRecord},
        LineCase{"NumberInPayload", REC(R"({"n":1})"), O::General},
        LineCase{"UnknownKeyNumber",
                 R"({"z":1,"id":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":"k","payload":{}})",
                 O::General},
        LineCase{
            "UnknownKeyObject",
            R"({"z":{"a":[1,{"b":null}]},"id":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":"k","payload":{}})",
            O::General},
        LineCase{"NullKind", R"({"id":"i","timestamp":"s","app_id":"app","tenant_id":"t","kind":null,"payload":{}})",
                 O::General},
        LineCase{"PayloadNotObject", REC(R"("x")"), O::General},
        LineCase{"LoneHighSurrogate", REC(R"({"a":"\ud83d"})"), O::General},
        LineCase{"LoneLowSurrogate", REC(R"({"a":"\ude00"})"), O::General},
        LineCase{"BadEscape", REC(R"({"a":"\x"})"), O::General},
        LineCase{"RawControl", REC("{\"a\":\"\x01\"}"), O::General},
        LineCase{"InvalidUtf8", REC("{\"a\":\"\xff\"}"), O::General},
        LineCase{"Overlong", REC("{\"a\":\"\xc0\xaf\"}"), O::General},
        LineCase{"EncodedSurrogate", REC("{\"a\":\"\xed\xa0\x80\"}"), O::General},
        LineCase{"TruncatedUtf8", REC("{\"a\":\"\xe2\x82\"}"), O::General},
        LineCase{"TrailingGarbage", REC("{}") " x", O::General},
        LineCase{"TrailingComma", R"({"id":"i",})", O::General}, LineCase{"Unterminated", R"({"id":"i)", O::General},
        LineCase{"EmptyObject", "{}", O::General}, LineCase{"Empty", "", O::General},
        LineCase{"Bom", "\xef\xbb\xbf" REC("{}"), O::General}, LineCase{"Array", "[]", O::General}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LineDecoderCache, SharedTextsStayCorrectPastTheCacheSize)
{
    JournalLineDecoder decoder(QStringLiteral("app"), QStringLiteral("t"));
    for (int i = 0; i < 300; ++i) {
        const QByteArray kind = "kind-" + QByteArray::number(i % 150);
        const QByteArray line = R"({"id":"i","timestamp":"s)" + QByteArray::number(i / 3) +
                                R"(","app_id":"app","tenant_id":"t","kind":")" + kind + R"(","payload":{"k)" +
                                QByteArray::number(i % 70) + R"(":"v"}})";
        const auto e = decoder.decode(std::string_view(line.constData(), size_t(line.size())));
        ASSERT_TRUE(e);
        EXPECT_EQ(e->kind.toUtf8(), kind);
        EXPECT_EQ(e->timestamp, QStringLiteral("s%1").arg(i / 3));
        EXPECT_EQ(e->payload.firstKey(), QStringLiteral("k%1").arg(i % 70));
    }
}
} // namespace
