// The session model's handling of project calls against the stand-in platform: the calls run on a
// fixture project through the real project tools, and their answers travel as NativeAnswer
// mutations over TLS through the stand-in's proxy.
#include "cloud/NativeLive.h"
#include "core/HubError.h"
#include "core/WorkspaceLog.h"
#include "core/async/CancelToken.h"
#include "session/HubModel.h"
#include "session/ProjectCallRules.h"
#include "session/ProjectModelSupport.h"
#include "support/SharedStandIn.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

using projectmodel::Running;
using projectmodel::start;
using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
using sessiontest::PrintTo;

[[maybe_unused]] ::testing::Environment *const kStandIn = ::testing::AddGlobalTestEnvironment(new SharedStandIn);

// The event payload the frame intake makes of a frame: its payload object with the frame's agent,
// the session and the turn set by the hub.
Json eventPayload(const Json &frame, const QString &session)
{
    Json payload = frame.contains("payload") && frame["payload"].is_object() ? frame["payload"] : Json::object();
    if (frame.contains("agent"))
        payload["agent"] = frame["agent"];
    else
        payload.erase("agent");
    payload["session_id"] = json::toStd(session);
    if (frame.contains("turnId") && frame["turnId"].is_string())
        payload["turnId"] = frame["turnId"];
    return payload;
}

// Milliseconds since 1970 on the system clock, which the model under test reads.
double nowMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

class ProjectCalls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("TAVRILO_CODE_CLI",
                (QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-code")).toUtf8());
        ASSERT_TRUE(m_folder.isValid());
        m_root = QFileInfo(m_folder.path()).canonicalFilePath();
        projectmodel::makeRepository(m_root, {{QStringLiteral("notes.txt"), "first\n"}});

        standIn().setScenario(Json::object());
        m_cursor = standIn().logEntries().next;
        model = sessiontest::makeModel();
        model->setConfiguration(sessiontest::configuration(m_root));
        model->setIdentityToken(sessiontest::identityToken());
        model->setHands(std::make_shared<NativeProjectHands>(m_root));
        model->setMessage(QString());
    }

    static StandIn &standIn() { return SharedStandIn::get(); }

    QString at(const QString &relative) const { return m_root + u'/' + relative; }
    QByteArray contents(const QString &relative) const { return testsupport::readFile(at(relative)); }

    // A "project_call" frame of this model's session, workspace and executor.
    Json frame(const std::string &toolUse, const char *tool, Json input, double deadlineFromNow = 60000) const
    {
        return Json{{"kind", "project_call"},
                    {"sessionId", json::toStd(model->sessionID())},
                    {"tenantId", json::toStd(sessiontest::kTenant)},
                    {"turnId", "turn-1"},
                    {"agent", "tavrilo_builder"},
                    {"payload",
                     {{"handsId", json::toStd(model->handsID())},
                      {"toolUseId", toolUse},
                      {"tool", tool},
                      {"input", std::move(input)},
                      {"deadline", nowMs() + deadlineFromNow}}}};
    }
    Json append(const std::string &toolUse, const char *text, double deadlineFromNow = 60000) const
    {
        return frame(toolUse, "project_write_file", {{"path", "notes.txt"}, {"content", text}, {"append", true}},
                     deadlineFromNow);
    }
    Json read(const std::string &toolUse) const { return frame(toolUse, "project_read_file", {{"path", "notes.txt"}}); }

    QCoro::Task<void> handling(const Json &f) const
    {
        return model->handleProjectCall(f, eventPayload(f, model->sessionID()), *model->configuration());
    }
    void handle(const Json &f) const { awaitFor(handling(f), std::chrono::seconds(30)); }

    // Every NativeAnswer request the stand-in received since the test began, scripted ones included.
    std::vector<Json> sends() const
    {
        std::vector<Json> found;
        for (Json &entry : standIn().logEntries(m_cursor).entries)
            if (entry.value("kind", "") == "graphql" && entry.value("operation", "") == "NativeAnswer")
                found.push_back(std::move(entry));
        return found;
    }
    // The answers the stand-in's own NativeAnswer took, by tool-use id.
    std::vector<std::string> recorded() const
    {
        std::vector<std::string> found;
        for (const Json &entry : standIn().logEntries(m_cursor).entries)
            if (entry.value("kind", "") == "project_answer" && entry.value("outcome", "") == "recorded")
                found.push_back(entry["toolUseId"]);
        return found;
    }
    void script(Json queue) const
    {
        standIn().setScenario({{"graphql", {{"NativeAnswer", {{"queue", std::move(queue)}}}}}});
    }

    std::unique_ptr<HubModel> model;
    QString m_root;

private:
    QTemporaryDir m_folder;
    qint64 m_cursor = 0;
};

