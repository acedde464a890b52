#pragma once

#include "core/Json.h"
#include "session/ProjectAnswer.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

// The rules by which a "project_call" frame is taken, named, limited and judged, free of the model:
// admission, the call key and request digest, pruning, the history and answer-budget limits, and
// the platform's verdict on an answer.
namespace projectcalls
{
// Remembered calls of one session: a call that finds this many tombstones is refused.
inline constexpr qsizetype kHistoryLimit = 32768;
// Held back for every admitted call that has no cached answer yet.
inline constexpr qint64 kReservation = 131072;
// Reservations and cached answers together, inclusive.
inline constexpr qint64 kAnswerBudget = 8388608;
inline constexpr qsizetype kLongestID = 256;
inline constexpr qsizetype kLongestTool = 128;

const QString &historySentence();
const QString &budgetSentence();
const QString &changedReplaySentence();
const QString &unconfirmedSentence();

// What admission compares a call with: the model's state when the frame is handled.
struct Context
{
    QString sessionID;
    QString tenantID; // of the configuration captured when the frame arrived
    QString handsID;
    bool hasHands = false;
    double now = 0;
};

// An admitted call, as the frame and the event payload carry it.
struct Call
{
    QString sessionID;
    QString tenantID;
    QString turnID;
    QString toolUseID;
    QString tool;
    QString handsID;
    double deadline = 0;
    Json agent;        // the frame's "agent" as it came, null without one
    QString agentText; // that agent when it is text, else empty
};

// The call of `frame` with its event `payload` when it belongs to this session, workspace and
// executor, its identifiers are within their lengths and its deadline lies ahead; none otherwise.
std::optional<Call> admit(const Json &frame, const Json &payload, const Context &context);

// 64 lower-case hexadecimal digits naming one tool call of one turn of one session.
QString callKey(const Call &call);
// 32 bytes fingerprinting what was asked: the agent and the whole payload, keys sorted.
QByteArray requestDigest(const Json &agent, const Json &payload);

// Keeps only the unconfirmed, unexpired answers and the tombstones of `sessionID`.
void prune(QHash<QString, ProjectAnswer> &answers, QHash<QString, ProjectCallTombstone> &tombstones,
           const QString &sessionID, double now);

// Throws the history sentence when the session remembers kHistoryLimit calls, else the budget
// sentence when the reservations of the calls in flight without an answer and the cached answers'
// bytes together exceed kAnswerBudget. `inFlight` includes the call being tested.
void checkLimits(const QHash<QString, ProjectAnswer> &answers, const QHash<QString, ProjectCallTombstone> &tombstones,
                 const QSet<QString> &inFlight);

// The answer mutation and its variables.
const QString &answerDocument();
Json answerVariables(const Call &call, const ProjectAnswer &answer);

// What the platform's reply to an answer means to the hub.
enum class Verdict {
    recorded, // taken, now or before
    retry,    // a passing failure
    refused,  // final: the answer stays unconfirmed
};
Verdict judge(const Json &data);
} // namespace projectcalls
