#pragma once

#include "core/Json.h"
#include "core/WorkspaceEvent.h"
#include "live/StreamedObjectScan.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class PayloadInput;
class ReadPayload;
struct ReadValue;

// The state of the current turn as the window shows it, folded from merged workspace events: the
// turn followed, its end and error code, the specialists' positions, answers and reasoning, running
// tool calls, approvals and input requests waiting for the user, and the release-check verdicts.
// A plain value: rebuilt from a list of events, advanced one event at a time, no side effects.
class EventProjection
{
public:
    struct Position
    {
        QString id;
        QString owner;
        QString position;
        QString confidence; // display texts, never numbers or lists
        QString dependsOn;
        QString conflictsWith;
    };

    // One approval gate (a brief or a deployment) keyed by its tool-use id.
    struct Approval
    {
        QString id;
        QString toolUseID;
        QString tool; // "approve_brief" or "approve_deploy"
        std::optional<QString> sessionID;
        QString summary;
        bool ready = false;
        QStringList detail;
        QStringList acceptanceCriteria;
        std::optional<QString> turnID;
        std::optional<QString> revision; // 64 lower-case hexadecimal digits when proven
        std::optional<QString> round;    // a decimal integer as text
        std::optional<QString> decision; // "approved" or "declined" once recorded
        std::optional<QString> recordedAt;

        // A brief approval that carries a complete, verifiable proposal and may be answered.
        bool hasBriefProof() const;
    };

    // One runtime input request: a form to fill in or a page to visit.
    struct Elicitation
    {
        QString id;
        QString requestID;
        QString mode; // "form" or "url"
        QString message;
        QStringList fields;                      // the schema's property names, ascending
        Json schema = Json::object();            // kept whole to validate the answer
        std::optional<Json> requestState;        // opaque, handed back with the answer
        std::optional<QString> requestStateJSON; // the state as the text it arrived in
        std::optional<QString> url;
    };

    struct ToolCall
    {
        QString id; // tool-use id
        QString tool;
        QByteArray input;               // the input streamed so far, UTF-8, at most kMaxToolInputBytes
        std::optional<QString> session; // runtime session id
    };

    static constexpr qsizetype kMaxRecentTurns = 1024;
    static constexpr qsizetype kMaxReasoningBlocks = 128;
    static constexpr qsizetype kMaxReasoningBytes = 131072;
    static constexpr qsizetype kMaxResponseCharacters = 4096; // grapheme clusters
    static constexpr qsizetype kMaxToolInputBytes = 131072;

    explicit EventProjection(const QList<WorkspaceEvent> &events = {});

    // Folds one event in; never fails. Reads the event's id, kind and payload only.
    void consume(const WorkspaceEvent &event);

    // Display excerpt of `agent`'s streamed answer, at most `limit` user-perceived characters plus
    // an ellipsis: code fences and JSON-looking lines left out.
    QString responseExcerpt(const QString &agent, qsizetype limit) const;

    // Gates (approvals and input requests).
    void resolveApproval(const QString &toolUseID);
    void resolveElicitation(const QString &requestID);
    void clearPending();
    // One approval record of the pending-inputs query; nothing when it is no valid approval.
    static std::optional<Approval> durableApproval(const Json &record, const QString &sessionID);
    static std::optional<Elicitation> elicitation(const QString &requestID, const Json &params,
                                                  std::optional<Json> state, std::optional<QString> stateJSON);
    // One input-request record of the pending-inputs query, whose params and state may arrive as
    // JSON text; nothing when it is no request this client supports.
    static std::optional<Elicitation> pendingElicitation(const Json &record);

    // Release checks.
    static const QStringList &releaseLabels();
    // The keys of the release-check grid, in order.
    QStringList releaseCheckLabels() const;
    // The sentence shown under a turn error, or nothing without one.
    std::optional<QString> errorGuidance() const;

    QList<Position> positions;
    QStringList reasoning;             // oldest first
    QHash<QString, QString> responses; // per agent, the last kMaxResponseCharacters characters
    QStringList responseOrder;         // the agent that wrote last at the end
    bool turnCompleted = false;
    std::optional<QString> currentTurnID;
    QStringList recentTurnIDs; // oldest first
    std::optional<QString> latestErrorCode;
    std::optional<bool> releaseAuthorized;
    QStringList requiredRoles;
    QStringList observedRoles;
    QSet<QString> responseBoundaryOwners;
    QList<Approval> approvals;
    QList<Elicitation> elicitations;
    QMap<QString, bool> evaluators;
    QMap<QString, QString> evaluatorLabels;
    QMap<QString, QString> evaluatorDetails;
    std::optional<QString> reviewerGrade;
    QHash<QString, ToolCall> toolCalls; // key: agent ":" index

private:
    bool passesTurnFilter(const WorkspaceEvent &event, const ReadPayload &payload);
    void beginTurn(const QString &turnID);
    void appendReasoning(const QString &text);
    void appendReasoning(const Json &object);
    void appendResponse(const QString &agent, const QString &text);
    void takePositions(const QString &eventID, const QString &agent, const PayloadInput &input,
                       const ReadPayload &payload);
    void takeToolInput(const QString &key, const QString &delta);
    void takeInputRequest(const ReadPayload &payload);
    void upsertApproval(Approval approval);
    void takeRelease(const ReadPayload &payload, const PayloadInput &input);
    void recordEvaluator(const Json &result);
    static Approval liveApproval(const ToolCall &call, const ReadValue &summary);
    static QString describe(const ReadValue &value);

    // Bookkeeping of this value's own writes, so that appending stays proportional to what is
    // appended: clusters per stored answer (trusted while the answer keeps the length it was counted
    // at) and the UTF-8 size of each reasoning block (trusted while it has one entry per block).
    struct Counted
    {
        qsizetype length = 0;
        qsizetype clusters = 0;
    };
    QHash<QString, Counted> m_responseClusters;
    QList<qsizetype> m_reasoningBytes;
    qsizetype m_reasoningTotal = 0;
    // Per running tool call: how far its streamed input is from being one whole JSON object, and
    // what reading it gave once it was.
    struct ToolInputProgress
    {
        StreamedObjectScan scan;
        bool cut = false; // a piece did not fit under the cap: the stored input ends there
        bool isObject = false;
        std::optional<Json> summary; // the first present of brief, summary, reason
    };
    QHash<QString, ToolInputProgress> m_toolInputs;
};
