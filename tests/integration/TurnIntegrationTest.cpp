// A live turn of the session model against the stand-in, without a window: the start, a scripted
// turn of frames with a dropped connection, the approval gate, the run controls and the stop; then
// each refusal of the turn start, the run controls and the approvals; the pending inputs as the
// platform answers them; and the turn's connection once the model has moved elsewhere.
#include "ModelAgainstStandIn.h"
#include "ScriptedTurn.h"

#include "core/WorkspaceEvent.h"

#include <QFile>
#include <QRegularExpression>

#include <map>

using namespace standinmodel;
using namespace scriptedturn;

namespace
{
const QString kStale =
    QStringLiteral("The visible approval is incomplete, stale, or already answered. Refresh the current runtime gate.");
const QString kNoControl = QStringLiteral("Sign in before sending run controls, or wait for cleanup.");
// A project session the model may move to.
const QString kElsewhere = QStringLiteral("prj-") + QString(40, u'b');

class Turn : public ModelAgainstStandIn
{
public:
    // Signed in to Atlas with the poll loop running, and a prompt typed.
    HubModel &ready()
    {
        signedIn().setPrompt(QStringLiteral("Fix the failing build"));
        return model();
    }

    // The turn the platform plays: `turn` for the start, `connections` one realtime step per
    // connection (the last one serves every further connection).
    void playTurn(Json turn, std::vector<Json> connections, Json extra = Json::object())
    {
        Json realtime = Json::object();
        Json queue = Json::array();
        for (std::size_t i = 0; i + 1 < connections.size(); ++i)
            queue.push_back(connections[i]);
        realtime["*"] = {{"queue", queue}, {"default", connections.back()}};
        extra["turn"] = {{"*", {{"default", turn}}}};
        extra["realtime"] = realtime;
        useScenario(kAtlas, Json(), extra);
    }

    // Frames of the session in the journal, by id.
    std::map<QString, int> journaledFrames() const
    {
        std::map<QString, int> counts;
        for (const WorkspaceEvent &event : journal())
            if (event.id.startsWith(QStringLiteral("frame:")))
                ++counts[event.id];
        return counts;
    }

    const EventProjection::Approval *gate(const QString &id) const
    {
        for (const EventProjection::Approval &approval : m_model->eventProjection().approvals)
            if (approval.toolUseID == id)
                return &approval;
        return nullptr;
    }
};

TEST_F(Turn, AWholeTurnFromStartToStop)
{
    HubModel &m = ready();
    const std::vector<Json> firstConnection{
        send(sessionFrame(1, "text", {{"text", "Looking at the build."}}), 150),
        send(sessionFrame(2, "reasoning", {{"text", "The linker flags are wrong."}})),
        send(sessionFrame(3, "position", {{"position", "Fix the linker flags"}, {"confidence", "high"}})),
        send(sessionFrame(4, "tool_start", {{"id", "tool-1"}, {"name", "project_read"}, {"index", 0}})),
        send(sessionFrame(5, "usage", {{"totalTokens", 1200}})),
        send(sessionFrame(6, "hook", {{"phase", "approval_pending"}, {"toolUseId", "gate-1"}})),
        {{"drop", true}},
    };
    // The connection after the drop: one frame again, then the turn goes on.
    const std::vector<Json> secondConnection{
        send(sessionFrame(6, "hook", {{"phase", "approval_pending"}, {"toolUseId", "gate-1"}}), 50),
        send(sessionFrame(7, "tool_start", {{"id", "tool-2"}, {"name", "project_search"}, {"index", 1}})),
    };
    playTurn({{"approvals", {kDeployGate}}},
             {{{"send", firstConnection}}, {{"send", secondConnection}, {"keepAliveMs", 1000}}});

    awaitFor(m.execute(), 10s);
    EXPECT_EQ(m.message(), QStringLiteral("Specialists connected."));
    EXPECT_TRUE(m.running());
    EXPECT_EQ(m.activeSessionID(), m.sessionID());
    const std::vector<Json> starts = requests("NativeStart");
    ASSERT_EQ(starts.size(), 1u);
    const Json input = starts[0]["variables"]["input"];
    EXPECT_EQ(input["sessionId"], m.sessionID().toStdString());
    EXPECT_EQ(input["text"], "Fix the failing build");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\A[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\z"))
                    .match(QString::fromStdString(input["requestId"].get<std::string>()))
                    .hasMatch());

    ASSERT_TRUE(waitUntil([&] { return m.activeTools().size() == 2 && gate(QStringLiteral("gate-1")); }, 10s));
    const EventProjection &projection = m.eventProjection();
    EXPECT_EQ(projection.reasoning.join(QString()), QStringLiteral("The linker flags are wrong."));
    ASSERT_EQ(projection.positions.size(), 1);
    EXPECT_EQ(projection.positions[0].position, QStringLiteral("Fix the linker flags"));
    EXPECT_TRUE(projection.responses.value(QStringLiteral("tavrilo_builder")).contains(QStringLiteral("Looking")));
    EXPECT_EQ(m.usageByAgent().value(QStringLiteral("tavrilo_builder")).tokens, 1200);
    EXPECT_EQ(m.headlessTransportDiagnostic().contains(QStringLiteral("reconnects=1")), true);

    // The approval gate.
    const EventProjection::Approval shown = *gate(QStringLiteral("gate-1"));
    awaitFor(m.answerApproval(shown, QStringLiteral("approved")));
    EXPECT_EQ(m.message(), QStringLiteral("Approval recorded for this session."));
    EXPECT_TRUE(m.answeredApprovalIDs().contains(QStringLiteral("gate-1")));
    ASSERT_TRUE(gate(QStringLiteral("gate-1")));
    EXPECT_EQ(gate(QStringLiteral("gate-1"))->decision, QStringLiteral("approved"));
    // The same card again is refused here, without asking the platform.
    awaitFor(m.answerApproval(shown, QStringLiteral("approved")));
    EXPECT_EQ(m.message(), kStale);
    EXPECT_EQ(requests("NativeApproval").size(), 1u);

    // Interjection, pause and resume, skip.
    awaitFor(m.sendControl(NativeControls::Command::interject(m.sessionID(), QStringLiteral("Update the docs too"))));
    EXPECT_EQ(m.message(), QStringLiteral("Interjection queued: 1 \u00b7 after round 1"));
    awaitFor(m.sendControl(NativeControls::Command::runState(m.sessionID(), QStringLiteral("paused"))));
    EXPECT_EQ(m.message(), QStringLiteral("Pause recorded. The runtime will stop at its next hook boundary."));
    EXPECT_TRUE(m.operatorPaused());
    awaitFor(m.sendControl(NativeControls::Command::runState(m.sessionID(), QStringLiteral("running"))));
    EXPECT_EQ(m.message(), QStringLiteral("Resume recorded."));
    EXPECT_FALSE(m.operatorPaused());
    awaitFor(m.sendControl(NativeControls::Command::browser(m.sessionID(), QStringLiteral("customer"))));
    EXPECT_EQ(m.message(), QStringLiteral("Browser control taken."));
    EXPECT_EQ(m.browserHolder(), QStringLiteral("customer"));
    awaitFor(m.sendControl(NativeControls::Command::browser(m.sessionID(), QStringLiteral("agent"))));
    EXPECT_EQ(m.message(), QStringLiteral("Browser control released."));
    m.setSelectedSkipID(QStringLiteral("tool-2"));
    awaitFor(m.skipActiveStep());
    EXPECT_EQ(m.message(), QStringLiteral("Skip-step recorded for the next matching hook."));
    const std::vector<Json> skips = requests("NativeSkip");
    ASSERT_EQ(skips.size(), 1u);
    EXPECT_EQ(skips[0]["variables"]["input"]["toolUseId"], "tool-2");
    EXPECT_EQ(skips[0]["variables"]["input"]["tool"], "project_search");

    // Stop.
    const QString session = m.sessionID();
    awaitFor(m.interrupt(), 10s);
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
    EXPECT_FALSE(m.running());
    EXPECT_FALSE(m.activeSessionID());
    EXPECT_TRUE(m.activeTools().isEmpty());
    EXPECT_FALSE(m.hasOwnedCleanup());
    const std::vector<Json> stops = requests("NativeStop");
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0]["variables"], (Json{{"sessionId", session.toStdString()}}));
    EXPECT_EQ(requests("NativeStart").size(), 1u);

    // Every frame once in the journal, and the operator's stop, which the window does not mirror.
    const std::map<QString, int> frames = journaledFrames();
    EXPECT_EQ(frames.size(), 7u);
    for (const auto &[id, count] : frames)
        EXPECT_EQ(count, 1) << id.toStdString();
    const std::vector<WorkspaceEvent> events = journal();
    const auto stop = std::find_if(events.begin(), events.end(), [](const WorkspaceEvent &e) {
        return e.kind == QLatin1StringView("command.interrupt");
    });
    ASSERT_NE(stop, events.end());
    EXPECT_EQ(stop->payload, (EventPayload{{QStringLiteral("session_id"), session},
                                           {QStringLiteral("reason"), QStringLiteral("operator")},
                                           {QStringLiteral("client"), QStringLiteral("macos")}}));
    ASSERT_TRUE(pollPasses(3));
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
}

