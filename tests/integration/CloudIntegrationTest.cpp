#include "PlatformAnswerCases.h"
#include "cloud/HubNetwork.h"
#include "cloud/HubNetworkError.h"
#include "cloud/NativeControls.h"
#include "cloud/NativeLive.h"
#include "core/Deployment.h"
#include "core/HubError.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QSslCertificate>
#include <QWebSocket>

#include <gtest/gtest.h>

using testsupport::awaitFor;
using Command = NativeControls::Command;

namespace
{
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new SharedStandIn);

StandIn &standIn()
{
    return SharedStandIn::get();
}

HubConfiguration platform()
{
    const std::string_view endpoint = deployment::kDefaultGraphQLEndpoint;
    return platformcases::configurationWithEndpoint(
        QUrl(QString::fromUtf8(endpoint.data(), qsizetype(endpoint.size()))));
}

const QString kSession = QStringLiteral("prj-0123456789abcdef0123456789abcdef01234567");
const QString kToken = QStringLiteral("id-token-1");
const QString kProbe = QStringLiteral("query NativeProbe($n: Int) { probe(n: $n) }");

// Scripts the next answers of one GraphQL operation; the queue starts afresh.
void script(const char *operation, Json script)
{
    standIn().setScenario(Json{{"graphql", {{operation, std::move(script)}}}});
}

qint64 logEnd()
{
    return standIn().logEntries(0).next;
}

std::vector<Json> graphQLEntriesFrom(qint64 from)
{
    std::vector<Json> found;
    for (const Json &entry : standIn().logEntries(from).entries) {
        if (entry.value("kind", "") == "graphql")
            found.push_back(entry);
    }
    return found;
}

QString sentenceOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &error) {
        return errorDescription(error);
    }
    return {};
}

// --- Run controls -------------------------------------------------------------------------------

struct ControlCase
{
    const char *name;
    Command command;
    const char *operation;
};

class RunControl : public ::testing::TestWithParam<ControlCase>
{
};

TEST_P(RunControl, IsAcceptedAndRefusedByThePlatform)
{
    const auto c = GetParam();
    standIn().setScenario(Json::object());
    const qint64 from = logEnd();
    const NativeControls::Answer answer = awaitFor(NativeControls::execute(c.command, platform(), kToken));
    EXPECT_TRUE(answer.ok);

    // The platform saw the operation, its variables (checked there against the schema) and the token.
    const auto entries = graphQLEntriesFrom(from);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["operation"], c.operation);
    EXPECT_EQ(entries[0]["variables"], c.command.request().variables);
    EXPECT_EQ(entries[0]["token"], json::toStd(kToken));
    EXPECT_EQ(entries[0]["query"], json::toStd(c.command.request().query));

    script(c.operation,
           {{"default", {{"answer", {{"ok", false}, {"refusal", "SESSION_CLOSED"}, {"detail", "gone"}}}}}});
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeControls::execute(c.command, platform(), kToken)); }),
              QStringLiteral("Control refused: SESSION_CLOSED"));
}

INSTANTIATE_TEST_SUITE_P(
    Integration, RunControl,
    ::testing::Values(
        ControlCase{"Stop", Command::stop(kSession), "NativeStop"},
        ControlCase{"Interject", Command::interject(kSession, QStringLiteral("Please add tests.")), "NativeInterject"},
        ControlCase{"Approval", Command::approval(kSession, QStringLiteral("tu-1"), QStringLiteral("approved")),
                    "NativeApproval"},
        ControlCase{"ApprovalExpectingTurnAndRevision",
                    Command::approval(kSession, QStringLiteral("tu-1"), QStringLiteral("declined"),
                                      QStringLiteral("turn-2"), QStringLiteral("5")),
                    "NativeApproval"},
        ControlCase{"BrowserToCustomer", Command::browser(kSession, QStringLiteral("customer")), "NativeBrowser"},
        ControlCase{"Pause", Command::runState(kSession, QStringLiteral("paused")), "NativeRunState"},
        ControlCase{"Skip", Command::skip(kSession, QStringLiteral("tu-3"), QStringLiteral("project_search")),
                    "NativeSkip"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Integration, InterjectionAnswerCarriesTheQueuePosition)
{
    standIn().setScenario(Json::object());
    const auto first = awaitFor(NativeControls::execute(
        Command::interject(QStringLiteral("s-queue"), QStringLiteral("a")), platform(), kToken));
    const auto second = awaitFor(NativeControls::execute(
        Command::interject(QStringLiteral("s-queue"), QStringLiteral("b")), platform(), kToken));
    ASSERT_TRUE(first.queued && second.queued);
    EXPECT_EQ(*second.queued, *first.queued + 1);
    EXPECT_EQ(second.round, QStringLiteral("1"));
}

class ControlAnswer : public ::testing::TestWithParam<platformcases::ControlAnswer>
{
};

TEST_P(ControlAnswer, IsCheckedStrictly)
{
    const auto c = GetParam();
    Json step = {{"status", c.status}, {"rawBody", c.body.toStdString()}};
    if (c.status / 100 == 3)
        step["headers"] = {{"Location", "https://api.tavrilo.example/elsewhere"}};
    script("NativeStop", {{"default", step}});
    const qint64 from = logEnd();
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeControls::execute(Command::stop(kSession), platform(), kToken)); }),
              c.sentence);
    // Never a second request: redirects are not followed and nothing is retried.
    EXPECT_EQ(graphQLEntriesFrom(from).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Integration, ControlAnswer, ::testing::ValuesIn(platformcases::controlAnswers()),
                         [](const auto &info) { return info.param.name; });

