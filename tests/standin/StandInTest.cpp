// The stand-in platform itself, run as its own process and reached the way the hub reaches it: a
// plain QNetworkAccessManager through its CONNECT proxy, over TLS trusted through its authority.

#include "StandInClient.h"
#include "StandInTestBase.h"

#include "support/StandIn.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSslCertificate>

#include <gtest/gtest.h>

namespace
{
const char *kStopQuery =
    "mutation NativeStop($sessionId: ID!) { tavriloStopRun(sessionId: $sessionId) { ok refusal detail } }";

Json stopCall(const std::string &session)
{
    return Json{{"query", kStopQuery}, {"variables", {{"sessionId", session}}}};
}

// --- CONNECT policy -------------------------------------------------------------------------------

struct ConnectCase
{
    const char *name;
    const char *authority;
    bool accepted;
};

class ConnectPolicy : public StandInTest, public ::testing::WithParamInterface<ConnectCase>
{
};

TEST_P(ConnectPolicy, AcceptsPlatformHostsOnly)
{
    const ConnectCase &c = GetParam();
    const QByteArray status = connectStatus(c.authority);
    EXPECT_EQ(status, c.accepted ? "HTTP/1.1 200 Connection Established" : "HTTP/1.1 403 Forbidden");
    const auto connects = entriesOfKind("connect");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0]["accepted"], c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ConnectPolicy,
    ::testing::Values(ConnectCase{"ApiHost", "api.tavrilo.example:443", true},
                      ConnectCase{"SignInHost", "auth.tavrilo.example:443", true},
                      ConnectCase{"SecondSignInHost", "login.tavrilo-cloud.example:443", true},
                      ConnectCase{"HostUnderPlatformDomain", "live.view.tavrilo-cloud.example:443", true},
                      ConnectCase{"UpperCaseHost", "API.Tavrilo.Example:443", true},
                      ConnectCase{"AppSyncGraphQL", "abc123.appsync-api.eu-west-1.amazonaws.com:443", true},
                      ConnectCase{"AppSyncRealtime", "abc123.appsync-realtime-api.us-east-1.amazonaws.com:443", true},
                      ConnectCase{"CommandChannel", "bedrock-agentcore.us-west-2.amazonaws.com:443", true},
                      ConnectCase{"OtherHost", "example.com:443", false},
                      ConnectCase{"PlatformNameInsideOtherDomain", "api.tavrilo.example.evil.net:443", false},
                      ConnectCase{"DomainWithoutDotBoundary", "eviltavrilo.example:443", false},
                      ConnectCase{"OtherAmazonService", "abc.s3.us-east-1.amazonaws.com:443", false},
                      ConnectCase{"AppSyncWithBadRegion", "abc.appsync-api.eu_west.amazonaws.com:443", false},
                      ConnectCase{"OtherPort", "api.tavrilo.example:8443", false},
                      ConnectCase{"NoPort", "api.tavrilo.example", false},
                      ConnectCase{"NotADnsName", "a,DNS:x.y.tavrilo.example:443", false},
                      // U+212A KELVIN SIGN lower-cases to "k": judged on the bytes as sent, never after mapping.
                      ConnectCase{"KelvinSignForK", "bedroc\xE2\x84\xAA-agentcore.us-west-2.amazonaws.com:443", false},
                      ConnectCase{"SignedPort", "api.tavrilo.example:+443", false},
                      ConnectCase{"Loopback", "127.0.0.1:443", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInTest, ScenarioHostsWidenTheConnectPolicy)
{
    EXPECT_EQ(connectStatus("shell.example.net:443"), "HTTP/1.1 403 Forbidden");
    standIn().setScenario({{"hosts", {"Shell.Example.Net"}}});
    EXPECT_EQ(connectStatus("shell.example.net:443"), "HTTP/1.1 200 Connection Established");
    standIn().setScenario(Json::object());
    EXPECT_EQ(connectStatus("shell.example.net:443"), "HTTP/1.1 403 Forbidden");
}

TEST_F(StandInTest, ConnectFaultsAreScriptedPerHost)
{
    standIn().setScenario(
        {{"connect",
          {{"auth.tavrilo.example", {{"queue", {{{"fault", "refuse"}}, {{"fault", "drop"}}}}}},
           {"*", {{"queue", {{{"match", {{"host", "login.tavrilo-cloud.example"}}}, {"delayMs", 100}}}}}}}}});
    EXPECT_EQ(connectStatus("auth.tavrilo.example:443"), "HTTP/1.1 502 Bad Gateway");
    EXPECT_EQ(connectStatus("auth.tavrilo.example:443"), ""); // closed without an answer
    EXPECT_EQ(connectStatus("auth.tavrilo.example:443"), "HTTP/1.1 200 Connection Established");
    EXPECT_EQ(connectStatus("login.tavrilo-cloud.example:443"), "HTTP/1.1 200 Connection Established");
    // The policy comes first: a script does not open hosts the stand-in does not play.
    standIn().setScenario({{"connect", {{"example.com", {{"default", Json::object()}}}}}});
    EXPECT_EQ(connectStatus("example.com:443"), "HTTP/1.1 403 Forbidden");

    const auto faults = entriesOfKind("connect_fault");
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0]["fault"], "refuse");
    EXPECT_EQ(faults[1]["fault"], "drop");
}