// Two quick presses of Run: the second finds the first on its way, and one turn is started.
TEST_F(Turn, TwoQuickRunsStartOneTurn)
{
    HubModel &m = ready();
    playTurn(Json::object(), {{{"send", Json::array()}}});
    const auto first = launch(m.execute());
    awaitFor(m.execute());
    ASSERT_TRUE(waitUntil([&] { return *first; }, 10s));
    EXPECT_EQ(m.message(), QStringLiteral("Specialists connected."));
    EXPECT_EQ(requests("NativeStart").size(), 1u);
    awaitFor(m.closeSession(), 10s);
}

struct RefusedStart
{
    const char *name;
    Json turn;     // the "turn" step
    Json realtime; // the "realtime" step
    Json graphql;  // further GraphQL steps
    QString message;
    bool startSent;
    bool sessionOwned; // the session stays the model's to stop
};

class StartRefusal : public Turn, public ::testing::WithParamInterface<RefusedStart>
{
};

TEST_P(StartRefusal, EndsInTheStatusLine)
{
    const RefusedStart &c = GetParam();
    HubModel &m = ready();
    Json extra = Json::object();
    if (!c.graphql.is_null())
        extra["graphql"] = c.graphql;
    playTurn(c.turn, {c.realtime}, extra);
    awaitFor(m.execute(), 10s);
    EXPECT_EQ(m.message(), c.message);
    EXPECT_FALSE(m.running());
    EXPECT_FALSE(m.requestInFlight());
    EXPECT_EQ(m.activeInvocations(), 0);
    EXPECT_EQ(requests("NativeStart").size(), c.startSent ? 1u : 0u);
    EXPECT_EQ(m.activeSessionID().has_value(), c.sessionOwned);
}

const QString kRefused = QStringLiteral("Turn refused by platform.");

INSTANTIATE_TEST_SUITE_P(
    Cases, StartRefusal,
    ::testing::Values(
        RefusedStart{"RefusedWithReason",
                     {{"accepted", false}, {"reason", "The workspace is over its limit."}},
                     Json::object(),
                     Json(),
                     QStringLiteral("The workspace is over its limit."),
                     true,
                     true},
        RefusedStart{"AnotherSession", {{"sessionId", "prj-other"}}, Json::object(), Json(), kRefused, true, true},
        RefusedStart{"AnotherWorkspace", {{"tenantId", "tenant-x"}}, Json::object(), Json(), kRefused, true, true},
        RefusedStart{"AcceptedWithAReasonForAnotherSession",
                     {{"sessionId", "prj-other"}, {"reason", "Started elsewhere."}},
                     Json::object(),
                     Json(),
                     QStringLiteral("Started elsewhere."),
                     true,
                     true},
        RefusedStart{"NoAnswerObject",
                     Json::object(),
                     Json::object(),
                     {{"NativeStart", {{"default", {{"answer", nullptr}}}}}},
                     kRefused,
                     true,
                     true},
        RefusedStart{"StartRequestFails",
                     Json::object(),
                     Json::object(),
                     {{"NativeStart", {{"default", {{"errors", {{{"message", "Start is unavailable."}}}}}}}}},
                     QStringLiteral("Start is unavailable."),
                     true,
                     true},
        RefusedStart{"SubscriptionRefused",
                     Json::object(),
                     {{"handshake", "refuse"}},
                     Json(),
                     QStringLiteral("Realtime subscription refused."),
                     false,
                     true}),
    [](const auto &info) { return std::string(info.param.name); });