TEST_F(ProjectCalls, RunOnceAnsweredAfterTheChangesViewAndNeverRunAgain)
{
    qsizetype sendsWhenSelected = -1;
    QObject::connect(model.get(), &HubModel::selectedChangePathChanged, model.get(),
                     [&] { sendsWhenSelected = qsizetype(sends().size()); });
    const Json write = append("tu-1", "second\n");
    handle(write);
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\nsecond\n");
    EXPECT_EQ(recorded(), std::vector<std::string>{"tu-1"});
    const Json sent = sends().at(0)["variables"]["input"];
    EXPECT_EQ(sent["status"], "success");
    EXPECT_EQ(sent["changed"], Json::array({"notes.txt"}));
    EXPECT_EQ(sent["handsId"], json::toStd(model->handsID()));
    // The changes view showed the written file before the answer went out.
    EXPECT_EQ(sendsWhenSelected, 0);
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("notes.txt"));
    EXPECT_TRUE(model->selectedChangeDiff().contains(QStringLiteral("+second")));
    // Confirmed: the answer leaves the cache, the tombstone stays.
    EXPECT_TRUE(model->projectAnswers().isEmpty());
    EXPECT_EQ(model->projectCallTombstones().size(), 1);
    EXPECT_TRUE(model->projectCallsInFlight().isEmpty());

    // Delivered again unchanged: neither run nor answered, nothing shown.
    handle(write);
    EXPECT_TRUE(model->message().isEmpty());
    // Delivered again with other content: refused with the sentence, still not run.
    handle(append("tu-1", "other\n"));
    EXPECT_EQ(model->message(), projectcalls::changedReplaySentence());
    handle(read("tu-2"));
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\nsecond\n");
    EXPECT_EQ(recorded(), (std::vector<std::string>{"tu-1", "tu-2"}));
    EXPECT_EQ(sends().size(), 2u);
}

TEST_F(ProjectCalls, AnUnconfirmedAnswerIsSentAgainFromTheCacheWithoutRunning)
{
    script(Json::array({{{"answer", {{"ok", false}, {"refusal", "SESSION_CLOSED"}}}}}));
    const Json write = append("tu-1", "second\n");
    handle(write);
    EXPECT_EQ(sends().size(), 1u);
    EXPECT_EQ(model->message(), projectcalls::unconfirmedSentence());
    ASSERT_EQ(model->projectAnswers().size(), 1);
    EXPECT_FALSE(model->projectAnswers().begin()->recorded);

    // The same call with another deadline is another request: silent, nothing sent or run.
    Json moved = write;
    moved["payload"]["deadline"] = write["payload"]["deadline"].get<double>() + 1;
    handle(moved);
    Json otherAgent = write;
    otherAgent["agent"] = "tavrilo_operator";
    handle(otherAgent);
    EXPECT_EQ(sends().size(), 1u);

    model->setMessage(QString());
    handle(write);
    EXPECT_EQ(recorded(), std::vector<std::string>{"tu-1"});
    EXPECT_EQ(sends().size(), 2u);
    EXPECT_EQ(sends().at(1)["variables"], sends().at(0)["variables"]);
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\nsecond\n");
    EXPECT_TRUE(model->projectAnswers().isEmpty());
    EXPECT_TRUE(model->message().isEmpty());
}

struct DeliveryCase
{
    const char *name;
    const char *queue; // the NativeAnswer steps before the stand-in's own answer
    std::size_t sends;
    bool confirmed;
};

class Delivery : public ProjectCalls, public ::testing::WithParamInterface<DeliveryCase>
{
};

TEST_P(Delivery, RetriesPassingFailuresAtMostFourTimes)
{
    const DeliveryCase &c = GetParam();
    script(json::parse(c.queue));
    handle(read("tu-1"));
    EXPECT_EQ(sends().size(), c.sends);
    EXPECT_EQ(model->projectAnswers().isEmpty(), c.confirmed);
    EXPECT_EQ(model->message(), c.confirmed ? QString() : projectcalls::unconfirmedSentence());
}

