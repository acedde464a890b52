#include "SessionTestSupport.h"

#include "session/HubStatus.h"

#include <QDir>

#include <gtest/gtest.h>

#include <limits>

using namespace sessiontest;

namespace
{
using sessiontest::PrintTo;

enum class Config { None, Full, NoTenant, NoEndpoint };

std::optional<HubConfiguration> makeConfiguration(Config kind)
{
    if (kind == Config::None)
        return std::nullopt;
    HubConfiguration c = configuration();
    if (kind == Config::NoTenant)
        c.tenantID.clear();
    if (kind == Config::NoEndpoint)
        c.graphQLEndpoint.reset();
    return c;
}

struct ConnectionCase
{
    const char *name;
    bool token;
    bool identityToken;
    Config config;
    bool running;
    bool closing;
    const char *prompt;
    bool controls;
    bool cloud;
    bool canRun;
};

class Connection : public ::testing::TestWithParam<ConnectionCase>
{
};

TEST_P(Connection, GatesFollowSignInWorkspaceAndTurn)
{
    const ConnectionCase &c = GetParam();
    const std::optional<QString> identity = c.identityToken ? std::optional(QStringLiteral("identity")) : std::nullopt;
    const std::optional<HubConfiguration> configuration = makeConfiguration(c.config);
    EXPECT_EQ(hubstatus::controlsConnected(identity, configuration), c.controls);
    EXPECT_EQ(hubstatus::cloudConnected(identity, configuration), c.cloud);
    EXPECT_EQ(hubstatus::canRun({c.token ? std::optional(QStringLiteral("access")) : std::nullopt, identity,
                                 configuration, c.running, c.closing, QString::fromUtf8(c.prompt)}),
              c.canRun);
}

INSTANTIATE_TEST_SUITE_P(
    HubStatus, Connection,
    ::testing::Values(
        ConnectionCase{"ready", true, true, Config::Full, false, false, "fix it", true, true, true},
        ConnectionCase{"visible_character_between_blanks", true, true, Config::Full, false, false, " \n x \t", true,
                       true, true},
        ConnectionCase{"blank_prompt", true, true, Config::Full, false, false, " \n\t \u2028", true, true, false},
        ConnectionCase{"empty_prompt", true, true, Config::Full, false, false, "", true, true, false},
        ConnectionCase{"turn_running", true, true, Config::Full, true, false, "fix it", true, true, false},
        ConnectionCase{"session_closing", true, true, Config::Full, false, true, "fix it", true, true, false},
        ConnectionCase{"no_access_token", false, true, Config::Full, false, false, "fix it", true, true, false},
        ConnectionCase{"no_identity_token", true, false, Config::Full, false, false, "fix it", false, false, false},
        ConnectionCase{"no_workspace", true, true, Config::NoTenant, false, false, "fix it", true, false, false},
        ConnectionCase{"no_endpoint", true, true, Config::NoEndpoint, false, false, "fix it", false, false, false},
        ConnectionCase{"no_configuration", true, true, Config::None, false, false, "fix it", false, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

NativeUsage usage(qint64 tokens, bool observed, bool unconfirmed = false)
{
    NativeUsage entry;
    entry.tokens = tokens;
    entry.tokensObserved = observed;
    entry.unconfirmedTokens = unconfirmed;
    return entry;
}

NativeUsage priced(NativeUsage entry)
{
    entry.estimatedAmount = 0.25;
    entry.currency = QStringLiteral("USD");
    return entry;
}

struct UsageCase
{
    const char *name;
    UsageByAgent usage;
    const char *agent;
    QString want; // without the cost label, which is the entry's own
    bool withCost;
};

class UsageLabel : public ::testing::TestWithParam<UsageCase>
{
};

TEST_P(UsageLabel, NamesTokensAndCost)
{
    const UsageCase &c = GetParam();
    const QString agent = QString::fromUtf8(c.agent);
    QString want = c.want;
    if (c.withCost)
        want += c.usage.value(QStringLiteral("tavrilo_") + agent.toLower()).label();
    EXPECT_EQ(hubstatus::usageLabel(c.usage, agent, QLocale(QStringLiteral("en_US"))), want);
}

INSTANTIATE_TEST_SUITE_P(
    HubStatus, UsageLabel,
    ::testing::Values(UsageCase{"no_entry", {}, "builder", QStringLiteral("— tokens · Cost unknown"), false},
                      UsageCase{"other_agent_only",
                                {{QStringLiteral("tavrilo_reviewer"), usage(3, true)}},
                                "builder",
                                QStringLiteral("— tokens · Cost unknown"),
                                false},
                      UsageCase{"observed_grouped",
                                {{QStringLiteral("tavrilo_builder"), priced(usage(1234567, true))}},
                                "builder",
                                QStringLiteral("Tavrilo · Live 1,234,567 tokens · "),
                                true},
                      UsageCase{"any_letter_case",
                                {{QStringLiteral("tavrilo_builder"), usage(12, true)}},
                                "BuiLDer",
                                QStringLiteral("Tavrilo · Live 12 tokens · Cost unknown"),
                                false},
                      UsageCase{"unconfirmed",
                                {{QStringLiteral("tavrilo_builder"), usage(40, true, true)}},
                                "builder",
                                QStringLiteral("Tavrilo · Live At least 40 tokens · Cost unknown"),
                                false},
                      UsageCase{"never_observed",
                                {{QStringLiteral("tavrilo_builder"), priced(usage(0, false))}},
                                "builder",
                                QStringLiteral("Tavrilo · Live Usage pending · "),
                                true}),
    [](const auto &info) { return std::string(info.param.name); });

struct SessionTokensCase
{
    const char *name;
    UsageByAgent usage;
    QString want;
};

class SessionTokens : public ::testing::TestWithParam<SessionTokensCase>
{
};

TEST_P(SessionTokens, SumsObservedTokensExactly)
{
    EXPECT_EQ(hubstatus::sessionTokenLabel(GetParam().usage), GetParam().want);
}

constexpr qint64 kMax = std::numeric_limits<qint64>::max();

INSTANTIATE_TEST_SUITE_P(
    HubStatus, SessionTokens,
    ::testing::Values(
        SessionTokensCase{"nothing", {}, QStringLiteral("Live usage pending")},
        SessionTokensCase{
            "nothing_observed", {{QStringLiteral("a"), priced(usage(0, false))}}, QStringLiteral("Live usage pending")},
        SessionTokensCase{"two_observed",
                          {{QStringLiteral("a"), usage(1000, true)}, {QStringLiteral("b"), usage(234, true)}},
                          QStringLiteral("Live observed · 1234 tokens")},
        SessionTokensCase{"one_not_observed",
                          {{QStringLiteral("a"), usage(1000, true)},
                           {QStringLiteral("b"), usage(234, true)},
                           {QStringLiteral("c"), priced(usage(0, false))}},
                          QStringLiteral("Live observed · At least 1234 tokens")},
        SessionTokensCase{"one_unconfirmed",
                          {{QStringLiteral("a"), usage(7, true, true)}},
                          QStringLiteral("Live observed · At least 7 tokens")},
        SessionTokensCase{"past_64_bits",
                          {{QStringLiteral("a"), usage(kMax, true)}, {QStringLiteral("b"), usage(kMax, true)}},
                          QStringLiteral("Live observed · 18446744073709551614 tokens")}),
    [](const auto &info) { return std::string(info.param.name); });

ToolTarget target(const char *id)
{
    return {QString::fromUtf8(id), QStringLiteral("project_write"), QStringLiteral("tavrilo_builder"), 2};
}
} // namespace

TEST(HubStatus, SkipTargetIsTheSelectedElseTheOnlyRunningCall)
{
    const ToolTargets one{{QStringLiteral("a"), target("a")}};
    const ToolTargets two{{QStringLiteral("a"), target("a")}, {QStringLiteral("b"), target("b")}};
    EXPECT_EQ(hubstatus::skipTarget(one, QString())->id, QStringLiteral("a"));
    EXPECT_EQ(hubstatus::skipTarget(one, QStringLiteral("gone"))->id, QStringLiteral("a"));
    EXPECT_EQ(hubstatus::skipTarget(two, QStringLiteral("b"))->id, QStringLiteral("b"));
    EXPECT_FALSE(hubstatus::skipTarget(two, QString()));
    EXPECT_FALSE(hubstatus::skipTarget(two, QStringLiteral("gone")));
    EXPECT_FALSE(hubstatus::skipTarget({}, QString()));
}

TEST(HubStatus, ActiveSpecialistsInSeatOrderWithoutTheFirstSeat)
{
    const QStringList roles{QStringLiteral("lead"), QStringLiteral("architect"), QStringLiteral("builder"),
                            QStringLiteral("tester")};
    const QSet<QString> working{QStringLiteral("tester"), QStringLiteral("lead"), QStringLiteral("architect")};
    EXPECT_EQ(hubstatus::activeSpecialists(true, working, roles),
              (QStringList{QStringLiteral("architect"), QStringLiteral("tester")}));
    EXPECT_TRUE(hubstatus::activeSpecialists(false, working, roles).isEmpty());
    EXPECT_TRUE(hubstatus::activeSpecialists(true, {QStringLiteral("lead")}, roles).isEmpty());
}

TEST(HubStatus, DisplayProfileIsTheProjectFolderName)
{
    EXPECT_EQ(hubstatus::displayProfile(configuration(QStringLiteral("/srv/projects/atlas"))), QStringLiteral("atlas"));
    EXPECT_EQ(hubstatus::displayProfile(configuration(QStringLiteral("/"))), QStringLiteral("/"));
    EXPECT_EQ(hubstatus::displayProfile(std::nullopt), QDir(HubConfiguration::defaultWorkspaceRoot()).dirName());
}

TEST(HubStatus, TransportDiagnosticListsTheFiveCounters)
{
    EXPECT_EQ(hubstatus::transportDiagnostic({12, 9, 7, 2, 1}),
              QStringLiteral("messages=12, deliveries=9, accepted=7, mismatched=2, reconnects=1"));
}

// The model's own work keeps the quit guard waiting; a fresh model owns none.
TEST(HubStatus, OwnedCleanupFollowsTheModelsWork)
{
    const auto model = makeModel();
    EXPECT_FALSE(model->hasOwnedCleanup());
    const std::vector<std::pair<const char *, std::function<void(HubModel &, bool)>>> owners = {
        {"session",
         [](HubModel &m, bool on) { m.setActiveSessionID(on ? std::optional(QStringLiteral("S")) : std::nullopt); }},
        {"opening", [](HubModel &m, bool on) { m.setProjectOpening(on); }},
        {"changes task",
         [](HubModel &m, bool on) {
             m.setChangesReadTask(on ? Job::start([](CancelToken) -> QCoro::Task<void> { co_return; }) : Job());
         }},
        {"loading", [](HubModel &m, bool on) { m.setChangesLoading(on); }},
        {"ledger task",
         [](HubModel &m, bool on) {
             m.setLedgerTask(on ? Job::start([](CancelToken) -> QCoro::Task<void> { co_return; }) : Job());
         }},
        {"closing", [](HubModel &m, bool on) { m.setClosingSession(on); }},
    };
    for (const auto &[name, own] : owners) {
        SCOPED_TRACE(name);
        own(*model, true);
        EXPECT_TRUE(model->hasOwnedCleanup());
        own(*model, false);
        EXPECT_FALSE(model->hasOwnedCleanup());
    }
}