struct NotStarted
{
    const char *name;
    std::function<void(HubModel &, ModelAgainstStandIn &)> arrange;
    QString message; // empty: the status line is not written
};

class NoStart : public Turn, public ::testing::WithParamInterface<NotStarted>
{
};

TEST_P(NoStart, ClosesNothingAndSendsNothing)
{
    HubModel &m = ready();
    GetParam().arrange(m, *this);
    const QString before = m.message();
    awaitFor(m.execute());
    EXPECT_EQ(m.message(), GetParam().message.isEmpty() ? before : GetParam().message);
    EXPECT_TRUE(requests("NativeStart").empty());
    EXPECT_TRUE(requests("NativeStop").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoStart,
    ::testing::Values(
        NotStarted{"TurnRunning", [](HubModel &m, ModelAgainstStandIn &) { m.setRunning(true); }, {}},
        NotStarted{"SessionClosing", [](HubModel &m, ModelAgainstStandIn &) { m.setClosingSession(true); }, {}},
        NotStarted{"ProjectOpening", [](HubModel &m, ModelAgainstStandIn &) { m.setProjectOpening(true); }, {}},
        NotStarted{"SignedOut",
                   [](HubModel &m, ModelAgainstStandIn &) {
                       m.setIdentityToken(std::nullopt);
                       m.setActiveSessionID(QStringLiteral("S-old"));
                   },
                   QStringLiteral("Sign in before using the platform.")},
        NotStarted{"NoControlEndpoint",
                   [](HubModel &m, ModelAgainstStandIn &) {
                       HubConfiguration configuration = *m.configuration();
                       configuration.graphQLEndpoint.reset();
                       m.setConfiguration(configuration);
                       m.setActiveSessionID(QStringLiteral("S-old"));
                   },
                   QStringLiteral("Sign in to the configured platform control API before starting a billable "
                                  "session.")},
        NotStarted{"BlankTask",
                   [](HubModel &m, ModelAgainstStandIn &) {
                       m.setPrompt(QStringLiteral(" \n\t "));
                       m.setActiveSessionID(QStringLiteral("S-old"));
                   },
                   QStringLiteral("Enter a task.")},
        NotStarted{
            "ProjectGone",
            [](HubModel &, ModelAgainstStandIn &t) { ASSERT_TRUE(QDir(t.m_project.path()).removeRecursively()); },
            QStringLiteral("The selected project directory does not exist or is inaccessible.")}),
    [](const auto &info) { return std::string(info.param.name); });

// What stops the turn: the Stop button (an interrupt, recorded in the journal first), the stop
// control, or a session close of any other cause (a workspace switch, quitting).
enum class Stop {
    interrupt,
    stopControl,
    close,
};

// Where the turn's preparation waits when the stop comes.
enum class Landing {
    identityRenewal,
    previousSessionClose,
    projectTools,
    subscription,
    startRequest,
    pendingInputs,
};

struct StopDuringStart
{
    const char *name;
    Landing landing;
    Stop stop;
};

class StopDuringTheStart : public Turn, public ::testing::WithParamInterface<StopDuringStart>
{
};

// Whatever the preparation waits for when the stop comes, the turn ends stopped: either no start
// reaches the platform, or the start is followed by the stop of its session, and nothing is left
// running or owned.
TEST_P(StopDuringTheStart, StopsTheTurn)
{
    const StopDuringStart c = GetParam();
    HubModel &m = ready();
    constexpr int kHeld = 800; // ms the awaited step is held back; the stop comes as soon as it waits
    Json extra = Json::object();
    Json connection{{"send", Json::array()}};
    // The stand-in's log entry that shows the step waiting for its answer; for the pending inputs,
    // the query after the start (the poll loop asks too, once the session is owned).
    std::function<bool(const Json &)> waiting;
    bool startSeen = false;
    const auto graphql = [&](const char *operation) {
        return [&, operation](const Json &e) {
            if (e["kind"] != "graphql")
                return false;
            startSeen = startSeen || e.value("operation", "") == "NativeStart";
            return e.value("operation", "") == operation && (c.landing != Landing::pendingInputs || startSeen);
        };
    };
    switch (c.landing) {
    case Landing::identityRenewal:
        extra["https"] = {{"signInToken", {{"default", {{"delayMs", kHeld}}}}}};
        waiting = [](const Json &e) {
            return e["kind"] == "request" && e.value("path", "").ends_with("/oauth2/token");
        };
        break;
    case Landing::previousSessionClose:
        extra["graphql"] = {{"NativeStop", {{"default", {{"delayMs", kHeld}, {"answer", {{"ok", true}}}}}}}};
        waiting = graphql("NativeStop");
        break;
    case Landing::projectTools:
        break;
    case Landing::subscription:
        connection["beforeAck"] = {{{"delayMs", kHeld}, {"message", {{"type", "ka"}}}}};
        waiting = [](const Json &e) { return e["kind"] == "realtime" && e.value("event", "") == "start"; };
        break;
    case Landing::startRequest:
        extra["graphql"] = {{"NativeStart", {{"default", {{"delayMs", kHeld}}}}}};
        waiting = graphql("NativeStart");
        break;
    case Landing::pendingInputs:
        extra["graphql"] = {{"NativePending", {{"default", {{"delayMs", kHeld}}}}}};
        waiting = graphql("NativePending");
        break;
    }
    playTurn(Json::object(), {connection}, extra);
    if (c.landing == Landing::previousSessionClose)
        m.setActiveSessionID(QStringLiteral("S-old"));
    const QDateTime now = m_time->now;
    if (c.landing == Landing::identityRenewal)
        m_time->now = now.addSecs(7200); // the identity token has expired

    std::shared_ptr<bool> stopped;
    const auto stopNow = [&] {
        switch (c.stop) {
        case Stop::interrupt:
            stopped = launch(m.interrupt());
            break;
        case Stop::stopControl:
            stopped = launch(m.sendControl(NativeControls::Command::stop(m.sessionID())));
            break;
        case Stop::close:
            stopped = launch([](HubModel &model) -> QCoro::Task<void> {
                try {
                    co_await model.closeSession();
                } catch (const std::exception &) {
                }
            }(m));
            break;
        }
    };
    // The project tools answer from their own thread: the stop is queued as soon as the previous
    // session's close has ended, and so runs while the tools prepare the turn.
    QMetaObject::Connection queued;
    if (c.landing == Landing::projectTools)
        queued = QObject::connect(&m, &HubModel::closingSessionChanged, &m, [&] {
            if (!m.closingSession() && !stopped)
                QMetaObject::invokeMethod(&m, stopNow, Qt::QueuedConnection);
        });
    const auto executed = launch(m.execute());
    if (waiting) {
        ASSERT_TRUE(waitUntil(
            [&] {
                startSeen = false;
                const auto entries = standIn().logEntries(m_cursor).entries;
                return std::any_of(entries.begin(), entries.end(), waiting);
            },
            10s));
        ASSERT_FALSE(*executed);
        stopNow();
    }
    ASSERT_TRUE(waitUntil([&] { return stopped && *stopped && *executed; }, 15s));
    QObject::disconnect(queued);
    m_time->now = now;

    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
    EXPECT_FALSE(m.running());
    EXPECT_FALSE(m.requestInFlight());
    EXPECT_FALSE(m.closingSession());
    EXPECT_FALSE(m.activeSessionID());
    const bool started = c.landing == Landing::startRequest || c.landing == Landing::pendingInputs;
    EXPECT_EQ(requests("NativeStart").size(), started ? 1u : 0u);
    // A stop follows a start at once; before one, only the previous session is stopped.
    std::vector<std::string> stops;
    for (const Json &stop : requests("NativeStop"))
        stops.push_back(stop["variables"].value("sessionId", ""));
    if (started)
        EXPECT_EQ(stops, std::vector<std::string>{m.sessionID().toStdString()});
    else if (c.landing == Landing::previousSessionClose)
        EXPECT_EQ(stops, std::vector<std::string>{"S-old"});
    else
        EXPECT_TRUE(stops.empty());
    // Nothing of the turn runs on afterwards.
    ASSERT_TRUE(pollPasses(2));
    EXPECT_FALSE(m.running());
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopDuringTheStart,
    ::testing::Values(StopDuringStart{"IdentityRenewalInterrupted", Landing::identityRenewal, Stop::interrupt},
                      StopDuringStart{"IdentityRenewalClosed", Landing::identityRenewal, Stop::close},
                      StopDuringStart{"PreviousSessionCloseInterrupted", Landing::previousSessionClose,
                                      Stop::interrupt},
                      StopDuringStart{"PreviousSessionCloseStopped", Landing::previousSessionClose, Stop::stopControl},
                      StopDuringStart{"ProjectToolsInterrupted", Landing::projectTools, Stop::interrupt},
                      StopDuringStart{"SubscriptionInterrupted", Landing::subscription, Stop::interrupt},
                      StopDuringStart{"SubscriptionStopped", Landing::subscription, Stop::stopControl},
                      StopDuringStart{"StartRequestInterrupted", Landing::startRequest, Stop::interrupt},
                      StopDuringStart{"StartRequestClosed", Landing::startRequest, Stop::close},
                      StopDuringStart{"PendingInputsInterrupted", Landing::pendingInputs, Stop::interrupt}),
    [](const auto &info) { return std::string(info.param.name); });

// A previous session whose stop the platform refuses: the new turn does not start.
TEST_F(Turn, APreviousSessionThatCannotBeStoppedKeepsTheTurnFromStarting)
{
    HubModel &m = ready();
    useScenario(kAtlas, Json(),
                {{"graphql", {{"NativeStop", {{"default", {{"answer", {{"ok", false}, {"refusal", "BUSY"}}}}}}}}}});
    m.setActiveSessionID(QStringLiteral("S-old"));
    awaitFor(m.execute());
    EXPECT_EQ(m.message(), QStringLiteral("Control refused: BUSY"));
    EXPECT_EQ(m.cleanupFailure(), QStringLiteral("Session cleanup failed. Retry Stop or close. Control refused: BUSY"));
    EXPECT_EQ(m.activeSessionID(), QStringLiteral("S-old"));
    EXPECT_TRUE(requests("NativeStart").empty());
}

// A stop whose journal record fails still stops the platform's session, which is billed while it
// runs; the journal's failure is reported after.
TEST_F(Turn, AnInterruptWhoseRecordFailsStillStopsTheSession)
{
    HubModel &m = ready();
    playTurn(Json::object(), {{{"send", Json::array()}}});
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(m.activeSessionID());
    const QString file = m.log()->directory() + QStringLiteral("/events.jsonl");
    ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(".held")));
    ASSERT_TRUE(QDir().mkdir(file));
    awaitFor(m.interrupt(), 10s);
    QDir().rmdir(file);
    QFile::rename(file + QStringLiteral(".held"), file);
    EXPECT_EQ(requests("NativeStop").size(), 1u);
    EXPECT_FALSE(m.activeSessionID());
    EXPECT_EQ(m.message(), QStringLiteral("Cannot open workspace event log."));
}

