// Replies to input requests: the typed values of a form and the reply's course on a scripted
// session model and platform.

#include "session/InputRequestReply.h"
#include "support/TestSupport.h"

#include "core/HubError.h"

#include <gtest/gtest.h>

#include <coroutine>

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
// What the typed values of a form come to: the JSON text of "content", or the sentence refusing it.
QString typed(const Json &schema, const QMap<QString, QString> &content)
{
    try {
        return QString::fromUtf8(json::dump(inputrequest::typedValues(schema, content)));
    } catch (const HubError &error) {
        return error.description();
    }
}

const Json kSchema = Json::parse(R"({
    "properties": {"flag": {"type": "boolean"}, "count": {"type": "integer"}, "ratio": {"type": "number"},
                   "shape": {"type": "object"}, "list": {"type": "array"}, "name": {"type": "string"},
                   "code": {"type": "code"}, "untyped": {}},
    "required": ["count"]})");

struct TypedCase
{
    const char *name;
    QMap<QString, QString> content;
    const char *result;
};

class TypedValues : public ::testing::TestWithParam<TypedCase>
{
};

TEST_P(TypedValues, FollowTheSchema)
{
    EXPECT_EQ(typed(kSchema, GetParam().content), QString::fromUtf8(GetParam().result));
}

using Fields = QMap<QString, QString>;

INSTANTIATE_TEST_SUITE_P(
    Table, TypedValues,
    ::testing::Values(
        TypedCase{"RequiredOnly", Fields{{"count", "3"}}, R"({"count":3})"},
        TypedCase{"OptionalEmptyIsLeftOut", Fields{{"count", "3"}, {"name", ""}}, R"({"count":3})"},
        TypedCase{"RequiredEmpty", Fields{{"count", ""}}, "Complete the required field: count"},
        TypedCase{"RequiredMissing", Fields{{"name", "x"}}, "Complete the required field: count"},
        TypedCase{"LowerCaseBooleans", Fields{{"count", "1"}, {"flag", "false"}}, R"({"count":1,"flag":false})"},
        TypedCase{"CapitalisedTrue", Fields{{"count", "1"}, {"flag", "True"}}, "flag requires true or false."},
        TypedCase{"DigitOneIsNoBoolean", Fields{{"count", "1"}, {"flag", "1"}}, "flag requires true or false."},
        TypedCase{"PlusSign", Fields{{"count", "+7"}}, R"({"count":7})"},
        TypedCase{"NegativeInteger", Fields{{"count", "-9223372036854775808"}}, R"({"count":-9223372036854775808})"},
        TypedCase{"IntegerPastSixtyFourBits", Fields{{"count", "9223372036854775808"}}, "count requires an integer."},
        TypedCase{"LeadingBlank", Fields{{"count", " 7"}}, "count requires an integer."},
        TypedCase{"DecimalPoint", Fields{{"count", "7.0"}}, "count requires an integer."},
        TypedCase{"Exponent", Fields{{"count", "7e0"}}, "count requires an integer."},
        TypedCase{"Number", Fields{{"count", "1"}, {"ratio", "-2.5e-1"}}, R"({"count":1,"ratio":-0.25})"},
        TypedCase{"NumberBeyondTheDoubleRange", Fields{{"count", "1"}, {"ratio", "1e400"}}, "ratio requires a finite number."},
        TypedCase{"NotANumber", Fields{{"count", "1"}, {"ratio", "nan"}}, "ratio requires a finite number."},
        TypedCase{"NumberText", Fields{{"count", "1"}, {"ratio", "half"}}, "ratio requires a finite number."},
        TypedCase{"ArrayInAnObjectField", Fields{{"count", "1"}, {"shape", "[1,2]"}}, R"({"count":1,"shape":[1,2]})"},
        TypedCase{"BareNumberInAnArrayField", Fields{{"count", "1"}, {"list", "5"}},
                  "The data couldn't be read because it isn't in the correct format."},
        TypedCase{"NoJsonInAnObjectField", Fields{{"count", "1"}, {"shape", "{"}},
                  "The data couldn't be read because it isn't in the correct format."},
        TypedCase{"StringsStayText", Fields{{"count", "1"}, {"name", "42"}, {"code", "true"}, {"untyped", "7"}},
                  R"({"code":"true","count":1,"name":"42","untyped":"7"})"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TypedValues, ASchemaOfOtherShapesTypesAndRequiresNothing)
{
    const Fields fields{{"count", "x"}, {"other", ""}};
    EXPECT_EQ(typed(Json::parse(R"({"properties": {"count": "integer"}, "required": ["count", 7]})"), fields),
              R"({"count":"x"})");
    EXPECT_EQ(typed(Json::object(), fields), R"({"count":"x"})");
}

TEST(ReplyInput, CarriesContentOnlyForAnAcceptedForm)
{
    EventProjection::Elicitation form;
    form.requestID = QStringLiteral("r1");
    form.mode = QStringLiteral("form");
    form.schema = kSchema;
    form.requestState = Json("opaque");
    const Json declined = inputrequest::replyInput(QStringLiteral("s"), form, QStringLiteral("decline"),
                                                   Fields{{"count", "not checked"}});
    EXPECT_EQ(declined, (Json{{"sessionId", "s"}, {"requestId", "r1"}, {"requestState", "\"opaque\""},
                              {"action", "decline"}}));

    EventProjection::Elicitation url = form;
    url.mode = QStringLiteral("url");
    url.requestState.reset();
    EXPECT_FALSE(inputrequest::replyInput(QStringLiteral("s"), url, QStringLiteral("accept"), {}).contains("content"));
    EXPECT_EQ(inputrequest::requestStateText(url), QStringLiteral("null"));

    EventProjection::Elicitation optional = form;
    optional.schema = Json::parse(R"({"properties": {"note": {"type": "string"}}})");
    optional.requestStateJSON = QStringLiteral(" {\"k\" : 1} ");
    const Json accepted =
        inputrequest::replyInput(QStringLiteral("s"), optional, QStringLiteral("accept"), Fields{{"note", ""}});
    EXPECT_EQ(accepted["content"], "{}");
    EXPECT_EQ(accepted["requestState"], " {\"k\" : 1} ");
}

// The session model as the reply sees it, with a renewal that waits until the test lets it end.
class FakeSession : public QObject, public inputrequest::Session
{
public:
    FakeSession()
    {
        HubConfiguration config(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("replies")}});
        config.tenantID = QStringLiteral("tenant-1");
        configurationValue = config;
    }

    bool closingSession() const override { return closing; }
    bool controlInFlight() const override { return inFlight; }
    void setControlInFlight(bool value) override { inFlight = value; }
    const std::optional<HubConfiguration> &configuration() const override { return configurationValue; }
    const std::optional<QString> &identityToken() const override { return token; }
    const QString &sessionID() const override { return session; }
    bool awaitsInputRequest(const QString &requestID) const override { return requests.contains(requestID); }
    QCoro::Task<void> refreshIdentityIfNeeded() override
    {
        ++renewals;
        if (holdRenewal) {
            struct Held
            {
                FakeSession &session;
                bool await_ready() const noexcept { return false; }
                void await_suspend(std::coroutine_handle<> handle) { session.renewalWaiter = handle; }
                void await_resume() const noexcept {}
            };
            Held held{*this};
            co_await held;
        }
    }
    void inputRequestAnswered(const QString &requestID) override
    {
        ++generation;
        requests.removeAll(requestID);
    }
    void setMessage(QString text) override { message = std::move(text); }

    void endRenewal()
    {
        QMetaObject::invokeMethod(this, [handle = std::exchange(renewalWaiter, {})] { handle.resume(); },
                                  Qt::QueuedConnection);
    }

    bool closing = false;
    bool inFlight = false;
    std::optional<HubConfiguration> configurationValue;
    std::optional<QString> token = QStringLiteral("identity");
    QString session = QStringLiteral("session-1");
    QStringList requests{QStringLiteral("r1")};
    int renewals = 0;
    bool holdRenewal = false;
    std::coroutine_handle<> renewalWaiter;
    int generation = 0;
    QString message;
};

