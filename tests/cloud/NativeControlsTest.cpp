#include "cloud/NativeControls.h"
#include "LoopbackHttpServer.h"
#include "PlatformAnswerCases.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::awaitFor;
using Command = NativeControls::Command;

namespace
{
struct EncodingCase
{
    const char *name;
    Command command;
    const char *field;
    const char *query;
    const char *variables;
};

class ControlEncoding : public ::testing::TestWithParam<EncodingCase>
{
};

TEST_P(ControlEncoding, GivesTheOperationAndVariables)
{
    const auto c = GetParam();
    const Command::Request request = c.command.request();
    EXPECT_EQ(request.field, QString::fromUtf8(c.field));
    EXPECT_EQ(request.query, QString::fromUtf8(c.query));
    EXPECT_EQ(request.variables, json::parse(c.variables));
}

const QString s = QStringLiteral("prj-1");

INSTANTIATE_TEST_SUITE_P(
    NativeControls, ControlEncoding,
    ::testing::Values(
        EncodingCase{
            "Stop", Command::stop(s), "tavriloStopRun",
            "mutation NativeStop($sessionId: ID!) { tavriloStopRun(sessionId: $sessionId) { ok refusal detail } }",
            R"({"sessionId":"prj-1"})"},
        EncodingCase{"Interject", Command::interject(s, QStringLiteral("look at the tests")), "tavriloInterject",
                     "mutation NativeInterject($input: TavriloInterjectInput!) { tavriloInterject(input: $input) { ok "
                     "refusal detail queued round } }",
                     R"({"input":{"sessionId":"prj-1","text":"look at the tests"}})"},
        EncodingCase{"ApprovalWithoutExpectations",
                     Command::approval(s, QStringLiteral("tu-1"), QStringLiteral("approved")), "tavriloRecordApproval",
                     "mutation NativeApproval($input: TavriloApprovalDecisionInput!) { tavriloRecordApproval(input: "
                     "$input) { ok refusal detail } }",
                     R"({"input":{"sessionId":"prj-1","toolUseId":"tu-1","decision":"approved"}})"},
        EncodingCase{
            "ApprovalWithExpectations",
            Command::approval(s, QStringLiteral("tu-1"), QStringLiteral("declined"), QStringLiteral("turn-4"),
                              QStringLiteral("7")),
            "tavriloRecordApproval",
            "mutation NativeApproval($input: TavriloApprovalDecisionInput!) { tavriloRecordApproval(input: "
            "$input) { ok refusal detail } }",
            R"({"input":{"sessionId":"prj-1","toolUseId":"tu-1","decision":"declined","expectedTurnId":"turn-4","expectedRevision":"7"}})"},
        EncodingCase{
            "ApprovalWithRevisionOnly",
            Command::approval(s, QStringLiteral("tu-1"), QStringLiteral("approved"), std::nullopt, QStringLiteral("")),
            "tavriloRecordApproval",
            "mutation NativeApproval($input: TavriloApprovalDecisionInput!) { tavriloRecordApproval(input: "
            "$input) { ok refusal detail } }",
            R"({"input":{"sessionId":"prj-1","toolUseId":"tu-1","decision":"approved","expectedRevision":""}})"},
        EncodingCase{"Browser", Command::browser(s, QStringLiteral("customer")), "tavriloSetBrowserControl",
                     "mutation NativeBrowser($input: TavriloBrowserControlInput!) { tavriloSetBrowserControl(input: "
                     "$input) { ok refusal detail } }",
                     R"({"input":{"sessionId":"prj-1","holder":"customer"}})"},
        EncodingCase{"RunStatePaused", Command::runState(s, QStringLiteral("paused")), "tavriloSetRunState",
                     "mutation NativeRunState($input: TavriloSetRunStateInput!) { tavriloSetRunState(input: $input) { "
                     "ok refusal detail } }",
                     R"({"input":{"sessionId":"prj-1","state":"paused","reason":"Human operator requested paused"}})"},
        EncodingCase{
            "Skip", Command::skip(s, QStringLiteral("tu-9"), QStringLiteral("project_verify_build")), "tavriloSkipStep",
            "mutation NativeSkip($input: TavriloSkipStepInput!) { tavriloSkipStep(input: $input) { ok refusal "
            "detail } }",
            R"({"input":{"sessionId":"prj-1","toolUseId":"tu-9","tool":"project_verify_build","reason":"Human operator requested skip-step"}})"}),
    [](const auto &info) { return std::string(info.param.name); });

QString repeated(const QString &unit, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

struct CutCase
{
    const char *name;
    QString text;
    QString sent;
};

class InterjectionCut : public ::testing::TestWithParam<CutCase>
{
};

TEST_P(InterjectionCut, KeepsTheFirst2000Characters)
{
    const auto c = GetParam();
    const Json variables = Command::interject(s, c.text).request().variables;
    EXPECT_EQ(json::toQString(variables["input"]["text"].get<std::string>()), c.sent);
}

// "e" and a combining acute accent: one user-perceived character in two code units.
const QString kComposed = QStringLiteral("e\u0301");
// A family emoji: one character of seven code points and eleven code units.
const QString kFamily = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");

INSTANTIATE_TEST_SUITE_P(
    NativeControls, InterjectionCut,
    ::testing::Values(CutCase{"Short", QStringLiteral("hello"), QStringLiteral("hello")},
                      CutCase{"Empty", QString(), QString()},
                      CutCase{"Exactly2000", repeated(QStringLiteral("a"), 2000), repeated(QStringLiteral("a"), 2000)},
                      CutCase{"Ascii2500", repeated(QStringLiteral("ab"), 1250), repeated(QStringLiteral("ab"), 1000)},
                      CutCase{"TwoThousandComposedSentWhole", repeated(kComposed, 2000), repeated(kComposed, 2000)},
                      CutCase{"ComposedCutBetweenCharacters", repeated(kComposed, 2001), repeated(kComposed, 2000)},
                      CutCase{"EmojiFamilies", repeated(kFamily, 2100), repeated(kFamily, 2000)},
                      CutCase{"MixedNeverSplitsACharacter",
                              repeated(QStringLiteral("a"), 1999) + kFamily + QStringLiteral("tail"),
                              repeated(QStringLiteral("a"), 1999) + kFamily}),
    [](const auto &info) { return std::string(info.param.name); });

class ControlAnswer : public ::testing::TestWithParam<platformcases::ControlAnswer>
{
};

TEST_P(ControlAnswer, IsCheckedStrictly)
{
    const auto c = GetParam();
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(c.status, c.body));
    });
    try {
        const auto answer = awaitFor(NativeControls::execute(
            Command::stop(s), platformcases::configurationWithEndpoint(server.url()), QStringLiteral("tok")));
        EXPECT_TRUE(c.sentence.isEmpty()) << "accepted";
        EXPECT_TRUE(answer.ok);
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), c.sentence);
    }
}