// Run controls: one at a time, only with credentials, and nothing changes unless the platform
// accepted.
TEST_F(Turn, RunControlRefusals)
{
    HubModel &m = ready();
    playTurn(
        Json::object(), {{{"send", Json::array()}}},
        {{"graphql",
          {{"NativeRunState", {{"queue", {{{"delayMs", 300}}, {{"answer", {{"ok", false}, {"refusal", "BUSY"}}}}}}}},
           {"NativeInterject", {{"default", {{"answer", {{"ok", true}}}}}}}}}});
    awaitFor(m.execute(), 10s);
    const QString session = m.sessionID();

    awaitFor(m.sendControl(NativeControls::Command::stop(QStringLiteral("another"))));
    EXPECT_EQ(m.message(), QStringLiteral("Stop does not match the active session."));
    EXPECT_TRUE(m.activeSessionID());

    const auto first = launch(m.sendControl(NativeControls::Command::runState(session, QStringLiteral("paused"))));
    awaitFor(m.sendControl(NativeControls::Command::runState(session, QStringLiteral("running"))));
    EXPECT_EQ(m.message(), kNoControl);
    ASSERT_TRUE(waitUntil([&] { return *first; }));
    EXPECT_EQ(m.message(), QStringLiteral("Pause recorded. The runtime will stop at its next hook boundary."));

    awaitFor(m.sendControl(NativeControls::Command::runState(session, QStringLiteral("running"))));
    EXPECT_EQ(m.message(), QStringLiteral("Control refused: BUSY"));
    EXPECT_TRUE(m.operatorPaused());

    awaitFor(m.sendControl(NativeControls::Command::interject(session, QStringLiteral("Also the docs"))));
    EXPECT_EQ(m.message(), QStringLiteral("Interjection queued: 0 \u00b7 after round unreported"));

    awaitFor(m.skipActiveStep());
    EXPECT_EQ(m.message(), QStringLiteral("Choose an active tool call to skip."));

    const std::optional<QString> token = m.identityToken();
    m.setIdentityToken(std::nullopt);
    awaitFor(m.sendControl(NativeControls::Command::skip(session, QStringLiteral("x"), QStringLiteral("y"))));
    EXPECT_EQ(m.message(), kNoControl);
    m.setIdentityToken(token);

    awaitFor(m.sendControl(NativeControls::Command::stop(session)), 10s);
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
    EXPECT_FALSE(m.operatorPaused());
    EXPECT_EQ(requests("NativeRunState").size(), 2u);
}