TEST_F(StandInTest, RefusedTunnelFailsTheRequestAtTheProxy)
{
    standIn().setScenario({{"connect", {{"api.tavrilo.example", {{"default", {{"fault", "refuse"}}}}}}}});
    StandInClient client(standIn());
    const auto answer = client.graphql(stopCall("s-unreachable"));
    EXPECT_NE(answer.error, QNetworkReply::NoError);
    EXPECT_EQ(answer.status, 0);
    EXPECT_TRUE(entriesOfKind("graphql").empty());
}

// --- TLS ------------------------------------------------------------------------------------------

TEST_F(StandInTest, TerminatesTlsWithACertificateForTheHostTrustedThroughItsAuthority)
{
    StandInClient client(standIn());
    const auto answer = client.send(QUrl(QStringLiteral("https://abc.appsync-api.eu-west-1.amazonaws.com/nothing")));
    EXPECT_EQ(answer.error, QNetworkReply::ContentNotFoundError);
    EXPECT_EQ(answer.status, 404);
    EXPECT_TRUE(answer.peer.subjectAlternativeNames()
                    .values(QSsl::DnsEntry)
                    .contains(QStringLiteral("abc.appsync-api.eu-west-1.amazonaws.com")));

    const auto authority = QSslCertificate::fromPath(standIn().caPath());
    ASSERT_EQ(authority.size(), 1);
    EXPECT_TRUE(QFileInfo(standIn().caPath()).isAbsolute());
    EXPECT_EQ(answer.peer.issuerInfo(QSslCertificate::CommonName),
              authority[0].subjectInfo(QSslCertificate::CommonName));
}

// Real AppSync hosts run to 80 characters, past the 64 a common name may hold: the host is always
// in subjectAltName, and in the common name only where it fits.
struct HostNameCase
{
    const char *name;
    const char *host;
    bool inCommonName;
};

class HostCertificates : public StandInTest, public ::testing::WithParamInterface<HostNameCase>
{
};

