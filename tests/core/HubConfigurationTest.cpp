#include "FifoSupport.h"

#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

using testsupport::writeFile;

namespace
{
const QString kAppSentence = QStringLiteral("Set TAVRILO_APP_ID to an identifier containing letters, numbers, _ or -.");
const QString kPoolSentence = QStringLiteral("The configured Cognito pool identifier is invalid.");
const QString kAuthSentence = QStringLiteral("Invalid native authentication domain.");
const QString kGraphQLSentence = QStringLiteral("Invalid native platform GraphQL endpoint.");

HubEnvironment withApp(HubEnvironment env)
{
    if (!env.contains(QStringLiteral("TAVRILO_APP_ID")))
        env.insert(QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub"));
    return env;
}

// The sentence construction throws, or the empty text when it succeeds.
QString failureOf(const HubEnvironment &env)
{
    try {
        HubConfiguration configuration(env);
        return {};
    } catch (const HubError &error) {
        return error.description();
    }
}

struct ConstructionCase
{
    const char *name;
    HubEnvironment env;
    QString sentence; // empty: accepted
};

class Construction : public ::testing::TestWithParam<ConstructionCase>
{
};

TEST_P(Construction, GivesTheFirstFailedSentence)
{
    EXPECT_EQ(failureOf(GetParam().env), GetParam().sentence);
}

const QString k64 = QString(64, u'a');

INSTANTIATE_TEST_SUITE_P(
    Table, Construction,
    ::testing::Values(
        ConstructionCase{"AppIdMissing", {}, kAppSentence},
        ConstructionCase{"AppIdEmpty", {{"TAVRILO_APP_ID", ""}}, kAppSentence},
        ConstructionCase{"AppId64", {{"TAVRILO_APP_ID", k64}}, {}},
        ConstructionCase{"AppId65", {{"TAVRILO_APP_ID", k64 + u'b'}}, kAppSentence},
        ConstructionCase{"AppIdLeadingUnderscore", {{"TAVRILO_APP_ID", "_hub"}}, kAppSentence},
        ConstructionCase{"AppIdLeadingDash", {{"TAVRILO_APP_ID", "-hub"}}, kAppSentence},
        ConstructionCase{"AppIdInnerMarks", {{"TAVRILO_APP_ID", "h_u-b9"}}, {}},
        ConstructionCase{"AppIdDot", {{"TAVRILO_APP_ID", "hub.app"}}, kAppSentence},
        ConstructionCase{"AppIdNonAscii", {{"TAVRILO_APP_ID", "hübsch"}}, kAppSentence},
        ConstructionCase{"AppIdTrailingNewline", {{"TAVRILO_APP_ID", "hub\n"}}, kAppSentence},
        ConstructionCase{"AppIdFirstThenEndpoint",
                         {{"TAVRILO_APP_ID", "_"}, {"TAVRILO_PLATFORM_GRAPHQL_URL", "http://x"}},
                         kAppSentence},
        ConstructionCase{"PoolValid", withApp({{"TAVRILO_COGNITO_USER_POOL_ID", "eu-west-1_AbC123"}}), {}},
        ConstructionCase{"PoolEmptyFirstHidesValidSecond",
                         withApp({{"TAVRILO_CODE_COGNITO_USER_POOL_ID", ""},
                                  {"TAVRILO_COGNITO_USER_POOL_ID", "eu-west-1_AbC123"}}),
                         kPoolSentence},
        ConstructionCase{"PoolNoDigitsGroup", withApp({{"TAVRILO_COGNITO_USER_POOL_ID", "eu-west_AbC"}}),
                         kPoolSentence},
        ConstructionCase{"PoolUpperRegion", withApp({{"TAVRILO_COGNITO_USER_POOL_ID", "EU-west-1_AbC"}}),
                         kPoolSentence},
        ConstructionCase{"PoolTrailingNewline", withApp({{"TAVRILO_COGNITO_USER_POOL_ID", "eu-west-1_AbC\n"}}),
                         kPoolSentence},
        ConstructionCase{"AuthPathAndFragment",
                         withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://auth.tavrilo.example:8443/x#y"}}), {}},
        ConstructionCase{"AuthQuery", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://auth.tavrilo.example/?a=1"}}),
                         kAuthSentence},
        ConstructionCase{"AuthHttp", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "http://auth.tavrilo.example"}}),
                         kAuthSentence},
        ConstructionCase{"AuthUpperScheme", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "HTTPS://auth.tavrilo.example"}}),
                         kAuthSentence},
        ConstructionCase{"AuthOtherHost", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://evil.example"}}),
                         kAuthSentence},
        ConstructionCase{"AuthSuffixHost",
                         withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://xauth.tavrilo.example"}}), kAuthSentence},
        ConstructionCase{"AuthUser", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://u:p@auth.tavrilo.example"}}),
                         kAuthSentence},
        ConstructionCase{"AuthEmptyUser", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", "https://@auth.tavrilo.example"}}),
                         kAuthSentence},
        ConstructionCase{"AuthEmpty", withApp({{"TAVRILO_CODE_AUTH_DOMAIN", ""}}), kAuthSentence},
        ConstructionCase{"GraphQLApiHost443",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://api.tavrilo.example:443/graphql"}}), {}},
        ConstructionCase{"GraphQLSubdomain",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://gql.eu.tavrilo-cloud.example/graphql"}}),
                         {}},
        ConstructionCase{"GraphQLAppSync",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL",
                                   "https://abc123.appsync-api.eu-west-1.amazonaws.com/graphql"}}),
                         {}},
        ConstructionCase{"GraphQLAppSyncPrefixed",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL",
                                   "https://x.abc.appsync-api.eu-west-1.amazonaws.com/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLBareDomain",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLPort8443",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://api.tavrilo.example:8443/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLQuery",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://api.tavrilo.example/graphql?x=1"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLFragment",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://api.tavrilo.example/graphql#x"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLUser",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://me@api.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLSignInHost",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://auth.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLDatabaseHost",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://db.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        // The stored URL lower-cases the host and maps full-width letters and ideographic full
        // stops to ASCII: a denied host written that way is still the denied host.
        ConstructionCase{"GraphQLSignInHostUpperCase",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://AUTH.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLSignInHostFullWidth",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL",
                                   "https://\uFF41uth.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLDatabaseHostMixedCase",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://dB.tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLIdeographicStops",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://x.auth\u3002tavrilo.example/graphql"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLUpperCasePlatformHost",
                         withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "https://GQL.tavrilo.example/graphql"}}), {}},
        ConstructionCase{"GraphQLHttp", withApp({{"TAVRILO_PLATFORM_GRAPHQL_URL", "http://api.tavrilo.example/"}}),
                         kGraphQLSentence},
        ConstructionCase{"GraphQLEmptyFirstHidesSecond",
                         withApp({{"TAVRILO_CODE_PLATFORM_GRAPHQL_URL", ""},
                                  {"TAVRILO_PLATFORM_GRAPHQL_URL", "https://api.tavrilo.example/graphql"}}),
                         kGraphQLSentence}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Configuration, FieldsFollowTheFirstPresentKeyOfEachPair)
{
    const HubConfiguration c(withApp({
        {"TAVRILO_CODE_COGNITO_USER_POOL_ID", "us-east-1_Pool9"},
        {"TAVRILO_COGNITO_USER_POOL_ID", "eu-west-1_Other"},
        {"TAVRILO_COGNITO_CLIENT_ID", "first"},
        {"TAVRILO_CODE_COGNITO_CLIENT_ID", "second"},
        {"TAVRILO_CODE_DESKTOP_REDIRECT_URI", "tavrilo-code://auth/callback"},
        {"TAVRILO_WORKSPACE_ROOT", "/tmp/a/../b/./c"},
    }));
    EXPECT_EQ(c.tokenIssuer, QStringLiteral("https://cognito-idp.us-east-1.amazonaws.com/us-east-1_Pool9"));
    EXPECT_EQ(c.clientID, QStringLiteral("first"));
    EXPECT_EQ(c.redirectURI, QStringLiteral("tavrilo-code://auth/callback"));
    EXPECT_EQ(c.root, QStringLiteral("/tmp/b/c"));
    EXPECT_TRUE(c.tenantID.isEmpty());
    EXPECT_EQ(c.graphQLEndpoint, QUrl(QStringLiteral("https://api.tavrilo.example/graphql")));
    EXPECT_EQ(c.authDomain, QUrl(QStringLiteral("https://auth.tavrilo.example")));

    const HubConfiguration bare(withApp({}));
    EXPECT_FALSE(bare.tokenIssuer);
    EXPECT_FALSE(bare.clientID);
    EXPECT_FALSE(bare.redirectURI);
}