struct StaleCase
{
    const char *name;
    std::function<void(EventProjection::Approval &)> alterCard;
    QString decision;
};

class StaleApproval : public Turn, public ::testing::WithParamInterface<StaleCase>
{
};

// The card must be the gate the projection shows, open, answerable and not answered yet.
TEST_P(StaleApproval, IsRefusedWithoutAsking)
{
    HubModel &m = ready();
    Json brief = kDeployGate;
    brief["id"] = "gate-2";
    brief["kind"] = "brief";
    brief["revision"] = std::string(64, 'a');
    brief["acceptanceCriteria"] = {"The build passes."};
    playTurn({{"approvals", {kDeployGate, brief}}},
             {{{"send", {send(sessionFrame(1, "hook", {{"phase", "approval_pending"}}), 50)}}}});
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(waitUntil([&] { return gate(QStringLiteral("gate-1")) && gate(QStringLiteral("gate-2")); }));
    EventProjection::Approval card = *gate(QStringLiteral("gate-2"));
    ASSERT_TRUE(card.ready);
    GetParam().alterCard(card);
    awaitFor(m.answerApproval(card, GetParam().decision));
    EXPECT_EQ(m.message(), kStale);
    EXPECT_TRUE(requests("NativeApproval").empty());
    awaitFor(m.closeSession(), 10s);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StaleApproval,
    ::testing::Values(
        StaleCase{"UnknownDecision", [](EventProjection::Approval &) {}, QStringLiteral("maybe")},
        StaleCase{"NotOpen", [](EventProjection::Approval &a) { a.ready = false; }, QStringLiteral("approved")},
        StaleCase{"Decided", [](EventProjection::Approval &a) { a.decision = QStringLiteral("approved"); },
                  QStringLiteral("declined")},
        StaleCase{"BriefWithoutProof", [](EventProjection::Approval &a) { a.revision = QStringLiteral("short"); },
                  QStringLiteral("approved")},
        StaleCase{"AnotherSession", [](EventProjection::Approval &a) { a.sessionID = QStringLiteral("other"); },
                  QStringLiteral("approved")},
        StaleCase{"CriteriaChanged",
                  [](EventProjection::Approval &a) { a.acceptanceCriteria = {QStringLiteral("Something else.")}; },
                  QStringLiteral("approved")},
        StaleCase{"NoLongerShown", [](EventProjection::Approval &a) { a.toolUseID = QStringLiteral("gate-9"); },
                  QStringLiteral("approved")}),
    [](const auto &info) { return std::string(info.param.name); });

// The platform accepts an approval the projection no longer shows under the answered turn: the
// answer is recorded there, and nothing is marked answered here.
TEST_F(Turn, AnApprovalOfAGateNoLongerShownIsRecordedButNotMarked)
{
    HubModel &m = ready();
    playTurn({{"approvals", {kDeployGate}}},
             {{{"send", {send(sessionFrame(1, "hook", {{"phase", "approval_pending"}}), 50)}}}});
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(waitUntil([&] { return gate(QStringLiteral("gate-1")); }));
    awaitFor(m.sendControl(NativeControls::Command::approval(m.sessionID(), QStringLiteral("gate-1"),
                                                             QStringLiteral("approved"), QStringLiteral("t-other"))));
    EXPECT_EQ(m.message(), QStringLiteral("Approval recorded for this session."));
    EXPECT_TRUE(m.answeredApprovalIDs().isEmpty());
    awaitFor(m.closeSession(), 10s);
}

