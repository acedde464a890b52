#include "cloud/NativeLive.h"
#include "LoopbackHttpServer.h"
#include "PlatformAnswerCases.h"
#include "cloud/DeadlineError.h"
#include "cloud/NativeControls.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

using testsupport::awaitFor;

namespace
{
class GraphQLAnswer : public ::testing::TestWithParam<platformcases::GraphQLAnswer>
{
};

TEST_P(GraphQLAnswer, GivesTheDataOrTheSentence)
{
    const auto c = GetParam();
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(c.status, c.body));
    });
    const auto configuration = platformcases::configurationWithEndpoint(server.url(QStringLiteral("/graphql")));
    try {
        const Json data = awaitFor(NativeLive::graphql(QStringLiteral("query NativeIdentity { x }"), Json::object(),
                                                       configuration, QStringLiteral("id-token")));
        ASSERT_TRUE(c.data) << "returned " << json::dump(data).toStdString();
        EXPECT_EQ(json::dump(data), *c.data);
    } catch (const HubError &error) {
        ASSERT_FALSE(c.data) << "failed with " << error.what();
        EXPECT_EQ(error.description(), c.sentence);
    }
}

INSTANTIATE_TEST_SUITE_P(NativeLive, GraphQLAnswer, ::testing::ValuesIn(platformcases::graphQLAnswers()),
                         [](const auto &info) { return info.param.name; });

TEST(NativeLive, PostsTheEnvelopeWithTheBearerToken)
{
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer server([](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(200, R"({"data":{}})"));
    });
    const QString operation = QStringLiteral("mutation NativeRepairWorkspace($tenantId: ID!) { x }");
    awaitFor(NativeLive::graphql(operation, Json{{"tenantId", "t-1"}},
                                 platformcases::configurationWithEndpoint(server.url(QStringLiteral("/graphql?v=1"))),
                                 QStringLiteral("tok")));
    ASSERT_EQ(server.requests().size(), 1);
    const auto &request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/graphql?v=1");
    EXPECT_EQ(request.header("Authorization"), "Bearer tok");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const Json envelope = json::parse(request.body);
    EXPECT_EQ(envelope, (Json{{"query", json::toStd(operation)}, {"variables", {{"tenantId", "t-1"}}}}));

    // Without variables the envelope still carries an empty object.
    awaitFor(NativeLive::graphql(QStringLiteral("query Q { x }"), Json(),
                                 platformcases::configurationWithEndpoint(server.url()), QStringLiteral("tok")));
    EXPECT_EQ(json::parse(server.requests()[1].body)["variables"], Json::object());
}

// A platform that takes the request and never answers: the query and the run control end in the
// deadline's sentence once the platform's deadline (shortened here) has passed.
TEST(NativeLive, ASilentPlatformEndsInTheDeadline)
{
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer silent([](QTcpSocket *, const LoopbackHttpServer::Received &) {});
    const auto configuration = platformcases::configurationWithEndpoint(silent.url(QStringLiteral("/graphql")));
    HubNetwork::setPlatformDeadline(std::chrono::milliseconds(100));
    const auto restore = qScopeGuard([] { HubNetwork::setPlatformDeadline(std::chrono::seconds(45)); });
    const std::function<QCoro::Task<void>()> requests[] = {
        [&]() -> QCoro::Task<void> {
            co_await NativeLive::graphql(QStringLiteral("query Q { x }"), {}, configuration, QStringLiteral("tok"));
        },
        [&]() -> QCoro::Task<void> {
            co_await NativeControls::execute(NativeControls::Command::stop(QStringLiteral("s-1")), configuration,
                                             QStringLiteral("tok"));
        },
    };
    for (const auto &request : requests) {
        try {
            awaitFor(request());
            ADD_FAILURE() << "no time-out";
        } catch (const DeadlineError &error) {
            EXPECT_EQ(error.description(), QStringLiteral("The request timed out."));
        }
    }
    EXPECT_EQ(silent.requests().size(), 2);
}

TEST(NativeLive, MissingEndpointSendsNothing)
{
    auto configuration = platformcases::configurationWithEndpoint(QUrl());
    configuration.graphQLEndpoint.reset();
    try {
        awaitFor(NativeLive::graphql(QStringLiteral("query Q { x }"), {}, configuration, QStringLiteral("tok")));
        FAIL() << "no error";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Missing platform endpoint."));
    }
}

struct WorkspaceCase
{
    const char *name;
    const char *json;
    bool decodes;
};

class WorkspaceDecoding : public ::testing::TestWithParam<WorkspaceCase>
{
};

TEST_P(WorkspaceDecoding, NeedsAllFourKeysWithTheirTypes)
{
    const auto c = GetParam();
    const Json object = json::parse(c.json);
    if (c.decodes) {
        const auto workspace = NativeLive::Workspace::decode(object);
        EXPECT_EQ(workspace,
                  (NativeLive::Workspace{QStringLiteral("t1"), QStringLiteral("Team"), QStringLiteral("owner"), true}));
    } else {
        EXPECT_THROW(NativeLive::Workspace::decode(object), HubError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    NativeLive, WorkspaceDecoding,
    ::testing::Values(
        WorkspaceCase{"Complete", R"({"tenantId":"t1","tenantName":"Team","role":"owner","isDefault":true})", true},
        WorkspaceCase{"ExtraKeyIgnored",
                      R"({"tenantId":"t1","tenantName":"Team","role":"owner","isDefault":true,"plan":"pro"})", true},
        WorkspaceCase{"MissingIsDefault", R"({"tenantId":"t1","tenantName":"Team","role":"owner"})", false},
        WorkspaceCase{"IsDefaultAsString", R"({"tenantId":"t1","tenantName":"Team","role":"owner","isDefault":"true"})",
                      false},
        WorkspaceCase{"NullName", R"({"tenantId":"t1","tenantName":null,"role":"owner","isDefault":true})", false},
        WorkspaceCase{"NumericTenant", R"({"tenantId":1,"tenantName":"Team","role":"owner","isDefault":true})", false},
        WorkspaceCase{"NotAnObject", R"(["t1"])", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NativeLive, OneBadWorkspaceFailsTheList)
{
    const Json good = json::parse(R"({"tenantId":"t1","tenantName":"Team","role":"owner","isDefault":false})");
    EXPECT_EQ(NativeLive::Workspace::decodeList(Json::array({good, good})).size(), 2);
    EXPECT_THROW(NativeLive::Workspace::decodeList(Json::array({good, Json{{"tenantId", "t2"}}})), HubError);
    EXPECT_THROW(NativeLive::Workspace::decodeList(good), HubError);
}
} // namespace
