#include "LoopbackHttpServer.h"
#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "platform/SecretServiceKeyring.h"
#include "platform/WebAuthSession.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTimer>

#include <libsecret/secret.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

// Runs against the real Secret Service: on a private session bus with an unlocked keyring daemon
// (see with-keyring.sh). Each test uses accounts of its own.

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
const QString kService = QStringLiteral("com.tavrilo.native-hub.account");

// How many items the keyring holds for the pair, locked or not, found without the code under test.
int itemCount(const QString &service, const QString &account)
{
    GHashTable *attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    g_hash_table_insert(attributes, gpointer("service"), gpointer(s.constData()));
    g_hash_table_insert(attributes, gpointer("account"), gpointer(a.constData()));
    GList *items = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    g_hash_table_unref(attributes);
    const int count = int(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

void lockDefaultCollection()
{
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    SecretCollection *collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    ASSERT_NE(collection, nullptr);
    GList *objects = g_list_append(nullptr, collection);
    // Locking never asks the user anything.
    ASSERT_GE(secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr), 1);
    g_list_free(objects);
    EXPECT_TRUE(secret_collection_get_locked(collection));
    g_object_unref(collection);
    g_object_unref(service);
}

// The process that owns the Secret Service name on the session bus.
pid_t keyringDaemon()
{
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return 0;
    GVariant *reply =
        g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "GetConnectionUnixProcessID", g_variant_new("(s)", "org.freedesktop.secrets"),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 pid = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &pid);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return pid_t(pid);
}

// The keyring daemon held with SIGSTOP: it answers nothing until resumed, as a daemon stuck on a
// slow disk or a busy bus would. Resumed at the latest when the guard goes.
class StoppedDaemon
{
public:
    explicit StoppedDaemon(pid_t pid) : m_pid(pid)
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGSTOP);
    }
    ~StoppedDaemon() { resume(); }
    StoppedDaemon(const StoppedDaemon &) = delete;
    StoppedDaemon &operator=(const StoppedDaemon &) = delete;

    // Whether the kernel reports the daemon stopped ("T" in its stat line).
    bool stopped() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
        if (m_pid <= 0 || !stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const qsizetype end = line.lastIndexOf(')');
        return end > 0 && line.mid(end + 2, 1) == "T";
    }
    void resume()
    {
        if (m_pid > 0)
            ::kill(std::exchange(m_pid, 0), SIGCONT);
    }

private:
    pid_t m_pid;
};

// The end of a call the test does not wait for at once; shared, so the call may outlive the test.
template <typename T> struct Pending
{
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
};

template <typename T> std::shared_ptr<Pending<T>> begin(QCoro::Task<T> task)
{
    auto pending = std::make_shared<Pending<T>>();
    [](QCoro::Task<T> t, std::shared_ptr<Pending<T>> p) -> QCoro::Task<void> {
        try {
            p->value.emplace(co_await std::move(t));
        } catch (...) {
            p->error = std::current_exception();
        }
        p->done = true;
    }(std::move(task), pending);
    return pending;
}

// Counts the turns of the event loop by a timer that should fire every millisecond.
class Ticker
{
public:
    Ticker()
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { ++m_ticks; });
        m_timer.start(1);
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    int m_ticks = 0;
};

TEST(SecretServiceKeyring, AddsReadsAndUpdatesInPlace)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-update");
    EXPECT_EQ(awaitFor(keyring.read(kService, account)).status, Keyring::kItemNotFound);

    ASSERT_EQ(awaitFor(keyring.write(kService, account, "first")), Keyring::kSuccess);
    Keyring::ReadResult read = awaitFor(keyring.read(kService, account));
    EXPECT_EQ(read.status, Keyring::kSuccess);
    EXPECT_EQ(read.secret, QByteArray("first"));

    ASSERT_EQ(awaitFor(keyring.write(kService, account, "second")), Keyring::kSuccess);
    EXPECT_EQ(awaitFor(keyring.read(kService, account)).secret, QByteArray("second"));
    EXPECT_EQ(itemCount(kService, account), 1);

    // Another client id, and another service under the same account, are other secrets.
    EXPECT_EQ(awaitFor(keyring.read(kService, QStringLiteral("client-other"))).status, Keyring::kItemNotFound);
    EXPECT_EQ(awaitFor(keyring.read(QStringLiteral("com.example.other"), account)).status, Keyring::kItemNotFound);
}

