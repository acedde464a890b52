// The build shell against the stand-in platform over TLS through its proxy, as the hub reaches it:
// the grant, the command channel, input and echo, resizes, drops and reconnects, the shell's end,
// close codes, the time limit and the workspace-tool request caller's answer checks.

#include "core/HubError.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"
#include "workspace/NativeDocuments.h"

#include <gtest/gtest.h>

using testsupport::awaitFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace
{
[[maybe_unused]] ::testing::Environment *const kStandIn = ::testing::AddGlobalTestEnvironment(new SharedStandIn);

QString failureOf(QCoro::Task<void> task)
{
    try {
        awaitFor(std::move(task), 20s);
    } catch (const HubError &error) {
        return error.description();
    }
    return {};
}

class BuildShellIntegration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        standIn().setScenario(Json::object());
        m_cursor = standIn().logEntries().next;
        static int sessions = 0;
        m_session = QStringLiteral("prj-build-shell-%1").arg(++sessions);
    }

    static StandIn &standIn() { return SharedStandIn::get(); }

    std::unique_ptr<NativeDocuments> makeModel(NativeDocuments::Options options = {})
    {
        auto model = std::make_unique<NativeDocuments>(std::move(options));
        HubConfiguration configuration(
            HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("build-shell-test")}});
        configuration.tenantID = QStringLiteral("tenant-7");
        model->configure(configuration, m_session,
                         [](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("identity-token"); });
        return model;
    }

    void openReady(NativeDocuments &model)
    {
        awaitFor(model.openShell(), 20s);
        ASSERT_TRUE(waitUntil([&] { return model.shellReady(); }, 20s)) << model.shellStatus().toStdString();
    }

    std::vector<Json> entries(const char *kind, const char *event = nullptr) const
    {
        std::vector<Json> found;
        for (auto &entry : standIn().logEntries(m_cursor).entries)
            if (entry["kind"] == kind && (!event || entry.value("event", "") == event))
                found.push_back(entry);
        return found;
    }

    std::optional<Json> waitFor(const char *kind, const char *event)
    {
        return standIn().waitForEntry(m_cursor, [&](const Json &entry) {
            return entry["kind"] == kind && entry.value("event", "") == event;
        });
    }

    qint64 m_cursor = 0;
    QString m_session;
};

TEST_F(BuildShellIntegration, OpenTypeSeeTheEchoResizeExitAndClose)
{
    auto model = makeModel();
    openReady(*model);
    EXPECT_EQ(model->shellStatus(), QStringLiteral("Connected"));
    ASSERT_TRUE(model->shellID());
    EXPECT_TRUE(model->shellID()->startsWith(QStringLiteral("shell-")));

    awaitFor(model->resize(100, 30), 20s);
    const auto resize = waitFor("commandChannel", "resize");
    ASSERT_TRUE(resize);
    EXPECT_EQ((*resize)["width"], 100);
    EXPECT_EQ((*resize)["height"], 30);
    EXPECT_EQ((*resize)["authorised"], true);
    EXPECT_EQ((*resize)["json"], R"({"height":30,"width":100})");

    awaitFor(model->send(QStringLiteral("echo \x1b[1mré\x1b[0m\n")), 20s);
    ASSERT_TRUE(waitUntil([&] { return model->shellText() == QStringLiteral("echo ré\n"); }, 20s))
        << model->shellText().toStdString();

    awaitFor(model->send(QStringLiteral("exit 3\n")), 20s);
    ASSERT_TRUE(waitUntil([&] { return model->shellStatus() == QStringLiteral("Shell exited with failure (exit 3)"); }, 20s))
        << model->shellStatus().toStdString();
    EXPECT_FALSE(model->shellReady());

    awaitFor(model->close(), 20s);
    EXPECT_EQ(model->shellStatus(), QStringLiteral("Closed"));
    EXPECT_EQ(model->shellID(), std::nullopt);
    ASSERT_TRUE(waitFor("buildShell", "release"));
    // The release is a NativeDocument mutation of its own.
    bool released = false;
    for (const Json &entry : entries("graphql"))
        released |= entry["query"] == "mutation NativeDocument($input: TavriloCloseBuildShellInput!) { "
                                      "tavriloCloseBuildShell(input: $input) { ok refusal detail } }";
    EXPECT_TRUE(released);
}