INSTANTIATE_TEST_SUITE_P(NativeControls, ControlAnswer, ::testing::ValuesIn(platformcases::controlAnswers()),
                         [](const auto &info) { return info.param.name; });

TEST(NativeControls, InterjectionAnswerCarriesQueueAndRound)
{
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(
            200, R"({"data":{"tavriloInterject":{"ok":true,"detail":null,"queued":3,"round":"2","extra":[1]}}})"));
    });
    const auto answer = awaitFor(NativeControls::execute(Command::interject(s, QStringLiteral("hi")),
                                                         platformcases::configurationWithEndpoint(server.url()),
                                                         QStringLiteral("tok")));
    EXPECT_EQ(answer.queued, 3);
    EXPECT_EQ(answer.round, QStringLiteral("2"));
    EXPECT_EQ(answer.refusal, std::nullopt);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].header("Authorization"), "Bearer tok");
    EXPECT_EQ(json::parse(server.requests()[0].body)["query"], json::toStd(Command::interject(s, {}).request().query));
}

TEST(NativeControls, WithoutEndpointOrTokenNothingIsSent)
{
    LoopbackHttpServer::directNetwork();
    LoopbackHttpServer server([](QTcpSocket *, const LoopbackHttpServer::Received &) {});
    auto noEndpoint = platformcases::configurationWithEndpoint(server.url());
    noEndpoint.graphQLEndpoint.reset();
    const QString sentence = QStringLiteral("Sign in to the configured platform API before sending controls.");
    for (const auto &[configuration, token] :
         {std::pair{noEndpoint, QStringLiteral("tok")},
          std::pair{platformcases::configurationWithEndpoint(server.url()), QString()}}) {
        try {
            awaitFor(NativeControls::execute(Command::stop(s), configuration, token));
            ADD_FAILURE() << "sent";
        } catch (const HubError &error) {
            EXPECT_EQ(error.description(), sentence);
        }
    }
    EXPECT_EQ(server.connections(), 0);
}