INSTANTIATE_TEST_SUITE_P(
    ProjectCalls, Delivery,
    ::testing::Values(DeliveryCase{"okAtOnce", "[]", 1, true},
                      DeliveryCase{"answeredBefore", R"([{"answer":{"ok":false,"refusal":"CALL_ANSWERED"}}])", 1, true},
                      DeliveryCase{"failedThenOk", R"([{"answer":{"ok":false,"refusal":"FAILED"}}])", 2, true},
                      DeliveryCase{"noRefusalThenOk", R"([{"answer":{"ok":false}},{"answer":null}])", 3, true},
                      DeliveryCase{"errorsThenOk", R"([{"errors":[{"message":"Busy."}]}])", 2, true},
                      DeliveryCase{"serverErrorThenOk", R"([{"status":503}])", 2, true},
                      // Qt resends a request once when the connection drops before any answer.
                      DeliveryCase{"droppedThenOk", R"([{"fault":"drop","times":2}])", 3, true},
                      DeliveryCase{"unavailableThreeTimes",
                                   R"([{"answer":{"ok":false,"refusal":"PLATFORM_UNAVAILABLE"},"times":3}])", 4, true},
                      DeliveryCase{"unavailableAlways",
                                   R"([{"answer":{"ok":false,"refusal":"PLATFORM_UNAVAILABLE"},"times":4}])", 4, false},
                      DeliveryCase{"finalRefusal", R"([{"answer":{"ok":false,"refusal":"SESSION_CLOSED"}}])", 1,
                                   false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ProjectCalls, BackOffsGrowFromTwoHundredMilliseconds)
{
    script(json::parse(R"([{"answer":{"ok":false,"refusal":"PLATFORM_UNAVAILABLE"},"times":4}])"));
    handle(read("tu-1"));
    const std::vector<Json> sent = sends();
    ASSERT_EQ(sent.size(), 4u);
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE(sent[i]["ms"].get<qint64>() - sent[i - 1]["ms"].get<qint64>(), 200 << (i - 1)) << i;
}

TEST_F(ProjectCalls, CallsOfAnotherSessionWorkspaceOrExecutorOrPastTheirDeadlineLeaveNoTrace)
{
    Json otherSession = append("tu-1", "x");
    otherSession["sessionId"] = "prj-other";
    Json otherTenant = append("tu-2", "x");
    otherTenant["tenantId"] = "tenant-b";
    Json otherHands = append("tu-3", "x");
    otherHands["payload"]["handsId"] = "0f8fad5b-d9cb-469f-a165-70867728950e";
    const Json expired = append("tu-4", "x", -1);
    for (const Json &f : {otherSession, otherTenant, otherHands, expired})
        handle(f);
    model->setHands(nullptr);
    handle(append("tu-5", "x"));
    model->setHands(std::make_shared<NativeProjectHands>(m_root));

    handle(read("tu-6"));
    EXPECT_EQ(recorded(), std::vector<std::string>{"tu-6"});
    EXPECT_EQ(sends().size(), 1u);
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\n");
    EXPECT_EQ(model->projectCallTombstones().size(), 1);
    EXPECT_TRUE(model->message().isEmpty());
}

TEST_F(ProjectCalls, ASecondDeliveryWhileTheFirstRunsEndsSilently)
{
    const Json write = append("tu-1", "second\n");
    const auto first = start(handling(write));
    const auto second = start(handling(write));
    ASSERT_TRUE(waitUntil([&] { return first->done && second->done; }, std::chrono::seconds(30)));
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\nsecond\n");
    EXPECT_EQ(sends().size(), 1u);
}

TEST_F(ProjectCalls, AnAnswerForASessionLeftDuringTheRunIsDroppedAndTheCallNeverRunsAgain)
{
    const QString session = model->sessionID();
    const Json write = append("tu-1", "second\n");
    const auto running = start(handling(write));
    model->setSessionID(QStringLiteral("prj-elsewhere"));
    ASSERT_TRUE(waitUntil([&] { return running->done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(model->projectAnswers().isEmpty());
    EXPECT_EQ(model->projectCallTombstones().size(), 1);

    model->setSessionID(session);
    handle(write);
    handle(read("tu-2"));
    EXPECT_EQ(recorded(), std::vector<std::string>{"tu-2"});
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), "first\nsecond\n");
    EXPECT_TRUE(model->message().isEmpty());
}

TEST_F(ProjectCalls, TheAnswerBudgetRefusesTheSixtyFifthRunningCall)
{
    std::vector<std::shared_ptr<Running>> running;
    for (int i = 0; i < 64; ++i)
        running.push_back(start(handling(read("tu-" + std::to_string(i)))));
    EXPECT_EQ(model->projectCallsInFlight().size(), 64);
    try {
        handle(read("tu-64"));
        ADD_FAILURE() << "the 65th call was admitted";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), projectcalls::budgetSentence());
    }
    ASSERT_TRUE(waitUntil([&] { return std::all_of(running.begin(), running.end(), [](auto &r) { return r->done; }); },
                          std::chrono::seconds(60)));
    // Refused before it was remembered: once the others settle, the same call runs.
    handle(read("tu-64"));
    EXPECT_EQ(recorded().size(), 65u);
    EXPECT_TRUE(model->projectCallsInFlight().isEmpty());
}

TEST_F(ProjectCalls, ClosingTheSessionDuringDeliveryStopsFurtherSendsSilently)
{
    // The first reply is held back, so the session closes while the first send is under way.
    script(json::parse(R"([{"delayMs":1000,"answer":{"ok":false,"refusal":"PLATFORM_UNAVAILABLE"}}])"));
    const auto running = start(handling(read("tu-1")));
    ASSERT_TRUE(waitUntil([&] { return !sends().empty(); }, std::chrono::seconds(10)));
    model->setClosingSession(true);
    ASSERT_TRUE(waitUntil([&] { return running->done; }, std::chrono::seconds(10)));
    EXPECT_EQ(sends().size(), 1u);
    EXPECT_TRUE(model->message().isEmpty());
    EXPECT_EQ(model->projectAnswers().size(), 1);
}

struct IntakeCase
{
    const char *name;
    bool closing;   // the session starts closing while the frame is journaled
    bool cancelled; // the delivering connection is stopped meanwhile
    bool runs;
};

class ProjectCallIntake : public ProjectCalls, public ::testing::WithParamInterface<IntakeCase>
{
protected:
    void TearDown() override
    {
        if (m_journal)
            QDir(m_journal->directory()).removeRecursively();
    }

    // A journal of an application id of its own, so empty at first.
    std::shared_ptr<WorkspaceLog> journal()
    {
        HubConfiguration configuration = *model->configuration();
        configuration.appID = QStringLiteral("hub-calls-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        m_journal = std::make_shared<WorkspaceLog>(configuration);
        return m_journal;
    }

    std::shared_ptr<WorkspaceLog> m_journal;
};

// A project call that reaches the frame intake is merged and journaled whatever happens meanwhile;
// it runs only while the session stays open and its connection delivers.
TEST_P(ProjectCallIntake, MergesAndJournalsTheCallAndRunsItOnlyWhileTheSessionGoesOn)
{
    const IntakeCase &c = GetParam();
    const std::shared_ptr<WorkspaceLog> log = journal();
    model->setLog(log);
    CancelSource delivery;
    const auto intake = start(model->receiveFrame(append("tu-1", "second\n"), delivery.token()));
    // The journal append is the intake's first wait.
    ASSERT_FALSE(intake->done);
    if (c.closing)
        model->setClosingSession(true);
    if (c.cancelled)
        delivery.cancel();
    ASSERT_TRUE(waitUntil([&] { return intake->done; }, std::chrono::seconds(30)));
    model->setClosingSession(false);
    EXPECT_FALSE(intake->error);

    ASSERT_EQ(model->events().size(), 1);
    EXPECT_EQ(model->events()[0].kind, QStringLiteral("project_call"));
    const std::vector<WorkspaceEvent> journaled = awaitFor(log->readDeltas()).events;
    ASSERT_EQ(journaled.size(), 1u);
    EXPECT_EQ(journaled[0].id, model->events()[0].id);
    EXPECT_EQ(contents(QStringLiteral("notes.txt")), c.runs ? "first\nsecond\n" : "first\n");
    EXPECT_EQ(recorded(), c.runs ? std::vector<std::string>{"tu-1"} : std::vector<std::string>{});
    EXPECT_EQ(model->projectCallTombstones().size(), c.runs ? 1 : 0);
    EXPECT_EQ(model->activeInvocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProjectCallIntake,
                         ::testing::Values(IntakeCase{"SessionGoesOn", false, false, true},
                                           IntakeCase{"SessionClosing", true, false, false},
                                           IntakeCase{"DeliveryStopped", false, true, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// The stand-in holds answers to the platform's rules: the input's shape, and one answer per call.
TEST_F(ProjectCalls, TheStandInTakesOneWellFormedAnswerPerCall)
{
    const HubConfiguration configuration = *model->configuration();
    Json variables = json::parse(R"({"input":{"sessionId":"prj-s","toolUseId":"tu-1","tool":"project_read_file",
        "handsId":"h","status":"success","result":"ok"}})");
    try {
        awaitFor(NativeLive::graphql(projectcalls::answerDocument(), variables, configuration, QStringLiteral("t")));
        ADD_FAILURE() << "an answer without its changed paths was taken";
    } catch (const HubError &error) {
        EXPECT_TRUE(error.description().contains(QStringLiteral("'changed'"))) << error.description().toStdString();
    }
    variables["input"]["changed"] = Json::array();
    const Json first =
        awaitFor(NativeLive::graphql(projectcalls::answerDocument(), variables, configuration, QStringLiteral("t")));
    EXPECT_EQ(projectcalls::judge(first), projectcalls::Verdict::recorded);
    EXPECT_EQ(first["tavriloAnswerProjectCall"]["ok"], true);
    const Json again =
        awaitFor(NativeLive::graphql(projectcalls::answerDocument(), variables, configuration, QStringLiteral("t")));
    EXPECT_EQ(again["tavriloAnswerProjectCall"]["refusal"], "CALL_ANSWERED");
    EXPECT_EQ(recorded(), std::vector<std::string>{"tu-1"});
}

// A turn the stand-in scripts: project calls arrive as realtime frames and are handled one at a
// time, as the frame intake hands them over; their answers reach the platform.
TEST_F(ProjectCalls, AScriptedTurnEditsTheProjectAndItsAnswersArrive)
{
    const double later = nowMs() + 120000;
    const std::string hands = json::toStd(model->handsID());
    const auto call = [&](qint64 seq, const char *toolUse, const char *tool, Json input, double deadline = 0,
                          const std::string &handsID = {}) {
        return Json{{"frame",
                     {{"seq", seq},
                      {"turnId", "turn-7"},
                      {"agent", "tavrilo_builder"},
                      {"kind", "project_call"},
                      {"payload",
                       {{"handsId", handsID.empty() ? hands : handsID},
                        {"toolUseId", toolUse},
                        {"tool", tool},
                        {"input", std::move(input)},
                        {"deadline", deadline == 0 ? later : deadline}}}}}};
    };
    const Json create{{"path", "src/app.txt"}, {"content", "one\n"}};
    Json send = Json::array({
        call(1, "tu-w", "project_write_file", create),
        call(2, "tu-e", "project_edit_file", {{"path", "src/app.txt"}, {"old_text", "one"}, {"new_text", "two"}}),
        // The write again, unchanged, and then changed.
        call(3, "tu-w", "project_write_file", create),
        call(4, "tu-w", "project_write_file", {{"path", "src/app.txt"}, {"content", "three\n"}}),
        call(5, "tu-x", "project_write_file", {{"path", "late.txt"}, {"content", "x"}}, nowMs() - 1000),
        call(6, "tu-h", "project_write_file", {{"path", "other.txt"}, {"content", "x"}}, 0,
             "0f8fad5b-d9cb-469f-a165-70867728950e"),
        call(7, "tu-r", "project_read_file", {{"path", "src/app.txt"}}),
        {{"frame", {{"seq", 8}, {"turnId", "turn-7"}, {"kind", "done"}, {"payload", Json::object()}}}},
    });
    standIn().setScenario({{"realtime", {{"*", {{"default", {{"send", send}}}}}}}});

    bool ended = false;
    NativeLive live;
    HubModel *hub = model.get();
    awaitFor(live.connect(
                 *model->configuration(), *model->identityToken(), model->sessionID(),
                 [](CancelToken) -> QCoro::Task<QString> { co_return QStringLiteral("identity-token"); },
                 [hub, &ended](Json f, CancelToken cancel) -> QCoro::Task<void> {
                     if (f.value("kind", "") == "done")
                         ended = true;
                     if (f.value("kind", "") != "project_call")
                         co_return;
                     Json payload = eventPayload(f, hub->sessionID());
                     co_await hub->handleProjectCall(std::move(f), std::move(payload), *hub->configuration(), cancel);
                 }),
             std::chrono::seconds(20));
    ASSERT_TRUE(waitUntil([&] { return ended; }, std::chrono::seconds(60)));
    live.disconnect();

    EXPECT_EQ(contents(QStringLiteral("src/app.txt")), "two\n");
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("late.txt"))));
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("other.txt"))));
    EXPECT_EQ(recorded(), (std::vector<std::string>{"tu-w", "tu-e", "tu-r"}));
    const std::vector<Json> sent = sends();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0]["variables"]["input"]["changed"], Json::array({"src/app.txt"}));
    EXPECT_EQ(sent[1]["variables"]["input"]["status"], "success");
    EXPECT_NE(sent[2]["variables"]["input"]["result"].get<std::string>().find("two"), std::string::npos);
    EXPECT_EQ(model->message(), projectcalls::changedReplaySentence());
    EXPECT_EQ(model->changeFiles(), (QList<NativeChangeFile>{{QStringLiteral("src/app.txt"), QStringLiteral("??")}}));
}
} // namespace