// Frames that arrive while the session closes are kept: merged and journaled, so the journal of the
// stopped turn holds its last frames, but never acted on (a project call is neither run nor
// answered), and the close does not wait for them.
TEST_F(Turn, FramesThatArriveWhileTheSessionClosesAreKept)
{
    HubModel &m = ready();
    constexpr int kStopHeld = 1000; // ms the platform takes to stop: frames keep arriving meanwhile
    std::vector<Json> stream{send(sessionFrame(1, "hook", {{"phase", "approval_pending"}}), 50),
                             send(sessionFrame(2, "text", {{"text", "more"}}), 20),
                             send(sessionFrame(3, "text", {{"text", "more"}}), 20)};
    // Sent once the close has begun (it begins when the first three are in).
    Json call = sessionFrame(4, "project_call",
                             {{"handsId", json::toStd(m.handsID())},
                              {"toolUseId", "tu-late"},
                              {"tool", "project_write_file"},
                              {"input", {{"path", "late.txt"}, {"content", "written after the stop"}}},
                              {"deadline", double(QDateTime::currentMSecsSinceEpoch()) + 120000}});
    stream.push_back(send(call, 300));
    stream.push_back(send(sessionFrame(5, "turn_end", Json::object()), 20));
    for (int seq = 6; seq < 200; ++seq)
        stream.push_back(send(sessionFrame(seq, "text", {{"text", "more"}}), 20));
    // Every pending-input query waits, so that frame handlers are in flight when the close begins.
    playTurn(Json::object(), {{{"send", stream}}},
             {{"graphql",
               {{"NativePending", {{"default", {{"delayMs", 100}}}}},
                {"NativeStop", {{"default", {{"delayMs", kStopHeld}}}}}}}});
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(waitUntil([&] { return m.events().size() >= 3; }));
    const auto closed = launch(m.closeSession());
    ASSERT_TRUE(m.closingSession());
    ASSERT_TRUE(waitUntil([&] { return *closed; }, 10s));
    EXPECT_EQ(requests("NativeStop").size(), 1u);
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));

    // The frames of the close are in the model and in the journal, once each.
    const auto merged = [&](const char *kind) {
        return std::count_if(m.events().begin(), m.events().end(),
                             [&](const WorkspaceEvent &e) { return e.kind == QLatin1StringView(kind); });
    };
    EXPECT_EQ(merged("project_call"), 1);
    EXPECT_EQ(merged("turn_end"), 1);
    qsizetype frames = 0;
    for (const WorkspaceEvent &event : m.events())
        frames += event.id.startsWith(QStringLiteral("frame:")) ? 1 : 0;
    EXPECT_GT(frames, 5);
    const std::map<QString, int> journaled = journaledFrames();
    EXPECT_EQ(qsizetype(journaled.size()), frames);
    for (const auto &[id, count] : journaled)
        EXPECT_EQ(count, 1) << id.toStdString();
    // The late project call was not run, and nothing answered it.
    EXPECT_FALSE(QFile::exists(projectPath() + QStringLiteral("/late.txt")));
    EXPECT_TRUE(requests("NativeAnswer").empty());
}
// A session can be stopped only with the platform connection it was started with: signed out, the
// clean-up fails and the session stays owned, so that quitting stays refused.
TEST_F(Turn, ASignedOutSessionStaysOwned)
{
    HubModel &m = ready();
    QStringList said;
    const QMetaObject::Connection listening =
        QObject::connect(&m, &HubModel::messageChanged, &m, [&] { said.append(m.message()); });
    m.setActiveSessionID(QStringLiteral("S-old"));
    m.setIdentityToken(std::nullopt);
    const QString failure = testsupport::failureOf([&] { awaitFor(m.closeSession()); });
    QObject::disconnect(listening);
    const QString sentence =
        QStringLiteral("The active session requires its authenticated platform connection to stop safely.");
    EXPECT_EQ(failure, sentence);
    EXPECT_EQ(said.mid(0, 2),
              (QStringList{QStringLiteral("Stopping the runtime session before leaving\u2026"),
                           QStringLiteral("Session cleanup failed. Retry Stop or close. ") + sentence}));
    EXPECT_EQ(m.activeSessionID(), QStringLiteral("S-old"));
    EXPECT_FALSE(m.closingSession());
    EXPECT_TRUE(m.hasOwnedCleanup());
    EXPECT_TRUE(requests("NativeStop").empty());
}
// A close waits for the run control in flight before it sends the stop, and a second close joins
// the first one's clean-up: one stop reaches the platform.
TEST_F(Turn, AStopWaitsForTheControlInFlightAndClosesAreJoined)
{
    HubModel &m = ready();
    playTurn(Json::object(), {{{"send", Json::array()}}},
             {{"graphql", {{"NativeRunState", {{"default", {{"delayMs", 300}}}}}}}});
    awaitFor(m.execute(), 10s);
    const qint64 cursor = standIn().logEntries().next;
    const auto paused =
        launch(m.sendControl(NativeControls::Command::runState(m.sessionID(), QStringLiteral("paused"))));
    ASSERT_TRUE(m.controlInFlight());
    const auto first = launch(m.closeSession());
    const auto second = launch(m.closeSession());
    ASSERT_TRUE(waitUntil([&] { return *first && *second && *paused; }, 10s));
    EXPECT_FALSE(m.activeSessionID());
    EXPECT_FALSE(m.closingSession());
    EXPECT_EQ(requests("NativeStop").size(), 1u);
    // The pause was answered before the stop was asked for.
    std::map<qint64, std::string> operationOf; // by request entry
    qint64 lastRequest = -1;
    qint64 pauseAnswered = -1;
    qint64 stopAsked = -1;
    for (const Json &entry : standIn().logEntries(cursor).entries) {
        const qint64 index = entry["index"];
        if (entry["kind"] == "request")
            lastRequest = index;
        if (entry["kind"] == "graphql") {
            operationOf[lastRequest] = entry.value("operation", "");
            if (entry.value("operation", "") == "NativeStop")
                stopAsked = index;
        }
        if (entry["kind"] == "response" && operationOf[entry["request"].get<qint64>()] == "NativeRunState")
            pauseAnswered = index;
    }
    ASSERT_GE(pauseAnswered, 0);
    EXPECT_LT(pauseAnswered, stopAsked);
}

struct MovedCase
{
    const char *name;
    std::function<void(HubModel &)> move;
    bool framesTaken; // frames of the turn's connection still reach the model
};

class MovedOn : public Turn, public ::testing::WithParamInterface<MovedCase>
{
};

// Once the model has moved to another session or workspace, the turn's dropped connection is not
// opened again: the token request for it is refused, which the status line shows while the model
// stays in the turn's session. Frames of a session the model has left are dropped.
TEST_P(MovedOn, TheTurnsDroppedConnectionIsNotOpenedAgain)
{
    const MovedCase &c = GetParam();
    HubModel &m = ready();
    // The second frame and the drop come well after the first, when the model has moved.
    playTurn(Json::object(), {{{"send",
                                {send(sessionFrame(1, "text", {{"text", "Looking."}}), 50),
                                 send(sessionFrame(2, "text", {{"text", "Still looking."}}), 500),
                                 {{"drop", true}}}}}});
    QStringList said;
    const QObject listening;
    QObject::connect(&m, &HubModel::messageChanged, &listening, [&] { said.append(m.message()); });
    const auto texts = [&] {
        return std::count_if(m.events().begin(), m.events().end(),
                             [](const WorkspaceEvent &e) { return e.kind == QLatin1StringView("text"); });
    };
    const auto reconnects = [&] { return m.headlessTransportDiagnostic().section(u'=', -1).toInt(); };
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(waitUntil([&] { return texts() == 1; }, 10s));
    const QString session = m.sessionID();
    const HubConfiguration configuration = *m.configuration();
    c.move(m);

    // The drop is answered by a two-second wait and a token request for the next connection, whose
    // refusal is the second failure in a row.
    ASSERT_TRUE(waitUntil([&] { return reconnects() == 2; }, 10s));
    const QString refused = QStringLiteral("Reconnecting: The realtime workspace changed.");
    if (c.framesTaken)
        EXPECT_TRUE(waitUntil([&] { return said.contains(refused); }));
    else
        EXPECT_TRUE(said.filter(QStringLiteral("Reconnecting:")).isEmpty()) << said.join(u'\n').toStdString();
    EXPECT_EQ(texts(), c.framesTaken ? 2 : 1);
    std::size_t opened = 0;
    for (const Json &entry : standIn().logEntries(m_cursor).entries)
        opened += entry["kind"] == "realtime" && entry.value("event", "") == "open" ? 1 : 0;
    EXPECT_EQ(opened, 1u);

    m.setSessionID(session);
    m.setConfiguration(configuration);
    awaitFor(m.closeSession(), 10s);
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
}