struct DecodeCase
{
    const char *name;
    QByteArray body;
    qint64 maximumBytes;
    const char *answer;      // the returned answer object, or
    const char *refusalCode; // the Refusal's code, or
    QString sentence;        // the error's sentence
};

class DecodeAnswer : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeAnswer, ReturnsTheAnswerOrRefuses)
{
    const auto c = GetParam();
    const QString field = QStringLiteral("tavriloReplyElicitation");
    try {
        const Json answer = NativeControls::decodeAnswer(c.body, field, c.maximumBytes);
        ASSERT_TRUE(c.answer) << "returned " << json::dump(answer).toStdString();
        EXPECT_EQ(answer, json::parse(c.answer));
    } catch (const NativeControls::Refusal &refusal) {
        ASSERT_TRUE(c.refusalCode) << "refused with " << refusal.what();
        EXPECT_EQ(refusal.code(), QString::fromUtf8(c.refusalCode));
        EXPECT_EQ(refusal.description(), QStringLiteral("The platform refused this workspace tool request (") +
                                             refusal.code() + QStringLiteral(")."));
    } catch (const HubError &error) {
        ASSERT_FALSE(c.answer || c.refusalCode) << "failed with " << error.what();
        EXPECT_EQ(error.description(), c.sentence);
    }
}

const QString kGeneric = QStringLiteral("The platform refused this workspace tool request.");
const QByteArray kOkAnswer = R"({"data":{"tavriloReplyElicitation":{"ok":true,"detail":"d","id":4}}})";

QByteArray refusalBody(const QByteArray &refusal)
{
    return R"({"data":{"tavriloReplyElicitation":{"ok":false,"refusal":)" + refusal + "}}}";
}

