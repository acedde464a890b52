#include "core/WorkspaceEvent.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace
{
TEST(StringPayload, ConvertsEachKindOfValue)
{
    const Json input = Json::parse(R"({"b":true,"n":1,"neg":-42,"s":"x","a":[1,2],"o":{"k":"v"},"f":false,
                                      "d":1.5,"z":null})");
    const EventPayload out = WorkspaceEvent::stringPayload(input);
    const EventPayload want{{"b", "true"}, {"n", "1"},      {"neg", "-42"},       {"s", "x"},   {"a", "[1,2]"},
                            {"o", "{\"k\":\"v\"}"}, {"f", "false"}, {"d", "1.5"}, {"z", "null"}};
    EXPECT_EQ(out, want);
    EXPECT_TRUE(WorkspaceEvent::stringPayload(Json::object()).isEmpty());
}

struct IdCase
{
    const char *name;
    const char *frame;
    QString want; // "fallback" or the expected id; a leading "frame:" means Base64 of the array
    QByteArray array;
};

class ProjectionId : public ::testing::TestWithParam<IdCase>
{
};

TEST_P(ProjectionId, FollowsSessionTurnAndSequence)
{
    const auto &c = GetParam();
    const QString got = WorkspaceEvent::projectionID(Json::parse(c.frame), QStringLiteral("fallback"));
    if (!c.array.isEmpty())
        EXPECT_EQ(got, QStringLiteral("frame:") + QString::fromLatin1(c.array.toBase64()));
    else
        EXPECT_EQ(got, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProjectionId,
    ::testing::Values(
        IdCase{"Full", R"({"sessionId":"s","turnId":"t","seq":7,"kind":"text"})", {}, R"(["s","t","7"])"},
        IdCase{"NoTurnUsesSessionTwice", R"({"sessionId":"s","seq":0})", {}, R"(["s","s","0"])"},
        IdCase{"NonTextTurnUsesSession", R"({"sessionId":"s","turnId":5,"seq":-3})", {}, R"(["s","s","-3"])"},
        IdCase{"EscapedSession", R"({"sessionId":"a\"b","seq":1})", {}, R"(["a\"b","a\"b","1"])"},
        IdCase{"TextSeqUsesJournalId", R"({"sessionId":"s","seq":"7","journalEventId":"J"})", "J", {}},
        IdCase{"FloatSeqUsesFallback", R"({"sessionId":"s","seq":7.5})", "fallback", {}},
        // A number without a fraction is an integer however it is written.
        IdCase{"IntegralFloatSeq", R"({"sessionId":"s","turnId":"t","seq":3.0})", {}, R"(["s","t","3"])"},
        IdCase{"ExponentSeq", R"({"sessionId":"s","turnId":"t","seq":3e2})", {}, R"(["s","t","300"])"},
        IdCase{"NegativeZeroSeq", R"({"sessionId":"s","turnId":"t","seq":-0.0})", {}, R"(["s","t","0"])"},
        IdCase{"SeqBeyond64BitsUsesFallback", R"({"sessionId":"s","seq":1e300})", "fallback", {}},
        IdCase{"SeqJustBeyond64BitsUsesFallback", R"({"sessionId":"s","seq":9223372036854775808.0})", "fallback",
               {}},
        IdCase{"NoSessionUsesFallback", R"({"seq":7})", "fallback", {}},
        IdCase{"NonTextJournalIdUsesFallback", R"({"journalEventId":9})", "fallback", {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProjectionId, DependsOnlyOnSessionTurnAndSequence)
{
    const auto a = WorkspaceEvent::projectionID(
        Json::parse(R"({"sessionId":"s","turnId":"t","seq":3,"kind":"text","payload":{"x":1}})"), "f1");
    const auto b = WorkspaceEvent::projectionID(
        Json::parse(R"({"payload":"other","seq":3,"turnId":"t","sessionId":"s","ts":"now"})"), "f2");
    EXPECT_EQ(a, b);
}

TEST(WorkspaceEvent, EncodesAndDecodesStrictly)
{
    const WorkspaceEvent event{WorkspaceEvent::newID(), WorkspaceEvent::now(), "app", "", "kind",
                               {{"k", "v\n\"q\""}, {"é", ""}}};
    const QByteArray line = event.encode();
    EXPECT_TRUE(line.startsWith("{\"id\":"));
    EXPECT_FALSE(line.contains('\n'));
    const auto back = WorkspaceEvent::decode(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, event.id);
    EXPECT_EQ(back->payload, event.payload);
    EXPECT_EQ(back->tenantID, QString());
    EXPECT_EQ(Json::parse(line.toStdString()), event.toJson());

    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\A[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\z"))
                    .match(event.id)
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\A\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\\z"))
                    .match(event.timestamp)
                    .hasMatch());

    const char *refused[] = {
        R"({"id":"i","timestamp":"t","app_id":"a","kind":"k","payload":{}})",
        R"({"id":"i","timestamp":"t","app_id":"a","tenant_id":"","kind":"k","payload":{"n":1}})",
        R"({"id":"i","timestamp":"t","app_id":"a","tenant_id":null,"kind":"k","payload":{}})",
        R"({"id":1,"timestamp":"t","app_id":"a","tenant_id":"","kind":"k","payload":{}})",
        R"({"id":"i","timestamp":"t","app_id":"a","tenant_id":"","kind":"k","payload":[]})",
        R"(["id"])",
        "not json",
    };
    for (const char *line : refused)
        EXPECT_FALSE(WorkspaceEvent::decode(QByteArray(line))) << line;
    EXPECT_TRUE(WorkspaceEvent::decode(
        QByteArray(R"({"extra":[1],"payload":{},"kind":"k","tenant_id":"","app_id":"a","timestamp":"t","id":"i"})")));
}
} // namespace