TEST_P(HostCertificates, NameTheHostInSubjectAltName)
{
    const QString host = QString::fromLatin1(GetParam().host);
    StandInClient client(standIn());
    const auto answer = client.send(QUrl(QStringLiteral("https://%1/nothing").arg(host)));
    EXPECT_EQ(answer.status, 404) << host.size() << " characters";
    EXPECT_EQ(answer.peer.subjectAlternativeNames().values(QSsl::DnsEntry), QStringList{host});
    EXPECT_EQ(answer.peer.subjectInfo(QSslCertificate::CommonName),
              GetParam().inCommonName ? QStringList{host} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, HostCertificates,
    ::testing::Values(
        HostNameCase{"Short", "api.tavrilo.example", true},
        HostNameCase{"SixtyFour", "abcdefghijklmnopqrstuvwxyz01.appsync-api.us-east-1.amazonaws.com", true},
        HostNameCase{"SixtyFive", "abcdefghijklmnopqrstuvwxyz012.appsync-api.us-east-1.amazonaws.com", false},
        HostNameCase{"Eighty", "abcdefghijklmnopqrstuvwxyz0123.appsync-realtime-api.ap-southeast-2.amazonaws.com",
                     false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInTest, ClosesATunnelWhoseClientDoesNotSpeakTls)
{
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QStringLiteral("127.0.0.1"), standIn().port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("CONNECT api.tavrilo.example:443 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(testsupport::waitUntil([&] {
        socket.waitForReadyRead(10);
        return socket.canReadLine();
    }));
    socket.write("GET /graphql HTTP/1.1\r\nHost: api.tavrilo.example\r\n\r\n"); // plain text inside the tunnel
    EXPECT_TRUE(testsupport::waitUntil([&] {
        socket.waitForReadyRead(10);
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_EQ(entriesOfKind("tls_error").size(), 1u);
    EXPECT_TRUE(entriesOfKind("request").empty());
}

TEST_F(StandInTest, IsNotTrustedWithoutItsAuthority)
{
    StandInClient client(standIn(), /*trustAuthority=*/false);
    const auto answer = client.graphql(stopCall("s-untrusted"));
    EXPECT_EQ(answer.error, QNetworkReply::SslHandshakeFailedError);
    EXPECT_TRUE(entriesOfKind("graphql").empty());
}

// --- GraphQL: the run controls' own answers -------------------------------------------------------

struct ControlCase
{
    const char *name;
    const char *query;
    const char *variables; // JSON
    const char *field;
};

class RunControls : public StandInTest, public ::testing::WithParamInterface<ControlCase>
{
};

TEST_P(RunControls, AcceptAWellFormedControl)
{
    const ControlCase &c = GetParam();
    const Json variables = Json::parse(c.variables);
    StandInClient client(standIn());
    const auto answer = client.graphql({{"query", c.query}, {"variables", variables}}, "identity-token");
    ASSERT_EQ(answer.status, 200);
    const Json body = Json::parse(answer.body.toStdString());
    ASSERT_FALSE(body.contains("errors")) << answer.body.toStdString();
    const Json &result = body["data"][c.field];
    EXPECT_EQ(result["ok"], true);
    EXPECT_TRUE(result.contains("refusal") && result["refusal"].is_null());
    if (std::string_view(c.field) == "tavriloInterject") {
        EXPECT_EQ(result["queued"], 1);
        EXPECT_TRUE(result["round"].is_string());
    }

    const auto requests = entriesOfKind("request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["headers"]["authorization"], "Bearer identity-token");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    const auto calls = entriesOfKind("graphql");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["operation"], c.name);
    EXPECT_EQ(calls[0]["variables"], variables);
    EXPECT_EQ(calls[0]["token"], "identity-token");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RunControls,
    ::testing::Values(
        ControlCase{"NativeStop", kStopQuery, R"({"sessionId":"s-stop"})", "tavriloStopRun"},
        ControlCase{"NativeInterject",
                    "mutation NativeInterject($input: TavriloInterjectInput!) { tavriloInterject(input: $input) { ok "
                    "refusal detail queued round } }",
                    R"({"input":{"sessionId":"s-interject","text":"look at the tests"}})", "tavriloInterject"},
        ControlCase{
            "NativeApproval",
            "mutation NativeApproval($input: TavriloApprovalDecisionInput!) { tavriloRecordApproval(input: "
            "$input) { ok refusal detail } }",
            R"({"input":{"sessionId":"s","toolUseId":"t1","decision":"approved","expectedTurnId":"turn-1","expectedRevision":"3"}})",
            "tavriloRecordApproval"},
        ControlCase{"NativeBrowser",
                    "mutation NativeBrowser($input: TavriloBrowserControlInput!) { tavriloSetBrowserControl(input: "
                    "$input) { ok refusal detail } }",
                    R"({"input":{"sessionId":"s","holder":"customer"}})", "tavriloSetBrowserControl"},
        ControlCase{"NativeRunState",
                    "mutation NativeRunState($input: TavriloSetRunStateInput!) { tavriloSetRunState(input: $input) { "
                    "ok refusal detail } }",
                    R"({"input":{"sessionId":"s","state":"paused","reason":"Human operator requested paused"}})",
                    "tavriloSetRunState"},
        ControlCase{
            "NativeSkip",
            "mutation NativeSkip($input: TavriloSkipStepInput!) { tavriloSkipStep(input: $input) { ok refusal "
            "detail } }",
            R"({"input":{"sessionId":"s","toolUseId":"t2","tool":"project_read","reason":"Human operator requested skip-step"}})",
            "tavriloSkipStep"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInTest, RunControlsCheckTheirVariablesLikeTheSchema)
{
    StandInClient client(standIn());
    const char *approval = "mutation NativeApproval($input: TavriloApprovalDecisionInput!) { "
                           "tavriloRecordApproval(input: $input) { ok refusal detail } }";
    for (const Json &variables :
         {Json{{"input", {{"sessionId", "s"}, {"toolUseId", "t"}}}},                  // no decision
          Json{{"input", {{"sessionId", "s"}, {"toolUseId", "t"}, {"decision", 1}}}}, // not text
          Json{{"input",
                {{"sessionId", "s"},
                 {"toolUseId", "t"},
                 {"decision", "approved"},
                 {"expectedTurnId", nullptr}}}}, // null, never sent by the hub
          Json{{"sessionId", "s"}}}) {           // no input object
        const auto answer = client.graphql({{"query", approval}, {"variables", variables}});
        ASSERT_EQ(answer.status, 200);
        const Json body = Json::parse(answer.body.toStdString());
        EXPECT_TRUE(body["data"].is_null()) << variables.dump();
        EXPECT_EQ(body["errors"][0]["errorType"], "ValidationError") << variables.dump();
    }
}

TEST_F(StandInTest, ProbeEchoesTheOperationAndItsVariables)
{
    StandInClient client(standIn());
    const Json variables{{"n", 1}, {"nested", {{"list", {true, nullptr, 2.5}}}}};
    const auto answer =
        client.graphql({{"query", "query NativeProbe($n: Int) { probe(n: $n) }"}, {"variables", variables}});
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(Json::parse(answer.body.toStdString()),
              (Json{{"data", {{"probe", {{"operation", "NativeProbe"}, {"variables", variables}}}}}}));
}

TEST_F(StandInTest, RefusesCallsWithoutABearerTokenAndNamesUnknownOperations)
{
    StandInClient client(standIn());
    const auto unauthorized = client.graphql(stopCall("s"), /*token=*/"");
    EXPECT_EQ(unauthorized.status, 401);
    EXPECT_EQ(Json::parse(unauthorized.body.toStdString())["errors"][0]["errorType"], "UnauthorizedException");

    // As the public service: "data" null beside the errors of a document it cannot validate.
    const auto unknown = client.graphql({{"query", "query NativeNowhere { nowhere }"}, {"variables", Json::object()}});
    ASSERT_EQ(unknown.status, 200);
    const Json body = Json::parse(unknown.body.toStdString());
    ASSERT_TRUE(body.contains("data"));
    EXPECT_TRUE(body["data"].is_null());
    ASSERT_EQ(body["errors"].size(), 1u);
    EXPECT_TRUE(body["errors"][0]["message"].is_string());
}

// A body that is no GraphQL request is a malformed request, as the public service answers it.
struct MalformedCase
{
    const char *name;
    QByteArray body;
    const char *message;
};

class MalformedRequests : public StandInTest, public ::testing::WithParamInterface<MalformedCase>
{
};

TEST_P(MalformedRequests, AreAnswered400)
{
    StandInClient client(standIn());
    const auto answer = client.send(StandInClient::endpoint(), GetParam().body);
    EXPECT_EQ(answer.status, 400);
    const Json body = Json::parse(answer.body.toStdString());
    EXPECT_FALSE(body.contains("data"));
    EXPECT_EQ(body["errors"],
              Json::array({{{"errorType", "MalformedHttpRequestException"}, {"message", GetParam().message}}}));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MalformedRequests,
    ::testing::Values(MalformedCase{"Empty", "", "Request body is empty."},
                      MalformedCase{"NotJson", "meow", "Unable to parse GraphQL query."},
                      MalformedCase{"EmptyObject", "{}", "Unable to parse GraphQL query."},
                      MalformedCase{"Array", "[]", "Unable to parse GraphQL query."},
                      MalformedCase{"QueryNotText", R"({"query":1})", "Unable to parse GraphQL query."},
                      MalformedCase{"VariablesNotAnObject", R"({"query":"query NativeProbe { probe }","variables":5})",
                                    "Unable to parse GraphQL query."}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Scripted answers -----------------------------------------------------------------------------

struct ScriptCase
{
    const char *name;
    const char *step; // JSON of a NativeStop step
    int status;
    std::optional<std::string> body; // exact body, when the case fixes it
    qsizetype bodySize = -1;
    const char *location = "";
};

class ScriptedAnswers : public StandInTest, public ::testing::WithParamInterface<ScriptCase>
{
};

TEST_P(ScriptedAnswers, ShapeTheAnswer)
{
    const ScriptCase &c = GetParam();
    standIn().setScenario({{"graphql", {{"NativeStop", {{"default", Json::parse(c.step)}}}}}});
    StandInClient client(standIn());
    const auto answer = client.graphql(stopCall("s-scripted"));
    EXPECT_EQ(answer.status, c.status);
    if (c.body) {
        EXPECT_EQ(answer.body.toStdString(), *c.body);
    }
    if (c.bodySize >= 0) {
        EXPECT_EQ(answer.body.size(), c.bodySize);
        const auto parsed = json::tryParse(answer.body);
        ASSERT_TRUE(parsed) << "padding keeps the document valid";
        EXPECT_EQ((*parsed)["data"]["tavriloStopRun"]["ok"], true);
    }
    EXPECT_EQ(answer.location, QByteArray(c.location));
    const auto responses = entriesOfKind("response");
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0]["scripted"], true);
    EXPECT_EQ(responses[0]["bytes"], answer.body.size());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ScriptedAnswers,
    ::testing::Values(
        ScriptCase{"ServerError", R"({"status":500})", 500, ""},
        ScriptCase{"Forbidden", R"({"status":403,"body":{"message":"no"}})", 403, R"({"message":"no"})"},
        ScriptCase{"RedirectIsNotFollowed",
                   R"({"status":302,"headers":{"Location":"https://api.tavrilo.example/moved"}})", 302, "", -1,
                   "https://api.tavrilo.example/moved"},
        ScriptCase{"BodyOfExactlyTheCap", R"({"answer":{"ok":true},"bodySize":1048576})", 200, std::nullopt, 1048576},
        ScriptCase{"BodyOneByteOverTheCap", R"({"answer":{"ok":true},"bodySize":1048577})", 200, std::nullopt, 1048577},
        ScriptCase{"MalformedJson", R"({"rawBody":"{\"data\": {"})", 200, R"({"data": {)"},
        ScriptCase{"EmptyBody", R"({"rawBody":""})", 200, ""},
        ScriptCase{"ErrorsWithAndWithoutMessage",
                   R"({"errors":[{"message":"first"},{},{"message":"third"}],"data":{"tavriloStopRun":{"ok":true}}})",
                   200,
                   R"({"data":{"tavriloStopRun":{"ok":true}},"errors":[{"message":"first"},{},{"message":"third"}]})"},
        ScriptCase{"Refusal", R"({"answer":{"ok":false,"refusal":"SESSION_CLOSED"}})", 200,
                   R"({"data":{"tavriloStopRun":{"ok":false,"refusal":"SESSION_CLOSED"}}})"},
        ScriptCase{"MissingOk", R"({"answer":{"refusal":"X"}})", 200, R"({"data":{"tavriloStopRun":{"refusal":"X"}}})"},
        ScriptCase{"OkOfTheWrongType", R"({"answer":{"ok":"true"}})", 200,
                   R"({"data":{"tavriloStopRun":{"ok":"true"}}})"},
        ScriptCase{"NullAnswer", R"({"answer":null})", 200, R"({"data":{"tavriloStopRun":null}})"},
        ScriptCase{"TopLevelArray", R"({"body":[1,2]})", 200, "[1,2]"},
        ScriptCase{"BodyLongerThanItsSizeIsAScenarioMistake", R"({"rawBody":"0123456789","bodySize":4})", 500,
                   std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

struct FaultCase
{
    const char *name;
    const char *fault;
    QNetworkReply::NetworkError error;
};

class ScriptedFaults : public StandInTest, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(ScriptedFaults, BreakTheExchange)
{
    const FaultCase &c = GetParam();
    // A default, so that the network stack's one resend after a closed connection meets it too.
    standIn().setScenario({{"graphql", {{"NativeStop", {{"default", {{"fault", c.fault}}}}}}}});
    StandInClient client(standIn());
    const auto answer = client.graphql(stopCall("s-fault"));
    EXPECT_EQ(answer.error, c.error);
    const auto responses = entriesOfKind("response");
    ASSERT_FALSE(responses.empty());
    EXPECT_EQ(responses[0]["fault"], c.fault);
}

INSTANTIATE_TEST_SUITE_P(Faults, ScriptedFaults,
                         ::testing::Values(FaultCase{"Drop", "drop", QNetworkReply::RemoteHostClosedError},
                                           FaultCase{"Truncate", "truncate", QNetworkReply::RemoteHostClosedError}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInTest, StalledAnswerNeverArrivesUntilTheClientGivesUp)
{
    standIn().setScenario(
        {{"graphql",
          {{"NativeStop",
            {{"queue", {{{"match", {{"variables", {{"sessionId", "stuck"}}}}}, {"fault", "stall"}}}}}}}}});
    StandInClient stalled(standIn());
    QNetworkReply *reply = stalled.start(StandInClient::endpoint(), json::dump(stopCall("stuck")));
    ASSERT_TRUE(standIn().waitForEntry(
        m_cursor, [](const Json &e) { return e["kind"] == "response" && e.value("fault", "") == "stall"; }));

    // A later exchange on another connection completes while the stalled one still waits.
    StandInClient other(standIn());
    EXPECT_EQ(other.graphql(stopCall("free")).status, 200);
    EXPECT_FALSE(reply->isFinished());

    reply->abort();
    EXPECT_EQ(StandInClient::finish(reply).error, QNetworkReply::OperationCanceledError);
}

TEST_F(StandInTest, DelayedAnswerArrivesAfterALaterUndelayedOne)
{
    standIn().setScenario(
        {{"graphql",
          {{"NativeStop", {{"queue", {{{"match", {{"variables", {{"sessionId", "slow"}}}}}, {"delayMs", 300}}}}}}}}});
    StandInClient slowClient(standIn());
    StandInClient fastClient(standIn());
    QNetworkReply *slow = slowClient.start(StandInClient::endpoint(), json::dump(stopCall("slow")));
    ASSERT_TRUE(standIn().waitForEntry(
        m_cursor, [](const Json &e) { return e["kind"] == "graphql" && e["variables"]["sessionId"] == "slow"; }));
    const auto fast = fastClient.graphql(stopCall("fast"));
    EXPECT_EQ(fast.status, 200);
    EXPECT_FALSE(slow->isFinished());
    const auto late = StandInClient::finish(slow);
    EXPECT_EQ(late.status, 200);
    EXPECT_EQ(Json::parse(late.body.toStdString())["data"]["tavriloStopRun"]["ok"], true);
}

TEST_F(StandInTest, QueueEntriesAreSpentInOrderThenTheDefaultServes)
{
    standIn().setScenario(
        {{"graphql",
          {{"NativeStop",
            {{"queue",
              {{{"match", {{"variables", {{"sessionId", "vip"}}}}}, {"answer", {{"ok", false}, {"refusal", "VIP"}}}},
               {{"times", 2}, {"answer", {{"ok", false}, {"refusal", "FIRST"}}}},
               {{"status", 503}}}},
             {"default", {{"answer", {{"ok", false}, {"refusal", "DEFAULT"}}}}}}},
           {"*", {{"default", {{"status", 502}}}}}}}});
    StandInClient client(standIn());
    auto refusalOf = [&](const std::string &session) -> std::string {
        const auto answer = client.graphql(stopCall(session));
        if (answer.status != 200)
            return std::to_string(answer.status);
        return Json::parse(answer.body.toStdString())["data"]["tavriloStopRun"]["refusal"].get<std::string>();
    };
    EXPECT_EQ(refusalOf("a"), "FIRST");
    EXPECT_EQ(refusalOf("vip"), "VIP");
    EXPECT_EQ(refusalOf("vip"), "FIRST");
    EXPECT_EQ(refusalOf("a"), "503");
    EXPECT_EQ(refusalOf("a"), "DEFAULT");
    EXPECT_EQ(refusalOf("a"), "DEFAULT");

    // "*" serves operations without a script of their own.
    const auto probe = client.graphql({{"query", "query NativeProbe { probe }"}, {"variables", Json::object()}});
    EXPECT_EQ(probe.status, 502);
}

// --- Control channel and log ----------------------------------------------------------------------

struct InvalidScenarioCase
{
    const char *name;
    const char *scenario;
};

class InvalidScenarios : public StandInTest, public ::testing::WithParamInterface<InvalidScenarioCase>
{
};

TEST_P(InvalidScenarios, AreRefusedAndTheCurrentOneStays)
{
    standIn().setScenario({{"graphql", {{"NativeStop", {{"default", {{"status", 503}}}}}}}});
    const auto reply = standIn().control("POST", "/_standin/scenario", GetParam().scenario);
    EXPECT_EQ(reply.status, 400);
    const auto error = json::tryParse(reply.body);
    ASSERT_TRUE(error && json::string(*error, "error"));
    EXPECT_FALSE(json::string(*error, "error")->isEmpty());

    StandInClient client(standIn());
    EXPECT_EQ(client.graphql(stopCall("s")).status, 503);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, InvalidScenarios,
    ::testing::Values(
        InvalidScenarioCase{"NotJson", "{"}, InvalidScenarioCase{"NotAnObject", "[]"},
        InvalidScenarioCase{"UnknownSection", R"({"grapql":{}})"},
        InvalidScenarioCase{"HostsNotStrings", R"({"hosts":[1]})"},
        InvalidScenarioCase{"ScriptNotAnObject", R"({"graphql":{"NativeStop":[]}})"},
        InvalidScenarioCase{"UnknownScriptMember", R"({"graphql":{"NativeStop":{"queu":[]}}})"},
        InvalidScenarioCase{"UnknownFault", R"({"graphql":{"NativeStop":{"default":{"fault":"explode"}}}})"},
        InvalidScenarioCase{"UnknownStepMember", R"({"graphql":{"NativeStop":{"default":{"stauts":500}}}})"},
        InvalidScenarioCase{"StatusOutOfRange", R"({"graphql":{"NativeStop":{"default":{"status":600}}}})"},
        InvalidScenarioCase{"InformationalStatus", R"({"graphql":{"NativeStop":{"default":{"status":101}}}})"},
        InvalidScenarioCase{"TwoBodies", R"({"graphql":{"NativeStop":{"default":{"rawBody":"","body":1}}}})"},
        InvalidScenarioCase{"GraphQLMemberOnAnHttpsRoute", R"({"https":{"token":{"default":{"answer":1}}}})"},
        InvalidScenarioCase{"TimesZero", R"({"graphql":{"NativeStop":{"queue":[{"times":0}]}}})"},
        InvalidScenarioCase{"ConnectFaultOfAnHttpStep", R"({"connect":{"*":{"default":{"fault":"stall"}}}})"},
        InvalidScenarioCase{"NegativeDelay", R"({"graphql":{"NativeStop":{"queue":[{"delayMs":-1}]}}})"},
        // Once accepted, these made the stand-in allocate without end.
        InvalidScenarioCase{"PadToFarPastItsBound",
                            R"({"realtime":{"*":{"default":{"send":[{"text":"{}","padTo":1000000000000}]}}}})"},
        InvalidScenarioCase{"RepeatFarPastItsBound",
                            R"({"realtime":{"*":{"default":{"send":[{"text":"{}","repeat":100000000000}]}}}})"},
        InvalidScenarioCase{"HeaderWithALineBreak",
                            R"({"graphql":{"NativeStop":{"default":{"headers":{"X-A":"a\r\nX-B: b"}}}}})"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(StandInTest, LogIsReadWithACursor)
{
    const auto empty = standIn().logEntries(m_cursor);
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(empty.next, m_cursor);

    StandInClient client(standIn());
    ASSERT_EQ(client.graphql(stopCall("s-log")).status, 200);
    const auto page = standIn().logEntries(m_cursor);
    ASSERT_GE(page.entries.size(), 3u); // connect, request, graphql, response
    for (size_t i = 0; i < page.entries.size(); ++i)
        EXPECT_EQ(page.entries[i]["index"], m_cursor + qint64(i));
    EXPECT_EQ(page.next, m_cursor + qint64(page.entries.size()));
    EXPECT_EQ(page.entries.back()["kind"], "response");
    EXPECT_EQ(page.entries.back()["status"], 200);

    const auto tail = standIn().logEntries(page.next - 1);
    ASSERT_EQ(tail.entries.size(), 1u);
    EXPECT_EQ(tail.entries[0], page.entries.back());
    const auto beyond = standIn().logEntries(page.next + 100);
    EXPECT_TRUE(beyond.entries.empty());
    EXPECT_EQ(beyond.next, page.next);

    EXPECT_EQ(standIn().control("GET", "/_standin/log?from=x").status, 400);
    EXPECT_EQ(standIn().control("GET", "/_standin/log?from=-1").status, 400);
}

TEST_F(StandInTest, RefusesPlainRequestsOutsideTheControlChannel)
{
    EXPECT_EQ(standIn().control("GET", "/_standin/nothing").status, 404);
    EXPECT_EQ(standIn().control("GET", "/_standin/scenario").status, 405);
    EXPECT_EQ(standIn().control("GET", "http://api.tavrilo.example/graphql").status, 403);
    EXPECT_EQ(standIn().control("GET", "http://api.tavrilo.example/_standin/log").status, 403);
    // A client that sends everything through its proxy setting still reaches the control channel.
    EXPECT_EQ(standIn().control("GET", "http://127.0.0.1/_standin/log?from=0").status, 200);
    // A plain request carrying a code in the clear: refused, and the code kept out of the log.
    EXPECT_EQ(standIn().control("GET", "http://app.tavrilo.example/desktop-callback?code=C0DE&state=s").status, 403);
    const auto refused = entriesOfKind("refused");
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0]["target"], "http://api.tavrilo.example/graphql");
    EXPECT_EQ(refused[2]["target"], "http://app.tavrilo.example/desktop-callback?code=REDACTED&state=s");
}

// --- Process ----------------------------------------------------------------------------------------

TEST(StandInProcess, StartsWithAScenarioFileAndStopsCleanlyOnSigterm)
{
    StandIn standIn(Json{{"graphql", {{"NativeStop", {{"default", {{"status", 503}}}}}}}});
    StandInClient client(standIn);
    EXPECT_EQ(client.graphql(stopCall("s")).status, 503);

    const QString logPath = QDir(standIn.stateDir()).filePath(QStringLiteral("log.jsonl"));
    EXPECT_EQ(standIn.stop(), 0);
    const QList<QByteArray> lines = testsupport::readFile(logPath).trimmed().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(Json::parse(lines.last().toStdString())["kind"], "stop");
}
} // namespace
