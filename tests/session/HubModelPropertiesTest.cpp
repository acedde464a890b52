#include "SessionTestSupport.h"

#include <QColor>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>

using namespace sessiontest;

namespace
{
// Properties whose values have no equality: every assignment is announced, an identical copy too.
const std::set<std::string> kAlwaysAnnounced = {
    "layout",
    "configuration",
    "log",
    "workspaces",
    "recentProjects",
    "activeTools",
    "events",
    "eventProjection",
    "usageByAgent",
    "persistedWorkspaceUsage",
    "persistedSessionUsage",
    "headlessTurnProgress",
    "presence",
    "changeFiles",
    "selectedChangeAST",
};

// Generation counters are not written from outside; they only advance.
const std::map<std::string, std::function<void(HubModel &)>> kCounters = {
    {"pendingInputGeneration", [](HubModel &m) { m.advancePendingInputGeneration(); }},
    {"ledgerGeneration", [](HubModel &m) { m.advanceLedgerGeneration(); }},
    {"changesGeneration", [](HubModel &m) { m.advanceChangesGeneration(); }},
};

const std::set<std::string> kDerived = {
    "displayProfile",          "cloudConnected",     "controlsConnected",  "canRun",
    "activeSpecialists",       "sessionTokenLabel",  "skipTarget",         "hasOwnedCleanup",
    "workspaceLedgerLabel",    "sessionLedgerLabel", "persistedCostLabel", "unattributedLedgerLabel",
    "pendingAttributionLabel",
};

Job finishedJob()
{
    return Job::start([](CancelToken) -> QCoro::Task<void> { co_return; });
}

QImage filled(QColor color)
{
    QImage image(2, 2, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// Values of each type with equality, in an order where each differs from the one before it.
QList<QVariant> samples(QMetaType type)
{
    if (type == QMetaType::fromType<QString>())
        return {QStringLiteral("first"), QStringLiteral("second"), QString()};
    if (type == QMetaType::fromType<bool>())
        return {true, false};
    if (type == QMetaType::fromType<qint64>())
        return {qint64(3), qint64(7)};
    if (type == QMetaType::fromType<QDateTime>())
        return {QDateTime::fromSecsSinceEpoch(1777000000, Qt::UTC), QDateTime::fromSecsSinceEpoch(1778000000, Qt::UTC)};
    if (type == QMetaType::fromType<QUrl>())
        return {QUrl(QStringLiteral("file:///srv/a.pdf")), QUrl(QStringLiteral("file:///srv/b.md")), QUrl()};
    if (type == QMetaType::fromType<QImage>())
        return {QVariant::fromValue(filled(Qt::red)), QVariant::fromValue(filled(Qt::blue)),
                QVariant::fromValue(QImage())};
    if (type == QMetaType::fromType<std::optional<QString>>())
        // Absent and empty are different values.
        return {QVariant::fromValue(std::optional<QString>(QStringLiteral("one"))),
                QVariant::fromValue(std::optional<QString>(QString())), QVariant::fromValue(std::optional<QString>())};
    if (type == QMetaType::fromType<QSet<QString>>())
        return {QVariant::fromValue(QSet<QString>{QStringLiteral("a")}),
                QVariant::fromValue(QSet<QString>{QStringLiteral("a"), QStringLiteral("b")})};
    if (type == QMetaType::fromType<Job>())
        return {QVariant::fromValue(finishedJob()), QVariant::fromValue(finishedJob()), QVariant::fromValue(Job())};
    return {};
}

QList<QMetaProperty> ownProperties()
{
    QList<QMetaProperty> properties;
    const QMetaObject &meta = HubModel::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        properties.append(meta.property(i));
    return properties;
}
} // namespace

TEST(HubModelProperties, EveryPropertyAnnouncesOncePerDifferentValue)
{
    for (const QMetaProperty &property : ownProperties()) {
        const std::string name = property.name();
        SCOPED_TRACE(name);
        if (property.isConstant() || kDerived.count(name))
            continue;
        const auto model = makeModel();
        ASSERT_TRUE(property.hasNotifySignal());
        QSignalSpy spy(model.get(), property.notifySignal());

        if (const auto counter = kCounters.find(name); counter != kCounters.end()) {
            ASSERT_FALSE(property.isWritable());
            const qint64 before = property.read(model.get()).toLongLong();
            counter->second(*model);
            EXPECT_EQ(property.read(model.get()).toLongLong(), before + 1);
            EXPECT_EQ(spy.count(), 1);
            continue;
        }
        ASSERT_TRUE(property.isWritable()) << "neither written, advanced nor derived";

        if (kAlwaysAnnounced.count(name)) {
            const QVariant current = property.read(model.get());
            ASSERT_TRUE(property.write(model.get(), current));
            ASSERT_TRUE(property.write(model.get(), current));
            EXPECT_EQ(spy.count(), 2);
            continue;
        }
        const QList<QVariant> values = samples(property.metaType());
        ASSERT_GE(values.size(), 2) << "no sample values for " << property.typeName();
        int expected = 0;
        for (const QVariant &value : values) {
            for (int twice = 0; twice < 2; ++twice) {
                if (property.read(model.get()) != value)
                    ++expected;
                ASSERT_TRUE(property.write(model.get(), value));
                EXPECT_EQ(property.read(model.get()), value);
                EXPECT_EQ(spy.count(), expected);
            }
        }
    }
}

namespace
{
// A derived value as text, for telling whether it changed.
QString describe(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<std::optional<ToolTarget>>()) {
        const auto target = value.value<std::optional<ToolTarget>>();
        return target ? QStringLiteral("tool ") + target->id : QStringLiteral("no tool");
    }
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList().join(u',');
    if (value.metaType() == QMetaType::fromType<std::optional<QString>>())
        return value.value<std::optional<QString>>().value_or(QStringLiteral("(none)"));
    return value.toString();
}

ToolTargets tools(std::initializer_list<const char *> ids)
{
    ToolTargets targets;
    for (const char *id : ids)
        targets.insert(QString::fromUtf8(id), {QString::fromUtf8(id), QStringLiteral("project_read"),
                                               QStringLiteral("tavrilo_builder"), std::nullopt});
    return targets;
}
} // namespace

// Views re-read a derived value only when it announces: whatever step changes one must make it announce.
TEST(HubModelProperties, DerivedValuesAnnounceWhenTheyChange)
{
    const auto model = makeModel();
    HubModel &m = *model;
    const QString role = NativePresence::roles().value(1);
    HubConfiguration noTenant = configuration();
    noTenant.tenantID.clear();
    HubConfiguration noEndpoint = configuration();
    noEndpoint.graphQLEndpoint.reset();
    NativeUsage observed;
    observed.tokens = 5;
    observed.tokensObserved = true;

    const std::vector<std::pair<const char *, std::function<void()>>> steps = {
        {"configure", [&] { m.setConfiguration(configuration(QStringLiteral("/srv/projects/atlas"))); }},
        {"sign in", [&] { m.setToken(QStringLiteral("access")); }},
        {"identity", [&] { m.setIdentityToken(QStringLiteral("identity")); }},
        {"blank prompt", [&] { m.setPrompt(QStringLiteral(" \n\t ")); }},
        {"prompt", [&] { m.setPrompt(QStringLiteral(" fix the build ")); }},
        {"someone works",
         [&] {
             m.setPresence({{role}, 0, false, false});
         }},
        {"turn runs", [&] { m.setRunning(true); }},
        {"nobody works", [&] { m.setPresence({}); }},
        {"turn ends", [&] { m.setRunning(false); }},
        {"closing", [&] { m.setClosingSession(true); }},
        {"closed", [&] { m.setClosingSession(false); }},
        {"other project", [&] { m.setConfiguration(configuration(QStringLiteral("/srv/projects/beacon"))); }},
        {"no workspace", [&] { m.setConfiguration(noTenant); }},
        {"no endpoint", [&] { m.setConfiguration(noEndpoint); }},
        {"usage",
         [&] {
             m.setUsageByAgent({{QStringLiteral("tavrilo_builder"), observed}});
         }},
        {"one tool", [&] { m.setActiveTools(tools({"a"})); }},
        {"two tools",
         [&] {
             m.setActiveTools(tools({"a", "b"}));
         }},
        {"select", [&] { m.setSelectedSkipID(QStringLiteral("b")); }},
        {"session", [&] { m.setActiveSessionID(QStringLiteral("S")); }},
        {"no session", [&] { m.setActiveSessionID(std::nullopt); }},
        {"opening", [&] { m.setProjectOpening(true); }},
        {"opened", [&] { m.setProjectOpening(false); }},
        {"loading", [&] { m.setChangesLoading(true); }},
        {"loaded", [&] { m.setChangesLoading(false); }},
        {"ledger task", [&] { m.setLedgerTask(finishedJob()); }},
        {"ledger done", [&] { m.setLedgerTask(Job()); }},
        {"changes task", [&] { m.setChangesReadTask(finishedJob()); }},
        {"changes done", [&] { m.setChangesReadTask(Job()); }},
        {"workspace ledger", [&] { m.setPersistedWorkspaceUsage(NativeLedgerUsage::decode(ledgerSummary({}))); }},
        {"session ledger",
         [&] {
             m.setPersistedSessionUsage(NativeLedgerUsage::decode(ledgerSummary(QStringLiteral("S"), 10, 4, 2, 3)));
         }},
        {"session ledger ready", [&] { m.setPersistedSessionUsagePending(false); }},
        {"signed out", [&] { m.setIdentityToken(std::nullopt); }},
    };

    std::set<std::string> changedSomewhere;
    for (const auto &[step, change] : steps) {
        SCOPED_TRACE(step);
        std::map<std::string, std::pair<QString, std::unique_ptr<QSignalSpy>>> before;
        for (const QMetaProperty &property : ownProperties())
            if (kDerived.count(property.name()))
                before[property.name()] = {describe(property.read(&m)),
                                           std::make_unique<QSignalSpy>(&m, property.notifySignal())};
        change();
        for (const auto &[name, state] : before) {
            const QString now = describe(
                HubModel::staticMetaObject.property(HubModel::staticMetaObject.indexOfProperty(name.c_str())).read(&m));
            if (now == state.first)
                continue;
            changedSomewhere.insert(name);
            EXPECT_GE(state.second->count(), 1)
                << name << " changed from " << state.first.toStdString() << " to " << now.toStdString() << " silently";
        }
    }
    EXPECT_EQ(changedSomewhere, kDerived) << "the steps do not change every derived value";
}

TEST(HubModelProperties, FreshModel)
{
    const auto first = makeModel();
    const auto second = makeModel();
    EXPECT_EQ(first->message(), QStringLiteral("Configure application identity to begin."));
    EXPECT_EQ(first->selectedDocumentTab(), QStringLiteral("Research"));
    EXPECT_EQ(first->browserHolder(), QStringLiteral("agent"));
    EXPECT_TRUE(first->persistedSessionUsagePending());
    EXPECT_EQ(first->nextLedgerRefresh(), HubModel::distantPast());
    EXPECT_LT(first->nextLedgerRefresh(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    EXPECT_FALSE(first->hasOwnedCleanup());
    EXPECT_FALSE(first->running());
    EXPECT_FALSE(first->configuration());
    EXPECT_TRUE(first->events().isEmpty());
    EXPECT_TRUE(first->presence().working.isEmpty());

    static const QRegularExpression upperUUID(
        QStringLiteral("\\A[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\z"));
    EXPECT_TRUE(upperUUID.match(first->sessionID()).hasMatch()) << first->sessionID().toStdString();
    EXPECT_NE(first->sessionID(), second->sessionID());
}

TEST(HubModelProperties, ClearingChangesEmptiesTheViewAndOutdatesReads)
{
    const auto model = makeModel();
    model->setChangeFiles({{QStringLiteral("src/a.cpp"), QStringLiteral("M")}});
    model->setSelectedChangePath(QStringLiteral("src/a.cpp"));
    model->setSelectedChangeDiff(QStringLiteral("+line"));
    model->setSelectedChangeAST(NativeASTResult{QStringLiteral("ok"), {}, {}, {}, {}});
    model->setChangesError(QStringLiteral("The changes could not be read."));
    model->setChangesTruncated(true);

    model->clearChanges();

    EXPECT_EQ(model->changesGeneration(), 1);
    EXPECT_TRUE(model->changeFiles().isEmpty());
    EXPECT_FALSE(model->selectedChangePath());
    EXPECT_TRUE(model->selectedChangeDiff().isEmpty());
    EXPECT_FALSE(model->selectedChangeAST());
    EXPECT_TRUE(model->changesError().isEmpty());
    EXPECT_FALSE(model->changesTruncated());
}
