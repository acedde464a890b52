#include "LoopbackHttpServer.h"
#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "platform/SecretServiceKeyring.h"
#include "platform/WebAuthSession.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <libsecret/secret.h>

#include <gtest/gtest.h>

// Runs against the real Secret Service: on a private session bus with an unlocked keyring daemon
// (see with-keyring.sh). Each test uses accounts of its own.

using testsupport::awaitFor;

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

TEST(SecretServiceKeyring, AddsReadsAndUpdatesInPlace)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-update");
    EXPECT_EQ(keyring.read(kService, account).status, Keyring::kItemNotFound);

    ASSERT_EQ(keyring.write(kService, account, "first"), Keyring::kSuccess);
    Keyring::ReadResult read = keyring.read(kService, account);
    EXPECT_EQ(read.status, Keyring::kSuccess);
    EXPECT_EQ(read.secret, QByteArray("first"));

    ASSERT_EQ(keyring.write(kService, account, "second"), Keyring::kSuccess);
    EXPECT_EQ(keyring.read(kService, account).secret, QByteArray("second"));
    EXPECT_EQ(itemCount(kService, account), 1);

    // Another client id, and another service under the same account, are other secrets.
    EXPECT_EQ(keyring.read(kService, QStringLiteral("client-other")).status, Keyring::kItemNotFound);
    EXPECT_EQ(keyring.read(QStringLiteral("com.example.other"), account).status, Keyring::kItemNotFound);
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
    ASSERT_EQ(keyring->write(kService, client, "stored-1"), Keyring::kSuccess);

    CognitoLogin login(
        keyring, [] { return std::make_unique<NoWindow>(); }, HubNetwork::shared().session());
    HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")}});
    configuration.clientID = client;
    configuration.authDomain = server.url();
    const auto tokens = awaitFor(login.restore(configuration));
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->accessToken, QStringLiteral("a"));
    EXPECT_EQ(keyring->read(kService, client).secret, QByteArray("rotated-2"));
    EXPECT_EQ(itemCount(kService, client), 1);
}

// Runs in a keyring session of its own: it leaves the default collection locked.
TEST(LockedKeyring, GivesTheStatusSentenceAndNeverPrompts)
{
    SecretServiceKeyring keyring;
    const QString account = QStringLiteral("client-locked");
    ASSERT_EQ(keyring.write(kService, account, "kept"), Keyring::kSuccess);
    lockDefaultCollection();

    EXPECT_EQ(keyring.read(kService, account).status, Keyring::kInteractionNotAllowed);
    EXPECT_EQ(keyring.write(kService, account, "replaced"), Keyring::kInteractionNotAllowed);
    EXPECT_EQ(keyring.write(kService, QStringLiteral("client-new"), "added"), Keyring::kInteractionNotAllowed);
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
