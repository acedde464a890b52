#pragma once

#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubConfiguration.h"
#include "core/JournalFolder.h"
#include "core/JournalReader.h"
#include "core/async/Job.h"
#include "core/async/Sleep.h"
#include "platform/MemoryKeyring.h"
#include "session/HubModel.h"
#include "support/FollowingWebSession.h"
#include "support/SharedStandIn.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

// Failures print texts as text.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// The session model against the stand-in platform, as the application assembles it, with a memory
// keyring, a sign-in window that follows the consenting sign-in page, and a clock the test holds.
// Each test has an application id (so a journal of its own), a project folder, a data home and a
// signed-in user of its own; the user is a member of two workspaces, "Atlas" (tenant-a, the
// default) and "Cobalt" (tenant-c), and signs in to tenant-a unless the test says otherwise.
namespace standinmodel
{
using namespace std::chrono_literals;
using testsupport::awaitFor;
using testsupport::waitUntil;

// One stand-in for the whole program, whichever of its files include this.
[[maybe_unused]] inline ::testing::Environment *const s_standIn =
    ::testing::AddGlobalTestEnvironment(new SharedStandIn);

inline const QString kClient = QStringLiteral("standin-client");
inline const QString kAtlas = QStringLiteral("tenant-a");
inline const QString kCobalt = QStringLiteral("tenant-c");
inline const QString kReady = QStringLiteral("Your Tavrilo workspace is ready.");

// The time the model reads: set by the test, and a count of the poll loop's pauses, each a few
// milliseconds of real time.
struct FakeTime
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    int pauses = 0;
};

// Starts `task` and returns at once, as a second click does while the first one's operation waits;
// the flag turns true when the task has ended.
inline std::shared_ptr<bool> launch(QCoro::Task<void> task)
{
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<void> running, std::shared_ptr<bool> ended) -> QCoro::Task<void> {
        co_await std::move(running);
        *ended = true;
    }(std::move(task), done);
    return done;
}

inline Json membership(const QString &tenant, const char *name, bool isDefault)
{
    return {{"tenantId", tenant.toStdString()}, {"tenantName", name}, {"role", "owner"}, {"isDefault", isDefault}};
}

class ModelAgainstStandIn : public ::testing::Test
{
public:
    void SetUp() override
    {
        const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(12);
        m_appID = QStringLiteral("hubit-") + unique;
        m_subject = QStringLiteral("user-") + unique;
        ASSERT_TRUE(m_project.isValid() && m_data.isValid());
        m_environment = {{"TAVRILO_APP_ID", m_appID.toUtf8()},
                         {"TAVRILO_WORKSPACE_ROOT", QFile::encodeName(m_project.path())},
                         {"TAVRILO_COGNITO_CLIENT_ID", kClient.toUtf8()},
                         {"TAVRILO_REDIRECT_URI", "tavrilo-code://auth/callback"},
                         {"XDG_DATA_HOME", QFile::encodeName(m_data.path())}};
        for (const auto &[name, value] : m_environment) {
            m_previous.emplace_back(name, qgetenv(name));
            qputenv(name, value);
        }
        // Journal stamps have whole seconds: a start-up time a little in the past keeps the
        // stops the test writes from counting as older than the window.
        m_time->now = QDateTime::currentDateTimeUtc().addSecs(-5);
        useScenario();
    }