TEST_F(BuildShellIntegration, ADroppedConnectionIsReconnectedToTheSameShell)
{
    standIn().setScenario(Json{{"commandChannel",
                                {{"*",
                                  {{"queue", Json::array({{{"send", Json::array({{{"stdout", "before\n"}},
                                                                                 {{"delayMs", 100}, {"drop", true}}})}}})},
                                   {"default", {{"send", Json::array({{{"heartbeat", true}}, {{"stdout", "after\n"}}})}}}}}}}});
    auto model = makeModel();
    awaitFor(model->openShell(), 20s);
    ASSERT_TRUE(waitUntil([&] { return model->shellStatus().startsWith(QStringLiteral("Reconnecting (1/5; close 0; transport ")); }, 20s))
        << model->shellStatus().toStdString();
    ASSERT_TRUE(waitUntil([&] { return model->shellStatus() == QStringLiteral("Connected · replay restored"); }, 20s))
        << model->shellStatus().toStdString();
    ASSERT_TRUE(waitUntil([&] { return model->shellText() == QStringLiteral("before\nafter\n"); }, 20s))
        << model->shellText().toStdString();
    EXPECT_EQ(model->reconnectAttempts(), 0);
    const auto opens = entries("commandChannel", "open");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0]["shellId"], opens[1]["shellId"]);
    EXPECT_EQ(opens[1]["attempt"], 2);
    awaitFor(model->close(), 20s);
}

struct EndingCase
{
    const char *name;
    Json action;
    const char *status;
};

class BuildShellEnding : public BuildShellIntegration, public ::testing::WithParamInterface<EndingCase>
{
};

TEST_P(BuildShellEnding, EndsTheShellWithoutReconnecting)
{
    const EndingCase &c = GetParam();
    // After the connect status has been taken.
    Json action = c.action;
    action["delayMs"] = 100;
    standIn().setScenario(Json{{"commandChannel", {{"*", {{"default", {{"send", Json::array({action})}}}}}}}});
    auto model = makeModel();
    openReady(*model);
    ASSERT_TRUE(waitUntil([&] { return model->shellStatus() == QString::fromUtf8(c.status); }, 20s))
        << model->shellStatus().toStdString();
    EXPECT_FALSE(model->shellReady());
    // A later known event: the close; by then no second connection was made.
    awaitFor(model->close(), 20s);
    EXPECT_EQ(entries("commandChannel", "open").size(), 1u);
}

const char *const kClosedOrRejected = "Shell closed or protocol rejected; retry available";

