// A reply to an input request against the stand-in platform, over TLS through its proxy. (The
// stand-in of this program is registered in BuildShellIntegrationTest.cpp.)

#include "session/InputRequestReply.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::awaitFor;

namespace
{
class SignedInSession : public QObject, public inputrequest::Session
{
public:
    SignedInSession()
    {
        HubConfiguration config(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("replies")}});
        config.tenantID = QStringLiteral("tenant-7");
        m_configuration = config;
    }
    bool closingSession() const override { return false; }
    bool controlInFlight() const override { return inFlight; }
    void setControlInFlight(bool value) override { inFlight = value; }
    const std::optional<HubConfiguration> &configuration() const override { return m_configuration; }
    const std::optional<QString> &identityToken() const override { return m_token; }
    const QString &sessionID() const override { return m_session; }
    bool awaitsInputRequest(const QString &requestID) const override { return requests.contains(requestID); }
    QCoro::Task<void> refreshIdentityIfNeeded() override { co_return; }
    void inputRequestAnswered(const QString &requestID) override { requests.removeAll(requestID); }
    void setMessage(QString text) override { message = std::move(text); }

    bool inFlight = false;
    QStringList requests{QStringLiteral("req-1")};
    QString message;

private:
    std::optional<HubConfiguration> m_configuration;
    std::optional<QString> m_token = QStringLiteral("identity-token");
    QString m_session = QStringLiteral("prj-replies");
};

TEST(InputRequestReplyIntegration, AFormReplyReachesThePlatformAsTyped)
{
    StandIn &standIn = SharedStandIn::get();
    standIn.setScenario(Json::object());
    const qint64 cursor = standIn.logEntries().next;

    EventProjection::Elicitation request;
    request.requestID = QStringLiteral("req-1");
    request.mode = QStringLiteral("form");
    request.schema = Json::parse(R"({"properties": {"retries": {"type": "integer"}, "force": {"type": "boolean"},
                                                    "note": {"type": "string"}}, "required": ["retries"]})");
    request.requestStateJSON = QStringLiteral(R"({"step":4})");
    SignedInSession session;
    awaitFor(inputrequest::reply(&session, &session, request, QStringLiteral("accept"),
                                 {{QStringLiteral("retries"), QStringLiteral("3")},
                                  {QStringLiteral("force"), QStringLiteral("true")},
                                  {QStringLiteral("note"), QString()}}),
             std::chrono::seconds(20));
    EXPECT_EQ(session.message, QStringLiteral("Runtime input response recorded."));
    EXPECT_TRUE(session.requests.isEmpty());

    const auto entry = standIn.waitForEntry(cursor, [](const Json &e) { return e["kind"] == "elicitation"; });
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)["input"], (Json{{"sessionId", "prj-replies"},
                                       {"requestId", "req-1"},
                                       {"requestState", R"({"step":4})"},
                                       {"action", "accept"},
                                       {"content", R"({"force":true,"retries":3})"}}));
}
} // namespace
