// The stand-in's hosted sign-in as a plain OAuth 2.0 client with PKCE meets it (RFC 6749, RFC 7636):
// error redirects, uncached token answers, and codes kept out of the log.

#include "StandInClient.h"
#include "StandInTestBase.h"

#include <QCryptographicHash>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace
{
const QByteArray kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
const char *kRedirect = "https://app.tavrilo.example/desktop-callback";

QByteArray challengeOf(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// The authorize URL of a well-formed request, with `changes` applied (an empty value removes the item).
QUrl authorizeUrl(const QList<QPair<QString, QString>> &changes = {})
{
    QList<QPair<QString, QString>> items = {
        {QStringLiteral("client_id"), QStringLiteral("client-1")},
        {QStringLiteral("redirect_uri"), QString::fromLatin1(kRedirect)},
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("scope"), QStringLiteral("openid profile email")},
        {QStringLiteral("state"), QStringLiteral("desktop.S1")},
        {QStringLiteral("code_challenge"), QString::fromLatin1(challengeOf(kVerifier))},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}};
    for (const auto &[name, value] : changes) {
        items.removeIf([&](const auto &item) { return item.first == name; });
        if (!value.isEmpty())
            items.append({name, value});
    }
    QUrlQuery query;
    for (const auto &[name, value] : items)
        query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    QUrl url(QStringLiteral("https://auth.tavrilo.example/oauth2/authorize"));
    url.setQuery(query.toString(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

QByteArray form(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields)
        body += (body.isEmpty() ? "" : "&") + name + '=' + QUrl::toPercentEncoding(QString::fromUtf8(value));
    return body;
}

const StandInClient::Headers kFormHeaders = {{"Content-Type", "application/x-www-form-urlencoded"}};

class HostedSignIn : public StandInTest
{
protected:
    // The code of a consented authorize request.
    QByteArray authorizationCode(StandInClient &client)
    {
        const auto answer = client.send(authorizeUrl(), std::nullopt, /*token=*/"");
        EXPECT_EQ(answer.status, 302);
        return QUrlQuery(QUrl::fromEncoded(answer.location)).queryItemValue(QStringLiteral("code")).toLatin1();
    }
};

TEST_F(HostedSignIn, TokenAnswersAreNeverCached)
{
    StandInClient client(standIn());
    const QByteArray code = authorizationCode(client);
    const QUrl token(QStringLiteral("https://auth.tavrilo.example/oauth2/token"));
    const auto exchange = [&](const QByteArray &verifier) {
        return client.send(token,
                           form({{"grant_type", "authorization_code"},
                                 {"client_id", "client-1"},
                                 {"redirect_uri", kRedirect},
                                 {"code", code},
                                 {"code_verifier", verifier}}),
                           /*token=*/"", kFormHeaders);
    };
    const auto refused = exchange("a-verifier-that-does-not-match-the-challenge-at-all");
    const auto issued = exchange(kVerifier);
    ASSERT_EQ(issued.status, 200) << issued.body.toStdString();
    EXPECT_TRUE(Json::parse(issued.body.toStdString()).contains("access_token"));
    ASSERT_EQ(refused.status, 400);
    for (const auto *answer : {&issued, &refused}) {
        EXPECT_EQ(answer->header("Cache-Control"), "no-store");
        EXPECT_EQ(answer->header("Pragma"), "no-cache");
    }
}

// An invalid request with a usable redirect URI goes back to it with "error" and the client's
// "state"; without a client or a usable redirect URI the provider shows the error itself.
struct AuthorizeCase
{
    const char *name;
    QList<QPair<QString, QString>> changes;
    const char *error; // the redirect's "error", or empty for the error page
    bool carriesState = true;
};

class AuthorizeErrors : public HostedSignIn, public ::testing::WithParamInterface<AuthorizeCase>
{
};

TEST_P(AuthorizeErrors, FollowTheProtocol)
{
    StandInClient client(standIn());
    const auto answer = client.send(authorizeUrl(GetParam().changes), std::nullopt, /*token=*/"");
    if (*GetParam().error == '\0') {
        EXPECT_EQ(answer.status, 400);
        EXPECT_TRUE(answer.location.isEmpty());
        return;
    }
    ASSERT_EQ(answer.status, 302);
    const QUrl location = QUrl::fromEncoded(answer.location);
    EXPECT_EQ(location.adjusted(QUrl::RemoveQuery), QUrl(QString::fromLatin1(kRedirect)));
    const QUrlQuery query(location);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("error")), QString::fromLatin1(GetParam().error));
    EXPECT_FALSE(query.queryItemValue(QStringLiteral("error_description")).isEmpty());
    EXPECT_FALSE(query.hasQueryItem(QStringLiteral("code")));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("state")),
              GetParam().carriesState ? QStringLiteral("desktop.S1") : QString());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, AuthorizeErrors,
    ::testing::Values(
        AuthorizeCase{"NoResponseType", {{QStringLiteral("response_type"), {}}}, "invalid_request"},
        AuthorizeCase{
            "ImplicitFlow", {{QStringLiteral("response_type"), QStringLiteral("token")}}, "unsupported_response_type"},
        AuthorizeCase{"PlainChallengeMethod",
                      {{QStringLiteral("code_challenge_method"), QStringLiteral("plain")}},
                      "invalid_request"},
        AuthorizeCase{"NoChallenge", {{QStringLiteral("code_challenge"), {}}}, "invalid_request"},
        AuthorizeCase{"ShortChallenge", {{QStringLiteral("code_challenge"), QStringLiteral("abc")}}, "invalid_request"},
        AuthorizeCase{"NoState", {{QStringLiteral("state"), {}}}, "invalid_request", false},
        AuthorizeCase{"NoClient", {{QStringLiteral("client_id"), {}}}, ""},
        AuthorizeCase{"NoRedirectUri", {{QStringLiteral("redirect_uri"), {}}}, ""},
        AuthorizeCase{
            "RelativeRedirectUri", {{QStringLiteral("redirect_uri"), QStringLiteral("/desktop-callback")}}, ""},
        AuthorizeCase{"RedirectUriWithFragment",
                      {{QStringLiteral("redirect_uri"), QStringLiteral("https://app.tavrilo.example/cb#x")}},
                      ""},
        AuthorizeCase{"RedirectUriWithLineBreak",
                      {{QStringLiteral("redirect_uri"), QStringLiteral("https://app.tavrilo.example/\r\nX-A: b")}},
                      ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostedSignIn, RedirectPageForwardsWhatItGotAndCodesNeverReachTheLog)
{
    StandInClient client(standIn());
    const QByteArray code = authorizationCode(client);
    ASSERT_FALSE(code.isEmpty());
    const QUrl page(QStringLiteral("%1?code=%2&state=desktop.S1").arg(QLatin1StringView(kRedirect), code));
    const auto forwarded = client.send(page, std::nullopt, /*token=*/"");
    ASSERT_EQ(forwarded.status, 200);
    EXPECT_TRUE(forwarded.body.contains("tavrilo-code://auth/callback?code=" + code + "&state=desktop.S1"));
    EXPECT_EQ(forwarded.header("Referrer-Policy"), "no-referrer");
    // A browser that named the page in a Referer all the same.
    client.send(QUrl(QStringLiteral("https://app.tavrilo.example/favicon.ico")), std::nullopt, /*token=*/"",
                {{"Referer", page.toEncoded()}});

    const auto error =
        client.send(QUrl(QStringLiteral("%1?error=access_denied&state=desktop.S1").arg(QLatin1StringView(kRedirect))),
                    std::nullopt, /*token=*/"");
    EXPECT_TRUE(error.body.contains("tavrilo-code://auth/callback?error=access_denied&state=desktop.S1"));
    EXPECT_FALSE(error.body.contains("code="));

    const auto requests = entriesOfKind("request");
    ASSERT_GE(requests.size(), 4u);
    for (const auto &entry : entries())
        EXPECT_FALSE(json::dump(entry).contains(code)) << json::dump(entry).toStdString();
}
} // namespace