// Start-up reads the keyring before the window has shown anything: a daemon that does not answer
// must not freeze the window.
TEST(SecretServiceKeyring, ASilentDaemonLeavesTheCallersEventLoopRunning)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-silent");
    ASSERT_EQ(awaitFor(keyring.write(kService, account, "kept")), Keyring::kSuccess);
    StoppedDaemon daemon(keyringDaemon()); // resumed before the keyring, which waits for its call, goes
    ASSERT_TRUE(waitUntil([&] { return daemon.stopped(); }));

    Ticker ticker;
    const auto read = begin(keyring.read(kService, account));
    EXPECT_TRUE(waitUntil([&] { return ticker.ticks() >= 20; }));
    EXPECT_FALSE(read->done);

    daemon.resume();
    ASSERT_TRUE(waitUntil([&] { return read->done; }, 30s));
    ASSERT_TRUE(read->value);
    EXPECT_EQ(read->value->secret, QByteArray("kept"));
}

// A session that closes during start-up cancels the read, which ends without the daemon's answer.
TEST(SecretServiceKeyring, ACancelledReadEndsWhileTheDaemonIsSilent)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-cancelled");
    ASSERT_EQ(awaitFor(keyring.write(kService, account, "kept")), Keyring::kSuccess);
    StoppedDaemon daemon(keyringDaemon());
    ASSERT_TRUE(waitUntil([&] { return daemon.stopped(); }));

    CancelSource stop;
    Ticker ticker;
    const auto read = begin(keyring.read(kService, account, stop.token()));
    // Some turns of the loop, so the read is on its way to the daemon.
    ASSERT_TRUE(waitUntil([&] { return ticker.ticks() >= 5; }));
    stop.cancel();
    ASSERT_TRUE(waitUntil([&] { return read->done; }));
    EXPECT_TRUE(daemon.stopped());
    EXPECT_FALSE(read->value);
    EXPECT_THROW(std::rethrow_exception(read->error), CancelledError);

    // The keyring's thread is free again once the daemon answers.
    daemon.resume();
    EXPECT_EQ(awaitFor(keyring.read(kService, account), 30s).secret, QByteArray("kept"));
}

// The scripted sign-in of CognitoLogin's own tests is not needed here: renewal alone exercises
// both keyring operations.
class NoWindow : public WebAuthSession
{
public:
    bool start(Request, Completion) override { return false; }
    void cancel() override {}
};

TEST(SecretServiceKeyring, RenewalRotatesTheStoredTokenThroughTheRealKeyring)
{
    testsupport::clearProxyVariables();
    LoopbackHttpServer server([](QTcpSocket *socket, const LoopbackHttpServer::Received &request) {
        const bool known = request.body.contains("refresh_token=stored-1");
        socket->write(
            LoopbackHttpServer::answer(known ? 200 : 400, R"({"access_token":"a","refresh_token":"rotated-2"})"));
    });
    auto keyring = std::make_shared<SecretServiceKeyring>();
    const QString client = QStringLiteral("client-renew");
    ASSERT_EQ(awaitFor(keyring->write(kService, client, "stored-1")), Keyring::kSuccess);

    CognitoLogin login(
        keyring, [] { return std::make_unique<NoWindow>(); }, HubNetwork::shared().session());
    HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")}});
    configuration.clientID = client;
    configuration.authDomain = server.url();
    const auto tokens = awaitFor(login.restore(configuration));
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->accessToken, QStringLiteral("a"));
    EXPECT_EQ(awaitFor(keyring->read(kService, client)).secret, QByteArray("rotated-2"));
    EXPECT_EQ(itemCount(kService, client), 1);
}

// Runs in a keyring session of its own: it leaves the default collection locked.
TEST(LockedKeyring, GivesTheStatusSentenceAndNeverPrompts)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-locked");
    ASSERT_EQ(awaitFor(keyring.write(kService, account, "kept")), Keyring::kSuccess);
    lockDefaultCollection();

    EXPECT_EQ(awaitFor(keyring.read(kService, account)).status, Keyring::kInteractionNotAllowed);
    EXPECT_EQ(awaitFor(keyring.write(kService, account, "replaced")), Keyring::kInteractionNotAllowed);
    EXPECT_EQ(awaitFor(keyring.write(kService, QStringLiteral("client-new"), "added")),
              Keyring::kInteractionNotAllowed);
    EXPECT_EQ(itemCount(kService, QStringLiteral("client-new")), 0);

    CognitoLogin login(
        std::make_shared<SecretServiceKeyring>(), [] { return std::make_unique<NoWindow>(); },
        HubNetwork::shared().session());
    HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")}});
    configuration.clientID = account;
    try {
        awaitFor(login.restore(configuration));
        ADD_FAILURE() << "renewal from a locked keyring succeeded";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Stored credentials are inaccessible without Keyring interaction "
                                                      "(status -25308); silent capture cannot prompt."));
    }
}
} // namespace
