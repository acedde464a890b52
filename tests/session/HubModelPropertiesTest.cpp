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

// One stored value as C++ reads and writes it: most of them are not writable from QML, so the
// announcement rule is checked through the model's own accessors.
struct Stored
{
    std::string name;
    std::function<QVariant(HubModel &)> read;
    std::function<void(HubModel &, const QVariant &)> write; // empty for a counter
    void (HubModel::*signal)();
    QMetaType type;
};

#define HUB_STORED(getter, setter, T)                                                                                   \
    Stored                                                                                                              \
    {                                                                                                                   \
#getter,                                                                                                        \
            [](HubModel &                                                                                               \
               m) { return QVariant::fromValue(T(m.getter())); },                                                       \
                                                               [](HubModel & m,                                         \
                                                                  const QVariant &                                      \
                                                                      v) { m.setter(v.value<T>()); },                   \
                                                                                                   &HubModel::          \
                                                                                                       getter##Changed, \
                                                                                                   QMetaType::          \
                                                                                                           fromType <   \
                                                                                                       T>()             \
    }
#define HUB_COUNTER(getter)                                                                                            \
    Stored                                                                                                             \
    {                                                                                                                  \
#getter, [](HubModel & m) { return QVariant::fromValue(qint64(m.getter())); }, nullptr,                        \
                                                                                    &HubModel::getter##Changed,        \
                                                                                    QMetaType::fromType < qint64>()    \
    }

const std::vector<Stored> &storedValues()
{
    static const std::vector<Stored> values = {
        HUB_STORED(layout, setLayout, std::optional<HubLayout>),
        HUB_STORED(configuration, setConfiguration, std::optional<HubConfiguration>),
        HUB_STORED(log, setLog, std::shared_ptr<WorkspaceLog>),
        HUB_STORED(workspaces, setWorkspaces, QList<NativeLive::Workspace>),
        HUB_STORED(tenantName, setTenantName, QString),
        HUB_STORED(role, setRole, QString),
        HUB_STORED(planName, setPlanName, QString),
        HUB_STORED(userID, setUserID, QString),
        HUB_STORED(token, setToken, std::optional<QString>),
        HUB_STORED(identityToken, setIdentityToken, std::optional<QString>),
        HUB_STORED(recentProjects, setRecentProjects, QList<NativeRecentProject>),
        HUB_STORED(projectSelectionNotice, setProjectSelectionNotice, QString),
        HUB_STORED(projectOpening, setProjectOpening, bool),
        HUB_STORED(events, setEvents, QList<WorkspaceEvent>),
        HUB_STORED(eventProjection, setEventProjection, EventProjection),
        HUB_COUNTER(pendingInputGeneration),
        HUB_STORED(teamRevision, setTeamRevision, std::optional<QString>),
        HUB_STORED(usageByAgent, setUsageByAgent, UsageByAgent),
        HUB_STORED(presence, setPresence, NativePresence),
        HUB_STORED(persistedWorkspaceUsage, setPersistedWorkspaceUsage, std::optional<NativeLedgerUsage>),
        HUB_STORED(persistedSessionUsage, setPersistedSessionUsage, std::optional<NativeLedgerUsage>),
        HUB_STORED(persistedSessionUsagePending, setPersistedSessionUsagePending, bool),
        HUB_COUNTER(ledgerGeneration),
        HUB_STORED(nextLedgerRefresh, setNextLedgerRefresh, QDateTime),
        HUB_STORED(ledgerTask, setLedgerTask, Job),
        HUB_STORED(headlessFrameCount, setHeadlessFrameCount, qint64),
        HUB_STORED(headlessTurnProgress, setHeadlessTurnProgress, HeadlessTurnProgress),
        HUB_STORED(renderedActivity, setRenderedActivity, QImage),
        HUB_STORED(capturedPDF, setCapturedPDF, QImage),
        HUB_STORED(capturedBrowser, setCapturedBrowser, QImage),
        HUB_STORED(message, setMessage, QString),
        HUB_STORED(prompt, setPrompt, QString),
        HUB_STORED(activeTools, setActiveTools, ToolTargets),
        HUB_STORED(selectedSkipID, setSelectedSkipID, QString),
        HUB_STORED(controlInFlight, setControlInFlight, bool),
        HUB_STORED(answeredApprovalIDs, setAnsweredApprovalIDs, QSet<QString>),
        HUB_STORED(browserHolder, setBrowserHolder, QString),
        HUB_STORED(browserSessionPresent, setBrowserSessionPresent, bool),
        HUB_STORED(operatorPaused, setOperatorPaused, bool),
        HUB_STORED(closingSession, setClosingSession, bool),
        HUB_STORED(activeSessionID, setActiveSessionID, std::optional<QString>),
        HUB_STORED(cleanupFailure, setCleanupFailure, std::optional<QString>),
        HUB_STORED(sessionID, setSessionID, QString),
        HUB_STORED(running, setRunning, bool),
        HUB_STORED(selectedProfile, setSelectedProfile, bool),
        HUB_STORED(selectedDocumentTab, setSelectedDocumentTab, QString),
        HUB_STORED(expandedInspector, setExpandedInspector, QString),
        HUB_STORED(document, setDocument, QString),
        HUB_STORED(documentURL, setDocumentURL, QUrl),
        HUB_STORED(changesLoading, setChangesLoading, bool),
        HUB_STORED(changesShuttingDown, setChangesShuttingDown, bool),
        HUB_COUNTER(changesGeneration),
        HUB_STORED(changesReadTask, setChangesReadTask, Job),
        HUB_STORED(changeFiles, setChangeFiles, QList<NativeChangeFile>),
        HUB_STORED(changesTruncated, setChangesTruncated, bool),
        HUB_STORED(selectedChangePath, setSelectedChangePath, std::optional<QString>),
        HUB_STORED(selectedChangeDiff, setSelectedChangeDiff, QString),
        HUB_STORED(selectedChangeAST, setSelectedChangeAST, std::optional<NativeASTResult>),
        HUB_STORED(changesError, setChangesError, QString),
    };
    return values;
}
#undef HUB_STORED
#undef HUB_COUNTER
} // namespace