namespace
{
Json claimsOf(const std::string &token)
{
    const QByteArray payload = QByteArray::fromStdString(token).split('.').value(1);
    return json::parse(QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding));
}

// The credentials a parent process hands to a headless capture: the account's tokens for the
// client named, with their expiry; tokens never reach the log.
TEST_F(HostedSignIn, CaptureCredentialsAreTheAccountsTokensForTheClient)
{
    EXPECT_EQ(standIn().control("POST", "/_standin/captureCredential").status, 400);
    const StandIn::ControlReply reply = standIn().control("POST", "/_standin/captureCredential?client_id=client-9");
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    const Json credentials = json::parse(reply.body);
    const Json id = claimsOf(credentials["idToken"]);
    const Json access = claimsOf(credentials["accessToken"]);
    EXPECT_EQ(id["aud"], "client-9");
    EXPECT_EQ(id["token_use"], "id");
    EXPECT_EQ(access["client_id"], "client-9");
    EXPECT_EQ(access["sub"], id["sub"]);
    EXPECT_EQ(credentials["expiresAt"].get<qint64>(), id["exp"].get<qint64>() * 1000);
    for (const auto &entry : entries()) {
        EXPECT_FALSE(json::dump(entry).contains(QByteArray::fromStdString(credentials["idToken"])))
            << json::dump(entry).toStdString();
    }
    EXPECT_FALSE(entriesOfKind("signin").empty());
}
} // namespace
