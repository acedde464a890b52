#include "session/JournalInterrupt.h"

#include <QRegularExpression>

namespace journalinterrupt
{
std::optional<QDateTime> parseTimestamp(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("\\A(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,9}))?"
                       "(?:(Z)|([+-])(\\d{2}):(\\d{2}))\\z"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    // Milliseconds are the clock's resolution; further digits are cut, never rounded up.
    const QString fraction = match.captured(7);
    const int milliseconds = fraction.isEmpty() ? 0 : fraction.left(3).leftJustified(3, u'0').toInt();
    const QTime time(number(4), number(5), number(6), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.capturedView(8).isEmpty()) {
        const int hours = number(10);
        const int minutes = number(11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (match.capturedView(9) == u"-" ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

bool mirrors(const WorkspaceEvent &event, const QDateTime &connectedAt, const QString &sessionID)
{
    if (event.kind != QLatin1StringView("command.interrupt"))
        return false;
    const std::optional<QDateTime> stamped = parseTimestamp(event.timestamp);
    // Stops left in the journal before this window was ready belong to turns it never ran.
    if (!stamped || *stamped < connectedAt)
        return false;
    if (event.payload.isEmpty())
        return true;
    const auto client = event.payload.constFind(QStringLiteral("client"));
    const auto session = event.payload.constFind(QStringLiteral("session_id"));
    // This platform's own clients record the stops they send themselves.
    const bool ownClient = client != event.payload.constEnd() && *client == QLatin1StringView("macos");
    const bool otherSession = session != event.payload.constEnd() && *session != sessionID;
    return !ownClient && !otherSession;
}
} // namespace journalinterrupt
