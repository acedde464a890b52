#include "session/HubStatus.h"

#include "live/NativeLedgerUsage.h"

#include <QDir>

QString hubstatus::lastPathComponent(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QString last = clean.mid(slash + 1);
    return last.isEmpty() && clean.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : last;
}

QString hubstatus::displayProfile(const std::optional<HubConfiguration> &configuration)
{
    return lastPathComponent(configuration ? configuration->root : HubConfiguration::defaultWorkspaceRoot());
}

bool hubstatus::controlsConnected(const std::optional<QString> &identityToken,
                                  const std::optional<HubConfiguration> &configuration)
{
    return identityToken && configuration && configuration->graphQLEndpoint;
}

bool hubstatus::cloudConnected(const std::optional<QString> &identityToken,
                               const std::optional<HubConfiguration> &configuration)
{
    return controlsConnected(identityToken, configuration) && !configuration->tenantID.isEmpty();
}

bool hubstatus::canRun(const RunReadiness &state)
{
    return state.token && cloudConnected(state.identityToken, state.configuration) && !state.running &&
           !state.closingSession && !state.prompt.trimmed().isEmpty();
}

QStringList hubstatus::activeSpecialists(bool running, const QSet<QString> &working, const QStringList &roles)
{
    QStringList active;
    if (!running)
        return active;
    for (qsizetype seat = 1; seat < roles.size(); ++seat)
        if (working.contains(roles[seat]))
            active.append(roles[seat]);
    return active;
}

QString hubstatus::usageLabel(const UsageByAgent &usage, const QString &agent, const QLocale &locale)
{
    const auto entry = usage.constFind(QStringLiteral("tavrilo_") + agent.toLower());
    if (entry == usage.constEnd())
        return QStringLiteral("— tokens · Cost unknown");
    QString tokens = QStringLiteral("Usage pending");
    if (entry->tokensObserved)
        tokens = (entry->unconfirmedTokens ? QStringLiteral("At least ") : QString()) + locale.toString(entry->tokens) +
                 QStringLiteral(" tokens");
    return QStringLiteral("Tavrilo · Live ") + tokens + QStringLiteral(" · ") + entry->label();
}

QString hubstatus::sessionTokenLabel(const UsageByAgent &usage)
{
    QStringList observed;
    bool lowerBound = false;
    for (const NativeUsage &entry : usage) {
        if (entry.tokensObserved)
            observed.append(QString::number(entry.tokens));
        lowerBound = lowerBound || !entry.tokensObserved || entry.unconfirmedTokens;
    }
    if (observed.isEmpty())
        return QStringLiteral("Live usage pending");
    // Counts are never negative, so every one is a decimal total and the exact sum exists.
    const QString sum = NativeLedgerUsage::sumDecimalTotals(observed).value_or(QStringLiteral("0"));
    return QStringLiteral("Live observed · ") + (lowerBound ? QStringLiteral("At least ") : QString()) + sum +
           QStringLiteral(" tokens");
}

QString hubstatus::transportDiagnostic(const RealtimeCounters &counters)
{
    return QStringLiteral("messages=%1, deliveries=%2, accepted=%3, mismatched=%4, reconnects=%5")
        .arg(counters.observedMessages)
        .arg(counters.observedDeliveries)
        .arg(counters.acceptedFrames)
        .arg(counters.rejectedIdentities)
        .arg(counters.reconnects);
}

std::optional<ToolTarget> hubstatus::skipTarget(const ToolTargets &activeTools, const QString &selectedSkipID)
{
    if (const auto selected = activeTools.constFind(selectedSkipID); selected != activeTools.constEnd())
        return *selected;
    if (activeTools.size() == 1)
        return activeTools.first();
    return std::nullopt;
}

bool hubstatus::hasOwnedCleanup(const OwnedWork &work)
{
    return work.activeSession || work.projectOpenTask || work.projectOpening || work.changesReadTask ||
           work.changesLoading || work.ledgerTask || work.cleanupTask || work.closingSession;
}