TEST(HubModelProperties, EveryPropertyAnnouncesOncePerDifferentValue)
{
    for (const Stored &property : storedValues()) {
        const std::string &name = property.name;
        SCOPED_TRACE(name);
        const auto model = makeModel();
        QSignalSpy spy(model.get(), property.signal);

        if (const auto counter = kCounters.find(name); counter != kCounters.end()) {
            ASSERT_FALSE(property.write);
            const qint64 before = property.read(*model).toLongLong();
            counter->second(*model);
            EXPECT_EQ(property.read(*model).toLongLong(), before + 1);
            EXPECT_EQ(spy.count(), 1);
            continue;
        }
        ASSERT_TRUE(property.write) << "neither written, advanced nor derived";

        if (kAlwaysAnnounced.count(name)) {
            const QVariant current = property.read(*model);
            property.write(*model, current);
            property.write(*model, current);
            EXPECT_EQ(spy.count(), 2);
            continue;
        }
        const QList<QVariant> values = samples(property.type);
        ASSERT_GE(values.size(), 2) << "no sample values for " << property.type.name();
        int expected = 0;
        for (const QVariant &value : values) {
            for (int twice = 0; twice < 2; ++twice) {
                if (property.read(*model) != value)
                    ++expected;
                property.write(*model, value);
                EXPECT_EQ(property.read(*model), value);
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
    if (!value.isValid())
        return QStringLiteral("(none)");
    if (value.metaType() == QMetaType::fromType<ToolTarget>())
        return QStringLiteral("tool ") + value.value<ToolTarget>().id;
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
