// The stand-in's HTTP/1.1 request reader: what it accepts, what it waits for, what it refuses.

#include "standin/HttpRequest.h"

#include <gtest/gtest.h>

namespace
{
struct ParseCase
{
    const char *name;
    QByteArray bytes;
    HttpRequest::Parse result;
};

class Parse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(Parse, ReadsOneRequestFromTheFront)
{
    HttpRequest request;
    qsizetype consumed = 0;
    EXPECT_EQ(HttpRequest::parse(GetParam().bytes, request, consumed), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Parse,
    ::testing::Values(
        ParseCase{"HeadNotYetComplete", "POST /graphql HTTP/1.1\r\nContent-Length: 2\r\n",
                  HttpRequest::Parse::NeedMore},
        ParseCase{"BodyNotYetComplete", "POST /graphql HTTP/1.1\r\nContent-Length: 2\r\n\r\n{",
                  HttpRequest::Parse::NeedMore},
        ParseCase{"Complete", "POST /graphql HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", HttpRequest::Parse::Complete},
        ParseCase{"Connect", "CONNECT api.tavrilo.example:443 HTTP/1.1\r\nHost: x\r\n\r\n",
                  HttpRequest::Parse::Complete},
        ParseCase{"Chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", HttpRequest::Parse::Unsupported},
        ParseCase{"BadRequestLine", "POST /\r\n\r\n", HttpRequest::Parse::Malformed},
        ParseCase{"NotHttp", "POST / SPDY/3\r\n\r\n", HttpRequest::Parse::Malformed},
        ParseCase{"HeaderWithoutColon", "GET / HTTP/1.1\r\nbroken\r\n\r\n", HttpRequest::Parse::Malformed},
        ParseCase{"NegativeLength", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", HttpRequest::Parse::Malformed},
        ParseCase{"BodyOverTheLimit", "POST / HTTP/1.1\r\nContent-Length: 16777217\r\n\r\n",
                  HttpRequest::Parse::BodyTooLarge},
        ParseCase{"EndlessHead", "GET / HTTP/1.1\r\nX: " + QByteArray(70 * 1024, 'a'),
                  HttpRequest::Parse::HeadTooLarge}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HttpRequest, KeepsWhatFollowsTheRequestForTheNextOne)
{
    const QByteArray first = "POST /v1/graphql?x=1 HTTP/1.1\r\nContent-Length: 2\r\nAuthorization: Bearer t\r\n\r\n{}";
    HttpRequest request;
    qsizetype consumed = 0;
    ASSERT_EQ(HttpRequest::parse(first + "GET / HTTP/1.1\r\n", request, consumed), HttpRequest::Parse::Complete);
    EXPECT_EQ(consumed, first.size());
    EXPECT_EQ(request.path, QStringLiteral("/v1/graphql"));
    EXPECT_EQ(request.query.queryItemValue(QStringLiteral("x")), QStringLiteral("1"));
    EXPECT_EQ(request.header("authorization"), "Bearer t");
    EXPECT_EQ(request.body, "{}");
    EXPECT_FALSE(request.wantsClose());
}
} // namespace