// --- The GraphQL client ---------------------------------------------------------------------------

TEST(Integration, GraphQLOperationReachesThePlatformWithItsVariables)
{
    standIn().setScenario(Json::object());
    const Json data = awaitFor(NativeLive::graphql(kProbe, Json{{"n", 3}}, platform(), kToken));
    EXPECT_EQ(data, (Json{{"probe", {{"operation", "NativeProbe"}, {"variables", {{"n", 3}}}}}}));
    // It went through the proxy's tunnel, over TLS that the stand-in's authority vouched for.
    EXPECT_TRUE(standIn().waitForEntry(0, [](const Json &e) {
        return e.value("kind", "") == "connect" && e.value("host", "") == "api.tavrilo.example" &&
               e.value("accepted", false);
    }));
    // An empty token is no credential: the platform answers 401.
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeLive::graphql(kProbe, {}, platform(), QString())); }),
              QStringLiteral("Platform request failed."));
}

class GraphQLAnswer : public ::testing::TestWithParam<platformcases::GraphQLAnswer>
{
};

TEST_P(GraphQLAnswer, GivesTheDataOrTheSentence)
{
    const auto c = GetParam();
    Json step = {{"status", c.status}, {"rawBody", c.body.toStdString()}};
    if (c.status / 100 == 3)
        step["headers"] = {{"Location", "https://api.tavrilo.example/elsewhere"}};
    script("NativeProbe", {{"default", step}});
    const qint64 from = logEnd();
    try {
        const Json data = awaitFor(NativeLive::graphql(kProbe, {}, platform(), kToken));
        ASSERT_TRUE(c.data) << "returned " << json::dump(data).toStdString();
        EXPECT_EQ(json::dump(data), *c.data);
    } catch (const HubError &error) {
        ASSERT_FALSE(c.data) << "failed with " << error.what();
        EXPECT_EQ(error.description(), c.sentence);
    }
    EXPECT_EQ(graphQLEntriesFrom(from).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Integration, GraphQLAnswer, ::testing::ValuesIn(platformcases::graphQLAnswers()),
                         [](const auto &info) { return info.param.name; });

TEST(Integration, WithoutEndpointOrCredentialNothingIsSent)
{
    standIn().setScenario(Json::object());
    const qint64 from = logEnd();
    auto unconfigured = platform();
    unconfigured.graphQLEndpoint.reset();
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeLive::graphql(kProbe, {}, unconfigured, kToken)); }),
              QStringLiteral("Missing platform endpoint."));
    const QString signIn = QStringLiteral("Sign in to the configured platform API before sending controls.");
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeControls::execute(Command::stop(kSession), unconfigured, kToken)); }),
              signIn);
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeControls::execute(Command::stop(kSession), platform(), QString())); }),
              signIn);
    // A later request is the first the platform sees.
    awaitFor(NativeLive::graphql(kProbe, {}, platform(), kToken));
    const auto entries = graphQLEntriesFrom(from);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["operation"], "NativeProbe");
}