INSTANTIATE_TEST_SUITE_P(Cases, MovedOn,
                         ::testing::Values(MovedCase{"AnotherSession", [](HubModel &m) { m.setSessionID(kElsewhere); },
                                                     false},
                                           MovedCase{"AnotherWorkspace",
                                                     [](HubModel &m) {
                                                         HubConfiguration configuration = *m.configuration();
                                                         configuration.tenantID = kCobalt;
                                                         m.setConfiguration(configuration);
                                                     },
                                                     true}),
                         [](const auto &info) { return std::string(info.param.name); });

// The platform's pending inputs of the session, `controls` as its run controls, answered after
// `delayMs`.
Json pendingAnswer(Json controls, int delayMs = 0)
{
    Json step{{"data", {{"tavriloRunControls", std::move(controls)}, {"tavriloPendingElicitations", Json::array()}}}};
    if (delayMs > 0)
        step["delayMs"] = delayMs;
    return {{"graphql", {{"NativePending", {{"default", step}}}}}};
}

// Run controls saying `available` and `holder` about the live browser; null leaves a member out.
Json runControls(Json available, Json holder)
{
    Json controls{{"approvals", Json::array()}};
    if (!available.is_null())
        controls["browserAvailable"] = std::move(available);
    if (!holder.is_null())
        controls["browserHolder"] = std::move(holder);
    return controls;
}

struct Browser
{
    bool present;
    const char *holder;
};

struct BrowserAnswer
{
    const char *name;
    Json controls;
    Browser before;
    Browser after;
};

class PendingBrowser : public Turn, public ::testing::WithParamInterface<BrowserAnswer>
{
};

