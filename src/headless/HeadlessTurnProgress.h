#pragma once

#include <QMap>
#include <QString>

#include <optional>

// Header-only: the session model holds this value, and the session library sits below this one.

// The turn a headless export observes and the terminal code that ended it. Locks onto the first
// non-empty turn id it is fed; frames of other turns never change it, and once terminal it stays.
struct HeadlessTurnProgress
{
    std::optional<QString> turnID;
    std::optional<QString> terminalCode;

    // One realtime frame: its kind (empty when it had none), its turn id and its payload flattened
    // to text.
    void consume(const QString &kind, const std::optional<QString> &frameTurnID, const QMap<QString, QString> &payload);
};

namespace headlessturn
{ // An upper-case letter, then up to 63 upper-case letters, digits or underscores, and nothing else:
// a code that goes into a sentence and a manifest as it stands.
inline bool isErrorCode(const QString &code)
{
    if (code.isEmpty() || code.size() > 64 || code[0] < u'A' || code[0] > u'Z')
        return false;
    for (const QChar c : code) {
        if (!((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_'))
            return false;
    }
    return true;
}
} // namespace headlessturn

inline void HeadlessTurnProgress::consume(const QString &kind, const std::optional<QString> &frameTurnID,
                                          const QMap<QString, QString> &payload)
{
    if (!frameTurnID || frameTurnID->isEmpty())
        return;
    if (!turnID)
        turnID = *frameTurnID;
    else if (*turnID != *frameTurnID)
        return;
    if (terminalCode)
        return;
    if (kind == QLatin1String("done") || kind == QLatin1String("turn_end") || kind == QLatin1String("turn_completed")) {
        terminalCode = QStringLiteral("TURN_COMPLETED");
    } else if (kind == QLatin1String("error")) {
        // A missing "final" counts as final: only an explicit "false" keeps the turn running.
        if (payload.value(QStringLiteral("final"), QStringLiteral("true")) == QLatin1String("false"))
            return;
        const QString code = payload.value(QStringLiteral("code"));
        terminalCode = headlessturn::isErrorCode(code) ? code : QStringLiteral("TURN_FAILED");
    }
}