TEST(Integration, WebSocketsTakeTheSameProxyAndTrust)
{
    const QUrl url(QStringLiteral("wss://api.tavrilo.example/realtime"));
    QWebSocket socket;
    HubNetwork::configure(socket, url);
    EXPECT_EQ(socket.proxy().type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(socket.proxy().hostName(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(socket.proxy().port(), standIn().port());
    const auto authority = QSslCertificate::fromPath(standIn().caPath());
    ASSERT_EQ(authority.size(), 1);
    EXPECT_TRUE(socket.sslConfiguration().caCertificates().contains(authority[0]));
    // The system's authorities stay trusted beside it.
    EXPECT_GT(socket.sslConfiguration().caCertificates().size(), 1);

    // The upgrade request reaches the platform through the tunnel, so TLS was accepted on the way.
    const qint64 from = logEnd();
    socket.open(url);
    EXPECT_TRUE(standIn().waitForEntry(from, [](const Json &e) {
        // Served by the realtime service when the stand-in has one, else answered like any path.
        return (e.value("kind", "") == "request" && e.value("path", "") == "/realtime") ||
               (e.value("kind", "") == "websocket" && e.value("route", "") == "realtime");
    }));
    EXPECT_FALSE(standIn().waitForEntry(
        from, [](const Json &e) { return e.value("kind", "") == "tls_error"; }, std::chrono::milliseconds(0)));
    socket.abort();
}

// --- Transport failures, cancellation and the deadline --------------------------------------------

struct FaultCase
{
    const char *name;
    const char *fault;
};

class TransportFault : public ::testing::TestWithParam<FaultCase>
{
};

TEST_P(TransportFault, IsTheNetworkErrorForEveryCaller)
{
    // Two requests per step: Qt resends once a request whose connection closed before any answer.
    const Json step = {{"fault", GetParam().fault}, {"times", 2}};
    standIn().setScenario(Json{{"graphql", {{"*", {{"default", step}}}}}});
    const QString lost = QStringLiteral("The network connection was lost.");
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeLive::graphql(kProbe, {}, platform(), kToken)); }), lost);
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeControls::execute(Command::stop(kSession), platform(), kToken)); }),
              lost);
}

INSTANTIATE_TEST_SUITE_P(Integration, TransportFault,
                         ::testing::Values(FaultCase{"Drop", "drop"}, FaultCase{"Truncate", "truncate"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Parameters by value: the task outlives the statement that starts it.
QCoro::Task<void> stalledCall(bool control, CancelToken token)
{
    if (control)
        co_await NativeControls::execute(Command::stop(kSession), platform(), kToken, token);
    else
        co_await NativeLive::graphql(kProbe, {}, platform(), kToken, token);
}

TEST(Integration, HostTheProxyRefusesCannotBeReached)
{
    auto elsewhere = platform();
    elsewhere.graphQLEndpoint = QUrl(QStringLiteral("https://unlisted.example.org/graphql"));
    const qint64 from = logEnd();
    EXPECT_EQ(sentenceOf([&] { awaitFor(NativeLive::graphql(kProbe, {}, elsewhere, kToken)); }),
              QStringLiteral("Could not connect to the server."));
    EXPECT_TRUE(standIn().waitForEntry(from, [](const Json &e) {
        return e.value("kind", "") == "connect" && e.value("host", "") == "unlisted.example.org" &&
               !e.value("accepted", true);
    }));
}

TEST(Integration, RequestCancelledMidFlightEndsAtOnce)
{
    standIn().setScenario(Json{{"graphql", {{"*", {{"default", {{"fault", "stall"}}}}}}}});
    for (const bool control : {false, true}) {
        const qint64 from = logEnd();
        CancelSource source;
        QCoro::Task<void> call = stalledCall(control, source.token());
        // Cancel once the platform holds the request.
        ASSERT_TRUE(standIn().waitForEntry(from, [](const Json &e) { return e.value("kind", "") == "graphql"; }));
        source.cancel();
        EXPECT_THROW(awaitFor(std::move(call), std::chrono::seconds(2)), CancelledError);
    }
}

TEST(Integration, WholeRequestDeadlineEndsAStalledRequest)
{
    standIn().setScenario(Json{{"graphql", {{"*", {{"default", {{"fault", "stall"}}}}}}}});
    HubNetwork::Request request =
        NativeLive::request(platform().graphQLEndpoint.value(), kToken, kProbe, Json::object());
    request.deadline = std::chrono::milliseconds(400);
    QElapsedTimer clock;
    clock.start();
    try {
        awaitFor(HubNetwork::send(HubNetwork::shared().httpSession(), request, {}));
        FAIL() << "answered";
    } catch (const HubNetworkError &error) {
        EXPECT_EQ(error.kind(), HubNetworkError::Kind::timedOut);
        EXPECT_EQ(error.description(), QStringLiteral("The request timed out."));
    }
    // Not before its time either.
    EXPECT_GE(clock.elapsed(), 399);

    // A slow answer that arrives within the deadline is taken.
    standIn().setScenario(Json{{"graphql", {{"*", {{"default", {{"delayMs", 300}}}}}}}});
    request.deadline = std::chrono::milliseconds(3000);
    EXPECT_EQ(awaitFor(HubNetwork::send(HubNetwork::shared().httpSession(), request, {})).status, 200);
}
} // namespace