class Reply : public ::testing::Test
{
protected:
    Reply()
    {
        request.requestID = QStringLiteral("r1");
        request.mode = QStringLiteral("form");
        request.schema = Json::parse(R"({"properties": {"count": {"type": "integer"}}, "required": ["count"]})");
    }

    inputrequest::Transport transport()
    {
        return [this](HubNetwork::Request post, CancelToken) -> QCoro::Task<HubNetwork::Reply> {
            sent.push_back(json::parse(post.body));
            if (onSend)
                onSend();
            co_return answer;
        };
    }

    QCoro::Task<void> send(QString action, Fields fields)
    {
        return inputrequest::reply(&model, &model, request, std::move(action), std::move(fields), transport());
    }

    FakeSession model;
    EventProjection::Elicitation request;
    std::vector<Json> sent;
    std::function<void()> onSend;
    HubNetwork::Reply answer{200, R"({"data":{"tavriloReplyElicitation":{"ok":true}}})", false, {}};
};

TEST_F(Reply, IsRecordedAndResolvesTheRequest)
{
    awaitFor(send(QStringLiteral("accept"), Fields{{"count", "+7"}}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["query"], "mutation NativeElicitation($input: TavriloElicitationReplyInput!) { "
                                "tavriloReplyElicitation(input: $input) { ok refusal detail } }");
    EXPECT_EQ(sent[0]["variables"]["input"]["content"], R"({"count":7})");
    EXPECT_EQ(model.message, QStringLiteral("Runtime input response recorded."));
    EXPECT_EQ(model.generation, 1);
    EXPECT_TRUE(model.requests.isEmpty());
    EXPECT_FALSE(model.inFlight);
}

TEST_F(Reply, IsRefusedAtOnceWhenTheRequestIsNoLongerCurrent)
{
    const QString refused = QStringLiteral("This input request is no longer available in the current workspace.");
    const QString busy =
        QStringLiteral("Another control is being sent. Answer the input request again once it has finished.");
    struct Case
    {
        std::function<void(FakeSession &)> change;
        QString message;
    };
    for (const Case &c : std::vector<Case>{
             {[](FakeSession &m) { m.closing = true; }, refused},
             {[](FakeSession &m) { m.inFlight = true; }, busy},
             {[](FakeSession &m) { m.closing = m.inFlight = true; }, refused},
             {[](FakeSession &m) { m.configurationValue.reset(); }, refused},
             {[](FakeSession &m) { m.token.reset(); }, refused},
             {[](FakeSession &m) { m.requests.clear(); }, refused}}) {
        FakeSession other;
        c.change(other);
        const bool inFlightBefore = other.inFlight;
        awaitFor(inputrequest::reply(&other, &other, request, QStringLiteral("decline"), {}, transport()));
        EXPECT_EQ(other.message, c.message);
        EXPECT_EQ(other.inFlight, inFlightBefore);
        EXPECT_EQ(other.renewals, 0);
    }
    EXPECT_TRUE(sent.empty());
}

TEST_F(Reply, TwoQuickClicksSendOnce)
{
    model.holdRenewal = true;
    auto first = send(QStringLiteral("accept"), Fields{{"count", "1"}});
    EXPECT_TRUE(model.inFlight);
    awaitFor(send(QStringLiteral("accept"), Fields{{"count", "1"}}));
    EXPECT_EQ(model.message,
              QStringLiteral("Another control is being sent. Answer the input request again once it has finished."));
    model.endRenewal();
    awaitFor(std::move(first));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(model.inFlight);
}

TEST_F(Reply, ARequestThatChangedDuringTheRenewalIsNotSent)
{
    for (const std::function<void(FakeSession &)> &change : std::vector<std::function<void(FakeSession &)>>{
             [](FakeSession &m) { m.requests.clear(); }, [](FakeSession &m) { m.session = QStringLiteral("other"); },
             [](FakeSession &m) { m.configurationValue->tenantID = QStringLiteral("other"); },
             [](FakeSession &m) { m.closing = true; }}) {
        FakeSession other;
        other.holdRenewal = true;
        auto replying = inputrequest::reply(&other, &other, request, QStringLiteral("decline"), {}, transport());
        change(other);
        other.endRenewal();
        awaitFor(std::move(replying));
        EXPECT_EQ(other.message, QStringLiteral("This input request changed before the response could be sent."));
        EXPECT_FALSE(other.inFlight);
    }
    EXPECT_TRUE(sent.empty());
}

TEST_F(Reply, FailuresEndInTheStatusLineAndKeepTheRequest)
{
    struct Case
    {
        HubNetwork::Reply answer;
        QString message;
    };
    for (const Case &c :
         {Case{{500, "{}", false, {}}, QStringLiteral("The platform refused this workspace tool request.")},
          Case{{200, R"({"data":{"tavriloReplyElicitation":{"ok":false,"refusal":"REQUEST_EXPIRED"}}})", false, {}},
               QStringLiteral("The platform refused this workspace tool request (REQUEST_EXPIRED).")},
          Case{{200, R"({"errors":[],"data":{"tavriloReplyElicitation":{"ok":true}}})", false, {}},
               QStringLiteral("The platform refused this workspace tool request.")}}) {
        answer = c.answer;
        awaitFor(send(QStringLiteral("decline"), {}));
        EXPECT_EQ(model.message, c.message);
        EXPECT_EQ(model.requests, QStringList{QStringLiteral("r1")});
        EXPECT_FALSE(model.inFlight);
    }
    awaitFor(send(QStringLiteral("accept"), Fields{{"count", "seven"}}));
    EXPECT_EQ(model.message, QStringLiteral("count requires an integer."));
    model.token = QString();
    awaitFor(send(QStringLiteral("decline"), {}));
    EXPECT_EQ(model.message, QStringLiteral("Sign in before opening workspace tools."));
    EXPECT_EQ(model.generation, 0);
}

// Recorded after the model moved to another session: reported, but not looked up in the new
// session's projection.
TEST_F(Reply, ASuccessAfterTheSessionChangedResolvesNothingThere)
{
    onSend = [this] { model.session = QStringLiteral("session-2"); };
    awaitFor(send(QStringLiteral("decline"), {}));
    EXPECT_EQ(model.message, QStringLiteral("Runtime input response recorded."));
    EXPECT_EQ(model.requests, QStringList{QStringLiteral("r1")});
    EXPECT_EQ(model.generation, 0);
    EXPECT_FALSE(model.inFlight);
}
} // namespace