INSTANTIATE_TEST_SUITE_P(
    NativeControls, DecodeAnswer,
    ::testing::Values(
        DecodeCase{"Ok", kOkAnswer, 1048576, R"({"ok":true,"detail":"d","id":4})", nullptr, {}},
        DecodeCase{"ExactlyAtTheLimit",
                   platformcases::padded(kOkAnswer, 1024),
                   1024,
                   R"({"ok":true,"detail":"d","id":4})",
                   nullptr,
                   {}},
        DecodeCase{"OneByteOverTheLimit", platformcases::padded(kOkAnswer, 1025), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"NotJson", "nope", 1024, nullptr, nullptr, platformcases::kDecoding},
        DecodeCase{"EmptyErrorsRefused", R"({"errors":[],"data":{"tavriloReplyElicitation":{"ok":true}}})", 1024,
                   nullptr, nullptr, kGeneric},
        DecodeCase{"NullErrorsRefused", R"({"errors":null,"data":{"tavriloReplyElicitation":{"ok":true}}})", 1024,
                   nullptr, nullptr, kGeneric},
        DecodeCase{"TopLevelArray", "[]", 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"NoData", "{}", 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"DataNotObject", R"({"data":"x"})", 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"NoAnswer", R"({"data":{"other":{"ok":true}}})", 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"AnswerNotObject", R"({"data":{"tavriloReplyElicitation":true}})", 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"OkAsString", R"({"data":{"tavriloReplyElicitation":{"ok":"true"}}})", 1024, nullptr, nullptr,
                   kGeneric},
        DecodeCase{"OkFalseWithoutRefusal", R"({"data":{"tavriloReplyElicitation":{"ok":false}}})", 1024, nullptr,
                   nullptr, kGeneric},
        DecodeCase{"RefusalCode", refusalBody(R"("SESSION_GONE_2")"), 1024, nullptr, "SESSION_GONE_2", {}},
        DecodeCase{"OneLetterCode", refusalBody(R"("X")"), 1024, nullptr, "X", {}},
        DecodeCase{"SixtyFourCharacters",
                   refusalBody('"' + QByteArray("A") + QByteArray(63, '9') + '"'),
                   1024,
                   nullptr,
                   "A999999999999999999999999999999999999999999999999999999999999999",
                   {}},
        DecodeCase{"SixtyFiveCharacters", refusalBody('"' + QByteArray(65, 'A') + '"'), 1024, nullptr, nullptr,
                   kGeneric},
        DecodeCase{"LowerCase", refusalBody(R"("Busy")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"Space", refusalBody(R"("NOT NOW")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"LeadingDigit", refusalBody(R"("1BUSY")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"LeadingUnderscore", refusalBody(R"("_BUSY")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"TrailingNewline", refusalBody(R"("BUSY\n")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"EmptyCode", refusalBody(R"("")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"CodeNotString", refusalBody("42"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"NonAsciiLetter", refusalBody(R"("ÄBUSY")"), 1024, nullptr, nullptr, kGeneric},
        DecodeCase{"OkTrueWinsOverRefusal",
                   R"({"data":{"tavriloReplyElicitation":{"ok":true,"refusal":"BUSY"}}})",
                   1024,
                   R"({"ok":true,"refusal":"BUSY"})",
                   nullptr,
                   {}}),
    [](const auto &info) { return std::string(info.param.name); });

struct ShellUrlCase
{
    const char *name;
    const char *url;
    bool accepted;
};

class CommandShellRequest : public ::testing::TestWithParam<ShellUrlCase>
{
};

TEST_P(CommandShellRequest, AcceptsOnlySecureWebSocketUrls)
{
    const auto c = GetParam();
    const QUrl url(QString::fromUtf8(c.url));
    if (c.accepted) {
        const QNetworkRequest request = NativeControls::commandShellRequest(url);
        EXPECT_EQ(request.url(), url);
        EXPECT_EQ(request.transferTimeout(), 60000);
        EXPECT_TRUE(request.rawHeaderList().isEmpty());
        return;
    }
    try {
        NativeControls::commandShellRequest(url);
        FAIL() << "accepted";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("The build-shell grant was not a secure WebSocket URL."));
    }
}

INSTANTIATE_TEST_SUITE_P(
    NativeControls, CommandShellRequest,
    ::testing::Values(ShellUrlCase{"HostPathQuery", "wss://shell.tavrilo.example/v1/shells/abc?token=x&y=1", true},
                      ShellUrlCase{"HostOnly", "wss://shell.tavrilo.example", true},
                      ShellUrlCase{"WithPort", "wss://shell.tavrilo.example:8443/s", true},
                      ShellUrlCase{"PlainWebSocket", "ws://shell.tavrilo.example/s", false},
                      ShellUrlCase{"Https", "https://shell.tavrilo.example/s", false},
                      ShellUrlCase{"UserName", "wss://user@shell.tavrilo.example/s", false},
                      ShellUrlCase{"Password", "wss://:secret@shell.tavrilo.example/s", false},
                      ShellUrlCase{"Fragment", "wss://shell.tavrilo.example/s#part", false},
                      ShellUrlCase{"EmptyFragment", "wss://shell.tavrilo.example/s#", false},
                      ShellUrlCase{"NoHost", "wss:///s", false},
                      ShellUrlCase{"NoScheme", "//shell.tavrilo.example/s", false}, ShellUrlCase{"Empty", "", false}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