    void TearDown() override
    {
        if (m_model) {
            const Job start = m_start;
            start.cancel();
            EXPECT_TRUE(waitUntil([&] { return start.isFinished(); }));
            awaitFor(m_model->stopLedgerRefresh());
            m_model.reset();
        }
        QDir(QStringLiteral("/tmp/tavrilo/") + m_appID).removeRecursively();
        for (const auto &[name, value] : m_previous)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    // The test's account (signed in to `workspace`, member of Atlas and Cobalt unless `identity`
    // says otherwise) plus `extra` sections; posting it empties every queue.
    void useScenario(const QString &workspace = kAtlas, Json identity = Json(), Json extra = Json::object())
    {
        if (identity.is_null())
            identity = {{"workspaces", {membership(kAtlas, "Atlas", true), membership(kCobalt, "Cobalt", false)}}};
        Json document = extra;
        document["signIn"] = {
            {"account", {{"default", {{"sub", m_subject.toStdString()}, {"workspace", workspace.toStdString()}}}}}};
        document["identity"] = {{"account", {{"default", identity}}}};
        standIn().setScenario(document);
        m_cursor = standIn().logEntries().next;
    }

    static StandIn &standIn() { return SharedStandIn::get(); }

    HubConfiguration configuration() const { return HubConfiguration(HubConfiguration::configuredEnvironment()); }
    QString projectPath() const { return QDir(m_project.path()).canonicalPath(); }

    // A refresh token in the keyring, as a sign-in of an earlier run left it.
    void storeSignIn()
    {
        CognitoLogin login(
            m_keyring, [] { return std::make_unique<FollowingWebSession>(); }, HubNetwork::shared().session());
        awaitFor(login.login(configuration()));
        m_cursor = standIn().logEntries().next;
    }

    HubModel &model()
    {
        if (!m_model) {
            auto time = m_time;
            HubClock clock{[time] { return time->now; },
                           [time](std::chrono::milliseconds, CancelToken token) {
                               ++time->pauses;
                               return sleepFor(2ms, std::move(token));
                           }};
            HubModel::Dependencies dependencies{m_keyring, [] { return std::make_unique<FollowingWebSession>(); }, {}};
            dependencies.clock = std::move(clock);
            m_model = std::make_unique<HubModel>(std::move(dependencies));
        }
        return *m_model;
    }

    // Runs start-up and the poll loop until the test ends; returns once start-up has reported.
    void start()
    {
        HubModel *m = &model();
        const QString initial = m->message();
        m_start = Job::start([m](CancelToken token) { return m->start(token); });
        ASSERT_TRUE(waitUntil([&] { return m->message() != initial; }, 10s)) << "start-up did not report";
    }

    // Started and signed in to Atlas, with the poll loop running.
    HubModel &signedIn()
    {
        storeSignIn();
        start();
        EXPECT_EQ(model().message(), kReady);
        EXPECT_TRUE(pollPasses(1));
        return model();
    }

    // Waits for `passes` more passes of the poll loop.
    bool pollPasses(int passes)
    {
        const int target = m_time->pauses + passes;
        return waitUntil([&] { return m_time->pauses >= target; });
    }

    // GraphQL requests of `operation` the stand-in received since the test's cursor.
    std::vector<Json> requests(const char *operation) const
    {
        std::vector<Json> found;
        for (const Json &entry : standIn().logEntries(m_cursor).entries)
            if (entry["kind"] == "graphql" && entry.value("operation", "") == operation)
                found.push_back(entry);
        return found;
    }

    // The events of `tenant` in the application's journal, from its start.
    std::vector<WorkspaceEvent> journal(const QString &tenant = kAtlas) const
    {
        JournalReader reader(JournalFolder::setUp(m_appID), m_appID, tenant);
        return reader.readDeltas().events;
    }

    // Appends an event to the shared journal from a process of its own, as another client does.
    void appendFromAnotherProcess(const QString &kind, const EventPayload &payload, const QString &tenant = kAtlas,
                                  const QString &timestamp = QStringLiteral("now"))
    {
        QStringList arguments{m_appID, tenant, kind, timestamp};
        for (auto it = payload.begin(); it != payload.end(); ++it)
            arguments.append(it.key() + u'=' + it.value());
        QProcess process;
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/journal_append_process"), arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }

    QString m_appID;
    QString m_subject;
    QTemporaryDir m_project;
    QTemporaryDir m_data;
    std::shared_ptr<MemoryKeyring> m_keyring = std::make_shared<MemoryKeyring>();
    std::shared_ptr<FakeTime> m_time = std::make_shared<FakeTime>();
    std::unique_ptr<HubModel> m_model;
    Job m_start;
    qint64 m_cursor = 0;

private:
    std::vector<std::pair<const char *, QByteArray>> m_environment;
    std::vector<std::pair<const char *, QByteArray>> m_previous;
};
} // namespace standinmodel