INSTANTIATE_TEST_SUITE_P(
    Table, BuildShellEnding,
    ::testing::Values(
        EndingCase{"Close1000", {{"close", 1000}}, kClosedOrRejected},
        EndingCase{"Close1003", {{"close", 1003}}, kClosedOrRejected},
        EndingCase{"Close4000", {{"close", 4000}}, "Another client attached; reconnect manually"},
        EndingCase{"TextMessage", {{"text", "{\"status\":\"Success\"}"}}, kClosedOrRejected},
        EndingCase{"MessageOverTheChannelsLargest", {{"size", 65537}, {"channel", 1}}, kClosedOrRejected},
        EndingCase{"ForeignShell", {{"status", {{"status", "Success"}, {"metadata", {{"shellId", "shell-foreign"}}}}}},
                   kClosedOrRejected},
        EndingCase{"CloseMessage", {{"closeMessage", true}}, "Shell exited"},
        EndingCase{"ExitZero",
                   {{"status",
                     {{"status", "Success"},
                      {"metadata", {{"shellId", "$shellId"}}},
                      {"details", {{"causes", Json::array({{{"reason", "ExitCode"}, {"message", " 0 "}}})}}}}}},
                   "Shell exited"},
        EndingCase{"Failure", {{"status", {{"status", "Failure"}, {"metadata", {{"shellId", "$shellId"}}}}}},
                   "Shell exited with failure"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BuildShellIntegration, AMessageOfTheChannelsLargestSizeIsOutput)
{
    standIn().setScenario(
        Json{{"commandChannel", {{"*", {{"default", {{"send", Json::array({{{"size", 65536}, {"channel", 1}}})}}}}}}}});
    auto model = makeModel();
    openReady(*model);
    ASSERT_TRUE(waitUntil([&] { return model->shellText().size() == 65535; }, 20s));
    EXPECT_EQ(model->shellStatus(), QStringLiteral("Connected"));
    awaitFor(model->close(), 20s);
}

TEST_F(BuildShellIntegration, TheTimeLimitClosesTheShell)
{
    NativeDocuments::Options options;
    options.shellTimeLimit = 1500ms;
    auto model = makeModel(options);
    openReady(*model);
    ASSERT_TRUE(waitUntil([&] { return model->shellStatus() == QStringLiteral("Closed"); }, 20s))
        << model->shellStatus().toStdString();
    EXPECT_TRUE(waitFor("buildShell", "release"));
    EXPECT_EQ(failureOf(model->openShell()), QStringLiteral("Sign in before opening workspace tools."));
}

TEST_F(BuildShellIntegration, CloseWaitsForTheRequestsInFlight)
{
    standIn().setScenario(
        Json{{"graphql",
              {{"NativeDocument",
                {{"queue", Json::array({{{"match", {{"field", "tavriloResizeBuildShell"}}}, {"delayMs", 700}}})}}}}}});
    auto model = makeModel();
    openReady(*model);
    auto resizing = model->resize(120, 40);
    ASSERT_TRUE(waitUntil([&] { return model->pendingRequests() == 1; }));
    awaitFor(model->close(), 20s);
    EXPECT_EQ(model->pendingRequests(), 0);
    EXPECT_EQ(failureOf(std::move(resizing)), QStringLiteral("The shell changed during resize authorization."));
    // The release went out only after the resize had its answer.
    std::vector<std::string> order;
    for (const Json &entry : standIn().logEntries(m_cursor).entries) {
        if (entry["kind"] == "buildShell")
            order.push_back(entry["event"]);
        if (entry["kind"] == "response")
            order.push_back("response");
    }
    const auto authorise = std::find(order.begin(), order.end(), "authorise");
    const auto release = std::find(order.begin(), order.end(), "release");
    ASSERT_NE(release, order.end());
    ASSERT_LT(authorise, release);
    EXPECT_NE(std::find(authorise, release, "response"), release);
}

struct AnswerCase
{
    const char *name;
    Json step;
    QString failure; // empty: accepted
};

class WorkspaceToolAnswer : public BuildShellIntegration, public ::testing::WithParamInterface<AnswerCase>
{
};

TEST_P(WorkspaceToolAnswer, IsCheckedBeforeItIsUsed)
{
    Json step = GetParam().step;
    step["match"] = {{"field", "tavriloOpenBuildShell"}};
    standIn().setScenario(Json{{"graphql", {{"NativeDocument", {{"queue", Json::array({step})}}}}}});
    auto model = makeModel();
    EXPECT_EQ(failureOf(model->openShell()), GetParam().failure);
    EXPECT_EQ(model->pendingRequests(), 0);
    awaitFor(model->close(), 20s);
}

const QString kRefused = QStringLiteral("The platform refused this workspace tool request.");

INSTANTIATE_TEST_SUITE_P(
    Table, WorkspaceToolAnswer,
    ::testing::Values(
        AnswerCase{"ExactlyTheCap", {{"bodySize", 1048576}}, {}},
        AnswerCase{"OneByteOverTheCap", {{"bodySize", 1048577}}, kRefused},
        AnswerCase{"Unauthorized", {{"status", 401}}, kRefused},
        AnswerCase{"ServerError", {{"status", 500}}, kRefused},
        AnswerCase{"ErrorsBesideValidData",
                   {{"data", {{"tavriloOpenBuildShell", {{"ok", true}}}}}, {"errors", Json::array({{{"message", "x"}}})}},
                   kRefused},
        AnswerCase{"RefusalCode", {{"answer", {{"ok", false}, {"refusal", "SHELL_LIMIT_9"}}}},
                   QStringLiteral("The platform refused this workspace tool request (SHELL_LIMIT_9).")},
        AnswerCase{"RefusalInLowerCase", {{"answer", {{"ok", false}, {"refusal", "shell_limit"}}}}, kRefused},
        AnswerCase{"RefusalOfSixtyFiveCharacters", {{"answer", {{"ok", false}, {"refusal", std::string(65, 'A')}}}},
                   kRefused}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
