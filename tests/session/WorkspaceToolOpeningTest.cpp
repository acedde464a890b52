// Opening the live browser and the build shell from the window, on a scripted session model and a
// platform that answers within the test.

#include "session/WorkspaceToolOpening.h"
#include "support/TestSupport.h"

#include "core/HubError.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using testsupport::awaitFor;

namespace
{
class FakeSession : public QObject, public workspaceopening::Session
{
public:
    FakeSession()
    {
        NativeDocuments::Options options;
        options.transport = [this](HubNetwork::Request request, CancelToken) -> QCoro::Task<HubNetwork::Reply> {
            static const QRegularExpression fieldOf(QStringLiteral("\\) \\{ (\\w+)\\("));
            const QString field = fieldOf.match(json::toQString(json::parse(request.body)["query"])).captured(1);
            fields.push_back(field);
            variables.push_back(json::parse(request.body)["variables"]);
            Json object = answers.count(field) ? answers[field] : Json{{"ok", true}};
            co_return HubNetwork::Reply{200, json::dump(Json{{"data", {{json::toStd(field), object}}}}), false, {}};
        };
        tools = std::make_unique<NativeDocuments>(options);
        HubConfiguration config(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("opening")}});
        config.tenantID = QStringLiteral("tenant-1");
        configurationValue = config;
    }

    bool closingSession() const override { return closing; }
    const std::optional<QString> &activeSessionID() const override { return active; }
    const std::optional<HubConfiguration> &configuration() const override { return configurationValue; }
    const std::optional<QString> &identityToken() const override { return token; }
    const QString &sessionID() const override { return session; }
    NativeDocuments *documents() override { return tools.get(); }
    void configureDocuments(HubConfiguration configuration, QString sessionID) override
    {
        ++configurations;
        tools->configure(std::move(configuration), std::move(sessionID),
                         [](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("identity"); });
    }
    void setMessage(QString text) override { message = std::move(text); }

    bool closing = false;
    std::optional<QString> active = QStringLiteral("live-1");
    std::optional<HubConfiguration> configurationValue;
    std::optional<QString> token = QStringLiteral("identity");
    QString session = QStringLiteral("prj-1");
    std::unique_ptr<NativeDocuments> tools;
    std::map<QString, Json> answers;
    std::vector<QString> fields;
    std::vector<Json> variables;
    int configurations = 0;
    QString message = QStringLiteral("before");
};

TEST(WorkspaceToolOpening, NeedsASignedInLiveSession)
{
    for (const std::function<void(FakeSession &)> &change : std::vector<std::function<void(FakeSession &)>>{
             [](FakeSession &s) { s.closing = true; }, [](FakeSession &s) { s.active.reset(); },
             [](FakeSession &s) { s.configurationValue.reset(); }, [](FakeSession &s) { s.token.reset(); }}) {
        FakeSession session;
        change(session);
        awaitFor(workspaceopening::openBrowser(&session, &session));
        EXPECT_EQ(session.message, QStringLiteral("Start a signed-in session before opening browser tools."));
        awaitFor(workspaceopening::openShell(&session, &session));
        EXPECT_EQ(session.message, QStringLiteral("Start a signed-in session before opening shell tools."));
        EXPECT_EQ(session.configurations, 0);
        EXPECT_TRUE(session.fields.empty());
    }
}

TEST(WorkspaceToolOpening, OpensTheShellThenSizesIt)
{
    FakeSession session;
    session.answers[QStringLiteral("tavriloOpenBuildShell")] =
        Json{{"ok", true},
             {"shellId", "shell-1"},
             {"url", "wss://bedrock-agentcore.us-east-1.amazonaws.com/shells/shell-1"},
             {"protocol", json::toStd(NativeDocuments::shellProtocol())}};
    auto opening = workspaceopening::openShell(&session, &session);
    // The size is authorised right after the open; it is sent once the shell's first status comes,
    // which this test's shell never sends.
    ASSERT_TRUE(testsupport::waitUntil([&] { return session.fields.size() == 2; }));
    EXPECT_EQ(session.fields, (std::vector<QString>{QStringLiteral("tavriloOpenBuildShell"),
                                                    QStringLiteral("tavriloResizeBuildShell")}));
    EXPECT_EQ(session.variables[1]["input"]["cols"], 100);
    EXPECT_EQ(session.variables[1]["input"]["rows"], 30);
    EXPECT_EQ(session.tools->sessionID(), QStringLiteral("prj-1"));
    EXPECT_EQ(session.configurations, 1);
    awaitFor(session.tools->close(), std::chrono::seconds(20));
    awaitFor(std::move(opening), std::chrono::seconds(20));
}

TEST(WorkspaceToolOpening, AFailedOpenSendsNoResizeAndIsReported)
{
    FakeSession session;
    session.answers[QStringLiteral("tavriloOpenBuildShell")] = Json{{"ok", false}, {"refusal", "SHELL_LIMIT"}};
    awaitFor(workspaceopening::openShell(&session, &session));
    EXPECT_EQ(session.fields, std::vector<QString>{QStringLiteral("tavriloOpenBuildShell")});
    EXPECT_EQ(session.message, QStringLiteral("The platform refused this workspace tool request (SHELL_LIMIT)."));

    session.answers[QStringLiteral("tavriloOpenBrowserLiveView")] = Json{{"ok", true}, {"url", "http://x/"}};
    awaitFor(workspaceopening::openBrowser(&session, &session));
    EXPECT_EQ(session.message, QStringLiteral("The browser grant did not contain a secure live view."));
}
} // namespace