// The run controls say whether the live browser is there and who holds it; without a browser the
// agent does. What they do not say keeps its value, and their approvals replace the model's.
TEST_P(PendingBrowser, FollowsTheRunControls)
{
    const BrowserAnswer &c = GetParam();
    HubModel &m = signedIn();
    useScenario(kAtlas, Json(), pendingAnswer(c.controls));
    m.setBrowserSessionPresent(c.before.present);
    m.setBrowserHolder(QString::fromLatin1(c.before.holder));
    EventProjection::Approval earlier;
    earlier.id = earlier.toolUseID = QStringLiteral("gate-0");
    earlier.tool = QStringLiteral("approve_deploy");
    earlier.sessionID = m.sessionID();
    EventProjection shown;
    shown.approvals.append(earlier);
    m.setEventProjection(shown);

    awaitFor(m.refreshPendingInputs(), 10s);
    EXPECT_EQ(requests("NativePending").size(), 1u);
    EXPECT_EQ(m.browserSessionPresent(), c.after.present);
    EXPECT_EQ(m.browserHolder(), QString::fromLatin1(c.after.holder));
    EXPECT_TRUE(m.eventProjection().approvals.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PendingBrowser,
    ::testing::Values(
        BrowserAnswer{"NoRunControls", Json(nullptr), {true, "customer"}, {false, "agent"}},
        BrowserAnswer{"RunControlsNotAnObject", Json::array(), {true, "customer"}, {false, "agent"}},
        BrowserAnswer{"CustomerHolds", runControls(true, "customer"), {false, "agent"}, {true, "customer"}},
        BrowserAnswer{"NoBrowserToHold", runControls(false, "customer"), {true, "customer"}, {false, "agent"}},
        BrowserAnswer{"UnknownHolder", runControls(true, "operator"), {true, "customer"}, {true, "customer"}},
        BrowserAnswer{"AvailabilityAsText", runControls("false", "customer"), {true, "agent"}, {true, "customer"}},
        BrowserAnswer{"AvailabilityUnsaid", runControls(Json(), "customer"), {false, "agent"}, {false, "agent"}}),
    [](const auto &info) { return std::string(info.param.name); });

struct Meanwhile
{
    const char *name;
    std::function<void(HubModel &)> happen; // while the platform's answer is on its way
    bool applied;
};

class PendingAnswer : public Turn, public ::testing::WithParamInterface<Meanwhile>
{
};

// An answer asked for before a gate event, a change of session or the session's close is stale
// when it arrives and changes nothing; other events leave it current.
TEST_P(PendingAnswer, AppliesUnlessOvertaken)
{
    const Meanwhile &c = GetParam();
    HubModel &m = signedIn();
    Json controls = runControls(true, "customer");
    controls["approvals"] = Json::array({kDeployGate});
    useScenario(kAtlas, Json(), pendingAnswer(std::move(controls), 300));
    m.setBrowserSessionPresent(false);
    m.setBrowserHolder(QStringLiteral("agent"));
    const auto answered = launch(m.refreshPendingInputs());
    c.happen(m);
    ASSERT_TRUE(waitUntil([&] { return *answered; }, 10s));
    EXPECT_EQ(requests("NativePending").size(), 1u);
    EXPECT_EQ(m.browserSessionPresent(), c.applied);
    EXPECT_EQ(m.browserHolder(), c.applied ? QStringLiteral("customer") : QStringLiteral("agent"));
    EXPECT_EQ(gate(QStringLiteral("gate-1")) != nullptr, c.applied);
    EXPECT_EQ(m.activeInvocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PendingAnswer,
    ::testing::Values(Meanwhile{"NothingHappens", [](HubModel &) {}, true},
                      Meanwhile{"AnEventOfAnotherKind",
                                [](HubModel &m) {
                                    awaitFor(m.receiveFrame(sessionFrame(1, "text", {{"text", "Still here."}})));
                                },
                                true},
                      Meanwhile{"AGateEvent",
                                [](HubModel &m) {
                                    awaitFor(m.receiveFrame(sessionFrame(1, "tool_end", {{"id", "tool-1"}})));
                                },
                                false},
                      Meanwhile{"ANewSession", [](HubModel &m) { m.setSessionID(kElsewhere); }, false},
                      Meanwhile{"TheSessionCloses", [](HubModel &m) { m.setClosingSession(true); }, false}),
    [](const auto &info) { return std::string(info.param.name); });

struct AnsweredCase
{
    const char *name;
    bool refreshBeforeTheAnswer; // else it starts once the answer is recorded
};

class AnsweredInputRequest : public Turn, public ::testing::WithParamInterface<AnsweredCase>
{
};

// The platform's pending list may still name an input request after recording its reply. Whether
// the refresh was asked for before the reply (its answer arriving after it) or after it, the
// answered request does not come back; the other one stays.
TEST_P(AnsweredInputRequest, StaysGoneWhateverTheRefreshSays)
{
    HubModel &m = signedIn();
    const auto record = [](const char *id) {
        return Json{{"requestId", id},
                    {"params",
                     {{"mode", "form"},
                      {"message", "Which branch?"},
                      {"requestedSchema", {{"properties", {{"branch", {{"type", "string"}}}}}}}}},
                    {"requestState", "{}"}};
    };
    const Json lagging{{"data",
                        {{"tavriloRunControls", runControls(false, "agent")},
                         {"tavriloPendingElicitations", {record("req-1"), record("req-2")}}}},
                       {"delayMs", GetParam().refreshBeforeTheAnswer ? 300 : 0}};
    useScenario(kAtlas, Json(), {{"graphql", {{"NativePending", {{"default", lagging}}}}}});
    awaitFor(m.refreshPendingInputs(), 10s);
    ASSERT_EQ(m.eventProjection().elicitations.size(), 2);
    const EventProjection::Elicitation answered = m.eventProjection().elicitations.first();
    ASSERT_EQ(answered.requestID, QStringLiteral("req-1"));

    std::shared_ptr<bool> refreshed;
    if (GetParam().refreshBeforeTheAnswer)
        refreshed = launch(m.refreshPendingInputs());
    awaitFor(m.replyElicitation(answered, QStringLiteral("decline"), {}), 10s);
    ASSERT_EQ(m.message(), QStringLiteral("Runtime input response recorded."));
    if (!refreshed)
        refreshed = launch(m.refreshPendingInputs());
    ASSERT_TRUE(waitUntil([&] { return *refreshed; }, 10s));

    QStringList shown;
    for (const EventProjection::Elicitation &request : m.eventProjection().elicitations)
        shown << request.requestID;
    EXPECT_EQ(shown, QStringList{QStringLiteral("req-2")});
}

INSTANTIATE_TEST_SUITE_P(Cases, AnsweredInputRequest,
                         ::testing::Values(AnsweredCase{"RefreshedAcrossTheAnswer", true},
                                           AnsweredCase{"RefreshedAfterTheAnswer", false}),
                         [](const auto &info) { return std::string(info.param.name); });
} // namespace

// The window's doors to the workspace tools during a live turn: refused before the session has
// an id; then the agent's input request answered as typed, and the build shell opened at 100 by 30;
// the stop closes the shell too.
TEST_F(Turn, TheWorkspaceToolsOfALiveTurn)
{
    HubModel &m = ready();
    awaitFor(m.openWorkspaceShell());
    EXPECT_EQ(m.message(), QStringLiteral("Start a signed-in session before opening shell tools."));
    awaitFor(m.openWorkspaceBrowser());
    EXPECT_EQ(m.message(), QStringLiteral("Start a signed-in session before opening browser tools."));
    EXPECT_EQ(m.documents()->shellStatus(), QStringLiteral("Not opened"));

    const Json form{{"mode", "form"},
                    {"message", "How many retries?"},
                    {"requestedSchema",
                     {{"properties", {{"retries", {{"type", "integer"}}}}}, {"required", Json::array({"retries"})}}}};
    playTurn({{"elicitations", {{{"requestId", "req-1"}, {"params", form}, {"requestState", "{\"step\":4}"}}}}},
             {{{"send", {send(sessionFrame(1, "text", {{"text", "Asking."}}), 50)}}}});
    awaitFor(m.execute(), 10s);
    ASSERT_TRUE(waitUntil([&] { return !m.eventProjection().elicitations.isEmpty(); }, 10s));
    const EventProjection::Elicitation request = m.eventProjection().elicitations.first();

    // A field that is not an integer is refused here; the request stays.
    awaitFor(
        m.replyElicitation(request, QStringLiteral("accept"), {{QStringLiteral("retries"), QStringLiteral("3.5")}}));
    EXPECT_EQ(m.message(), QStringLiteral("retries requires an integer."));
    EXPECT_FALSE(m.controlInFlight());
    const qint64 generation = m.pendingInputGeneration();
    awaitFor(m.replyElicitation(request, QStringLiteral("accept"), {{QStringLiteral("retries"), QStringLiteral("3")}}));
    EXPECT_EQ(m.message(), QStringLiteral("Runtime input response recorded."));
    EXPECT_GT(m.pendingInputGeneration(), generation);
    EXPECT_TRUE(std::none_of(m.eventProjection().elicitations.begin(), m.eventProjection().elicitations.end(),
                             [](const EventProjection::Elicitation &e) { return e.requestID == u"req-1"; }));
    const auto reply = standIn().waitForEntry(m_cursor, [](const Json &e) { return e["kind"] == "elicitation"; });
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["input"], (Json{{"sessionId", m.sessionID().toStdString()},
                                       {"requestId", "req-1"},
                                       {"requestState", "{\"step\":4}"},
                                       {"action", "accept"},
                                       {"content", "{\"retries\":3}"}}));
    // Answered, it is no longer shown: a second reply is refused without asking the platform.
    awaitFor(m.replyElicitation(request, QStringLiteral("decline"), {}));
    EXPECT_EQ(m.message(), QStringLiteral("This input request is no longer available in the current workspace."));

    awaitFor(m.openWorkspaceShell(), 20s);
    ASSERT_TRUE(waitUntil([&] { return m.documents()->shellReady(); }, 20s))
        << m.documents()->shellStatus().toStdString();
    const auto resize = standIn().waitForEntry(
        m_cursor, [](const Json &e) { return e["kind"] == "commandChannel" && e.value("event", "") == "resize"; });
    ASSERT_TRUE(resize);
    EXPECT_EQ((*resize)["width"], 100);
    EXPECT_EQ((*resize)["height"], 30);

    awaitFor(m.interrupt(), 10s);
    EXPECT_EQ(m.message(), QStringLiteral("Runtime session stopped."));
    EXPECT_EQ(m.documents()->shellStatus(), QStringLiteral("Closed"));
}