// .env files ----------------------------------------------------------------------------------

struct EnvFileTest : ::testing::Test
{
    QTemporaryDir dir;
    QString root() const { return dir.path(); }
    HubEnvironment merged(HubEnvironment process = {}) const
    {
        return HubConfiguration::configuredEnvironment(std::move(process), root());
    }
};

struct LineCase
{
    const char *name;
    QByteArray file;
    std::optional<QString> appId; // expected TAVRILO_APP_ID, nothing when absent
};

class EnvLines : public EnvFileTest, public ::testing::WithParamInterface<LineCase>
{
};

TEST_P(EnvLines, ReadAsWritten)
{
    writeFile(root() + QStringLiteral("/.env"), GetParam().file);
    const auto env = merged();
    if (GetParam().appId)
        EXPECT_EQ(env.value(QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("<absent>")), *GetParam().appId);
    else
        EXPECT_FALSE(env.contains(QStringLiteral("TAVRILO_APP_ID")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnvLines,
    ::testing::Values(LineCase{"Plain", "TAVRILO_APP_ID=hub\n", QStringLiteral("hub")},
                      LineCase{"Export", "export TAVRILO_APP_ID=hub", QStringLiteral("hub")},
                      LineCase{"ExportInside", "TAVRILO_export APP_ID=hub", QStringLiteral("hub")},
                      LineCase{"Blanks", " \tTAVRILO_APP_ID \t=  hub  \n", QStringLiteral("hub")},
                      LineCase{"DoubleQuotes", "TAVRILO_APP_ID=\"hub\"", QStringLiteral("hub")},
                      LineCase{"SingleQuotes", "TAVRILO_APP_ID='hub'", QStringLiteral("hub")},
                      LineCase{"UnpairedQuotes", "TAVRILO_APP_ID=\"'hub\"\"", QStringLiteral("hub")},
                      LineCase{"SpaceInsideQuotes", "TAVRILO_APP_ID=\" hub \"", QStringLiteral(" hub ")},
                      LineCase{"TwoQuotesEmpty", "TAVRILO_APP_ID=\"\"", QStringLiteral("")},
                      LineCase{"NothingAfterEquals", "TAVRILO_APP_ID=\nTAVRILO_APP_ID=second",
                               QStringLiteral("second")},
                      LineCase{"BlankValueCounts", "TAVRILO_APP_ID= \nTAVRILO_APP_ID=second", QStringLiteral("")},
                      LineCase{"CommentKept", "TAVRILO_APP_ID=hub # note", QStringLiteral("hub # note")},
                      LineCase{"LeadingEquals", "==TAVRILO_APP_ID=a=b", QStringLiteral("a=b")},
                      LineCase{"CarriageReturn", "TAVRILO_APP_ID=hub\r\n", QStringLiteral("hub")},
                      LineCase{"UnknownKey", "OTHER=1\nPATH=/x", std::nullopt},
                      LineCase{"NoEquals", "TAVRILO_APP_ID", std::nullopt},
                      LineCase{"FirstLineWins", "TAVRILO_APP_ID=one\nTAVRILO_APP_ID=two", QStringLiteral("one")},
                      LineCase{"InvalidUtf8SkipsFile", "TAVRILO_APP_ID=hub\n\xff\xfe", std::nullopt},
                      LineCase{"NulBytes", QByteArray("TAVRILO_APP_ID=h\0b", 18), QStringLiteral("h\0b")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EnvFileTest, KeysOtherThanTheElevenCannotBeSet)
{
    writeFile(root() + QStringLiteral("/.env"), "TAVRILO_CODE_CLI=/bin/sh\nHOME=/x\n");
    const auto env = merged({{"HOME", "/home/me"}});
    EXPECT_FALSE(env.contains(QStringLiteral("TAVRILO_CODE_CLI")));
    EXPECT_EQ(env.value(QStringLiteral("HOME")), QStringLiteral("/home/me"));
}

TEST_F(EnvFileTest, ProcessEnvironmentWinsOverFiles)
{
    writeFile(root() + QStringLiteral("/.env"), "TAVRILO_APP_ID=file\nTAVRILO_REDIRECT_URI=r\n");
    const auto env = merged({{"TAVRILO_APP_ID", "process"}});
    EXPECT_EQ(env.value(QStringLiteral("TAVRILO_APP_ID")), QStringLiteral("process"));
    EXPECT_EQ(env.value(QStringLiteral("TAVRILO_REDIRECT_URI")), QStringLiteral("r"));
}

TEST_F(EnvFileTest, OnlyTheFirst131072BytesAreRead)
{
    QByteArray file = "TAVRILO_APP_ID=early\n";
    file += QByteArray(131072 - 25 - file.size() - 1, '#') + '\n'; // the next line starts 25 bytes before the cut
    // This line straddles the boundary: its first part is read as far as it goes.
    file += "TAVRILO_REDIRECT_URI=abcdefghijklmnopqrstuvwxyz\nTAVRILO_CODE_AUTH_DOMAIN=late\n";
    writeFile(root() + QStringLiteral("/.env"), file);
    const auto env = merged();
    EXPECT_EQ(env.value(QStringLiteral("TAVRILO_APP_ID")), QStringLiteral("early"));
    const QString cut = env.value(QStringLiteral("TAVRILO_REDIRECT_URI"));
    EXPECT_EQ(cut, QStringLiteral("abcd"));
    EXPECT_TRUE(cut.size() > 0 && QStringLiteral("abcdefghijklmnopqrstuvwxyz").startsWith(cut)) << cut.toStdString();
    EXPECT_FALSE(env.contains(QStringLiteral("TAVRILO_CODE_AUTH_DOMAIN")));
}

TEST_F(EnvFileTest, ACharacterSplitAtTheLimitSkipsTheWholeFile)
{
    QByteArray file = "TAVRILO_APP_ID=early\n";
    file += QByteArray(131071 - file.size(), 'x');
    file += "\xc3\xa9\n"; // "é" straddles byte 131072
    writeFile(root() + QStringLiteral("/.env"), file);
    EXPECT_FALSE(merged().contains(QStringLiteral("TAVRILO_APP_ID")));
}

TEST_F(EnvFileTest, SourceTreeReadsTheTreeFileThenItsParent)
{
    writeFile(root() + QStringLiteral("/tavrilo-code/native-hub/Package.swift"), "");
    writeFile(root() + QStringLiteral("/tavrilo-code/.env"), "TAVRILO_APP_ID=tree\n");
    writeFile(root() + QStringLiteral("/.env"), "TAVRILO_APP_ID=parent\nTAVRILO_REDIRECT_URI=parent\n");
    EXPECT_EQ(HubConfiguration::defaultWorkspaceRoot(root()), root() + QStringLiteral("/tavrilo-code"));
    const auto env = merged();
    EXPECT_EQ(env.value(QStringLiteral("TAVRILO_APP_ID")), QStringLiteral("tree"));
    EXPECT_EQ(env.value(QStringLiteral("TAVRILO_REDIRECT_URI")), QStringLiteral("parent"));
}

TEST_F(EnvFileTest, DefaultRootRules)
{
    const QString hub = root() + QStringLiteral("/native-hub");
    QDir().mkpath(hub);
    EXPECT_EQ(HubConfiguration::defaultWorkspaceRoot(hub), hub);
    writeFile(hub + QStringLiteral("/Package.swift"), "");
    EXPECT_EQ(HubConfiguration::defaultWorkspaceRoot(hub), root());
    EXPECT_EQ(HubConfiguration::defaultWorkspaceRoot(hub + QStringLiteral("/./x/..")), root());
}

TEST_F(EnvFileTest, WorkspaceRootKeyDoesNotMoveTheFilesRead)
{
    QTemporaryDir other;
    writeFile(other.path() + QStringLiteral("/.env"), "TAVRILO_APP_ID=other\n");
    const auto env = merged({{"TAVRILO_WORKSPACE_ROOT", other.path()}});
    EXPECT_FALSE(env.contains(QStringLiteral("TAVRILO_APP_ID")));
}

// Something other than a regular file where a `.env` file should be is skipped without waiting on
// it: an ordinary open of a FIFO waits for a writer that never comes.
struct NotRegularCase
{
    const char *name;
    bool link; // a symbolic link to a FIFO elsewhere, else the FIFO itself
};

class EnvNotRegular : public EnvFileTest, public ::testing::WithParamInterface<NotRegularCase>
{
};

TEST_P(EnvNotRegular, IsSkippedWithoutWaiting)
{
    const QString env = root() + QStringLiteral("/.env");
    const QString fifo = GetParam().link ? root() + QStringLiteral("/pipe") : env;
    ASSERT_TRUE(fifotest::makeFifo(fifo));
    if (GetParam().link) {
        ASSERT_TRUE(QFile::link(fifo, env));
    }
    HubEnvironment result;
    EXPECT_TRUE(fifotest::finishesBesideFifo(fifo, [&] { result = merged({{"TAVRILO_APP_ID", "hub"}}); }));
    EXPECT_EQ(result.value(QStringLiteral("TAVRILO_APP_ID")), QStringLiteral("hub"));
}

INSTANTIATE_TEST_SUITE_P(Table, EnvNotRegular,
                         ::testing::Values(NotRegularCase{"Fifo", false}, NotRegularCase{"LinkToFifo", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(EnvFileTest, HostileFilesNeverCrash)
{
    const QByteArray files[] = {QByteArray(200000, '='), QByteArray(131072, '\n'), QByteArray(1000, '\0'),
                                QByteArray("\xed\xa0\x80=\xf4\x90\x80\x80"), QByteArray(150000, 'A') + "=x"};
    for (const auto &bytes : files) {
        writeFile(root() + QStringLiteral("/.env"), bytes);
        EXPECT_FALSE(merged().contains(QStringLiteral("TAVRILO_APP_ID")));
    }
}

// Project session id -------------------------------------------------------------------------

QString expectedSession(const QByteArray &tenant, const QByteArray &path)
{
    const QByteArray digest =
        QCryptographicHash::hash(tenant + QByteArray(1, '\0') + path, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("prj-") + QString::fromLatin1(digest.left(40));
}

TEST(CanonicalProject, ResolvesLinksAndHashesTenantNulPath)
{
    QTemporaryDir dir;
    const QString real = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/real");
    QDir().mkpath(real);
    const QString link = dir.path() + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(real, link));

    HubConfiguration c(withApp({}));
    c.tenantID = QStringLiteral("tenant-1");
    c.root = link;
    const auto viaLink = c.canonicalProject();
    c.root = real + QStringLiteral("/../real/.");
    const auto direct = c.canonicalProject();

    EXPECT_EQ(viaLink.root, real);
    EXPECT_EQ(viaLink.sessionID, direct.sessionID);
    EXPECT_EQ(viaLink.sessionID, expectedSession("tenant-1", real.toUtf8()));
    EXPECT_EQ(viaLink.sessionID.size(), 44);

    c.tenantID.clear();
    EXPECT_EQ(c.canonicalProject().sessionID, expectedSession("", real.toUtf8()));
}

TEST(CanonicalProject, MissingFolderFails)
{
    HubConfiguration c(withApp({}));
    c.root = QStringLiteral("/nonexistent/tavrilo/project");
    try {
        c.canonicalProject();
        FAIL() << "expected a failure";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("The selected project directory does not exist or is inaccessible."));
    }
}
} // namespace
