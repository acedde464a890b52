#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "core/Json.h"
#include "platform/MemoryKeyring.h"
#include "platform/WebAuthSession.h"
#include "support/FollowingWebSession.h"
#include "support/SharedStandIn.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QDateTime>

#include <gtest/gtest.h>

// CognitoLogin against the stand-in's hosted sign-in, through its proxy and over real TLS. The
// sign-in page is followed the way a browser would follow it, without a window.

using testsupport::awaitFor;
using testsupport::failureOf;
using testsupport::jwtClaims;

namespace
{
const QString kClient = QStringLiteral("standin-client");
const QString kService = QStringLiteral("com.tavrilo.native-hub.account");
const QString kRefused =
    QStringLiteral("Stored session renewal was refused. Sign in outside silent capture before retrying.");

[[maybe_unused]] ::testing::Environment *const s_environment = ::testing::AddGlobalTestEnvironment(new SharedStandIn);

class SignInAgainstStandIn : public ::testing::Test
{
protected:
    SignInAgainstStandIn()
        : keyring(std::make_shared<MemoryKeyring>()),
          login(
              keyring, [] { return std::make_unique<FollowingWebSession>(); }, HubNetwork::shared().session()),
          configuration(
              HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub")},
                             {QStringLiteral("TAVRILO_COGNITO_CLIENT_ID"), kClient},
                             {QStringLiteral("TAVRILO_REDIRECT_URI"), QStringLiteral("tavrilo-code://auth/callback")},
                             {QStringLiteral("TAVRILO_COGNITO_USER_POOL_ID"), QStringLiteral("eu-west-1_Pool7")}})
    {}

    void scenario(Json https, Json account = Json::object())
    {
        Json document = Json::object();
        account["userPoolId"] = "eu-west-1_Pool7";
        document["signIn"] = {{"account", {{"default", account}}}};
        if (!https.is_null())
            document["https"] = {{"signInToken", https}};
        SharedStandIn::get().setScenario(document);
    }

    QByteArray stored() { return awaitFor(keyring->read(kService, kClient)).secret; }

    std::shared_ptr<MemoryKeyring> keyring;
    CognitoLogin login;
    HubConfiguration configuration;
};

TEST_F(SignInAgainstStandIn, SignsInWithPkceAndRenewsWithRotation)
{
    scenario({}, {{"lifetimeSeconds", 90}, {"rotateRefreshTokens", true}, {"workspace", "tenant-a"}});
    const CognitoLogin::Tokens tokens = awaitFor(login.login(configuration));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(tokens.identityToken);
    const Json identity = jwtClaims(*tokens.identityToken);
    EXPECT_EQ(json::string(identity, "iss"), configuration.tokenIssuer);
    EXPECT_EQ(json::string(identity, "aud"), kClient);
    EXPECT_EQ(json::string(identity, "token_use"), QStringLiteral("id"));
    EXPECT_EQ(json::string(identity, "custom:tenant_id"), QStringLiteral("tenant-a"));
    EXPECT_FALSE(json::string(identity, "sub").value_or(QString()).isEmpty());
    EXPECT_NEAR(double(json::integer(identity, "exp").value_or(0)), double(now + 90), 5.0);
    const Json access = jwtClaims(tokens.accessToken);
    EXPECT_EQ(json::string(access, "client_id"), kClient);
    EXPECT_EQ(json::string(access, "token_use"), QStringLiteral("access"));
    const QByteArray first = stored();
    ASSERT_FALSE(first.isEmpty());

    const auto renewed = awaitFor(login.restore(configuration));
    ASSERT_TRUE(renewed);
    EXPECT_TRUE(renewed->identityToken);
    const QByteArray second = stored();
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(second, first);
    // The provider let go of the first token when it rotated: only the stored one renews now.
    ASSERT_TRUE(awaitFor(login.restore(configuration)));
    EXPECT_NE(stored(), second);
}

TEST_F(SignInAgainstStandIn, RenewalWithoutRotationKeepsTheStoredToken)
{
    scenario({});
    awaitFor(login.login(configuration));
    const QByteArray token = stored();
    ASSERT_TRUE(awaitFor(login.restore(configuration)));
    EXPECT_EQ(stored(), token);
    EXPECT_EQ(keyring->writeCount(), 1);
}

TEST_F(SignInAgainstStandIn, ARefusedExchangeKeepsNothing)
{
    scenario({{"queue", {{{"match", {{"grant_type", "authorization_code"}}}, {"status", 500}}}}});
    EXPECT_EQ(failureOf([&] { awaitFor(login.login(configuration)); }),
              QStringLiteral("Cognito token exchange rejected."));
    EXPECT_EQ(keyring->writeCount(), 0);
}

struct RenewalCase
{
    const char *name;
    Json step;       // applied to the refresh grant
    QString failure; // empty: renewed
};

class RenewalAgainstStandIn : public SignInAgainstStandIn, public ::testing::WithParamInterface<RenewalCase>
{
};

TEST_P(RenewalAgainstStandIn, AnswerIsChecked)
{
    Json step = GetParam().step;
    step["match"] = {{"grant_type", "refresh_token"}};
    scenario({{"queue", {step}}}, {{"rotateRefreshTokens", true}});
    awaitFor(login.login(configuration));
    const QByteArray token = stored();
    if (GetParam().failure.isEmpty()) {
        ASSERT_TRUE(awaitFor(login.restore(configuration)));
        EXPECT_NE(stored(), token);
    } else {
        EXPECT_EQ(failureOf([&] { awaitFor(login.restore(configuration)); }), GetParam().failure);
        EXPECT_EQ(stored(), token);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenewalAgainstStandIn,
    ::testing::Values(RenewalCase{"ExactlyOneMebibyte", {{"bodySize", 1048576}}, {}},
                      RenewalCase{"OneByteOver",
                                  {{"bodySize", 1048577}},
                                  QStringLiteral("The identity provider returned an oversized session response.")},
                      RenewalCase{
                          "Redirect",
                          {{"status", 302}, {"headers", {{"Location", "https://auth.tavrilo.example/elsewhere"}}}},
                          kRefused},
                      RenewalCase{"Created", {{"status", 201}}, kRefused},
                      RenewalCase{"ServerError", {{"status", 503}}, kRefused},
                      RenewalCase{"MissingAccessToken",
                                  {{"body", {{"id_token", "x"}, {"refresh_token", "y"}}}},
                                  QStringLiteral("The data couldn't be read because it is missing.")}),
    [](const auto &info) { return std::string(info.param.name); });

// The provider answers 400 "invalid_grant", as for an expired or revoked token.
TEST_F(SignInAgainstStandIn, ATokenTheProviderDoesNotKnowIsRefused)
{
    scenario({});
    awaitFor(keyring->write(kService, kClient, "never-issued"));
    EXPECT_EQ(failureOf([&] { awaitFor(login.restore(configuration)); }), kRefused);
    EXPECT_EQ(stored(), QByteArray("never-issued"));
}
} // namespace
