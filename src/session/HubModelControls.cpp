// Run controls and approvals: one control at a time, sent only with credentials and never during
// session close; the model's view of the run changes only once the platform accepted.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/PropertyNotify.h"
#include "core/ScopedFlag.h"
#include "session/RunControlOutcome.h"

namespace
{
const QString kStaleApproval =
    QStringLiteral("The visible approval is incomplete, stale, or already answered. Refresh the current runtime gate.");

// Open: ready for a decision and not decided yet.
bool isOpen(const EventProjection::Approval &approval)
{
    return approval.ready && !approval.decision;
}

// A deployment can always be answered; a brief only with its complete proof.
bool isAnswerable(const EventProjection::Approval &approval)
{
    return approval.tool == QLatin1StringView("approve_deploy") || approval.hasBriefProof();
}

const EventProjection::Approval *firstWithToolUse(const QList<EventProjection::Approval> &approvals,
                                                  const QString &toolUseID)
{
    const auto it = std::find_if(approvals.begin(), approvals.end(),
                                 [&](const EventProjection::Approval &a) { return a.toolUseID == toolUseID; });
    return it == approvals.end() ? nullptr : &*it;
}

std::optional<QString> inputText(const Json &input, std::string_view key)
{
    return json::string(input, key);
}
} // namespace

QCoro::Task<void> HubModel::interrupt()
{
    ++m_generation;
    setRunning(false);
    QPointer self(this);
    // The record goes to every reader of the journal; a failed record is reported, but the session
    // is closed all the same: the platform must not keep running, and billing, a turn the window
    // shows as stopped.
    std::optional<QString> journalFailure;
    if (const std::shared_ptr<WorkspaceLog> log = m_log) {
        EventPayload record{{QStringLiteral("session_id"), m_sessionID},
                            {QStringLiteral("reason"), QStringLiteral("operator")},
                            {QStringLiteral("client"), QStringLiteral("macos")}};
        try {
            co_await log->append(QStringLiteral("command.interrupt"), std::move(record));
        } catch (const std::exception &error) {
            journalFailure = errorDescription(error);
        }
        if (!self)
            co_return;
    }
    if (!co_await reportingFailure(invoke(QStringLiteral("interrupt"))))
        co_return;
    if (journalFailure)
        setMessage(*journalFailure);
}

QCoro::Task<void> HubModel::skipActiveStep()
{
    const std::optional<ToolTarget> target = skipTarget();
    if (!target || !m_activeTools.contains(target->id)) {
        setMessage(QStringLiteral("Choose an active tool call to skip."));
        co_return;
    }
    co_await sendControl(NativeControls::Command::skip(m_sessionID, target->id, target->tool));
}

QCoro::Task<void> HubModel::sendControl(NativeControls::Command command)
{
    QPointer self(this);
    if (command.kind() == NativeControls::Command::Kind::stop) {
        if (command.session() != m_sessionID) {
            setMessage(QStringLiteral("Stop does not match the active session."));
            co_return;
        }
        // A failed close has written its failure already.
        try {
            co_await closeSession();
        } catch (const std::exception &) {
        }
        co_return;
    }
    if (m_controlInFlight || m_closingSession || !m_configuration || !m_identityToken) {
        setMessage(QStringLiteral("Sign in before sending run controls, or wait for cleanup."));
        co_return;
    }
    const HubConfiguration configuration = *m_configuration;
    const QString keptToken = *m_identityToken;
    const ScopedFlag inFlight(this, [this](bool on) { setControlInFlight(on); });
    if (!co_await reportingFailure(refreshIdentityIfNeeded()))
        co_return;
    NativeControls::Answer answer;
    try {
        answer = co_await NativeControls::execute(command, configuration, m_identityToken.value_or(keptToken));
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
        co_return;
    }
    if (!self)
        co_return;

    const runcontroloutcome::Outcome outcome = runcontroloutcome::accepted(command, answer);
    if (outcome.browserHolder)
        setBrowserHolder(*outcome.browserHolder);
    if (outcome.operatorPaused)
        setOperatorPaused(*outcome.operatorPaused);
    if (command.kind() != NativeControls::Command::Kind::approval) {
        setMessage(outcome.sentence);
        co_return;
    }
    const Json input = command.request().variables.value("input", Json::object());
    const QString toolUseID = inputText(input, "toolUseId").value_or(QString());
    const EventProjection::Approval *shown = firstWithToolUse(m_eventProjection.approvals, toolUseID);
    // Resolved only while the projection still shows the gate that was answered.
    if (shown && shown->turnID == inputText(input, "expectedTurnId") &&
        shown->revision == inputText(input, "expectedRevision")) {
        changeAndAnnounce(
            m_answeredApprovalIDs, [&](QSet<QString> &ids) { ids.insert(toolUseID); }, this,
            &HubModel::answeredApprovalIDsChanged);
        changeAndAnnounce(
            m_eventProjection, [&](EventProjection &projection) { projection.resolveApproval(toolUseID); }, this,
            &HubModel::eventProjectionChanged);
    }
    advancePendingInputGeneration();
    if (co_await reportingFailure(refreshPendingInputs()))
        setMessage(outcome.sentence);
}

QCoro::Task<void> HubModel::answerApproval(EventProjection::Approval approval, QString decision)
{
    const auto sameGate = [&](const EventProjection::Approval &shown) {
        return isOpen(shown) && isAnswerable(shown) && shown.turnID == approval.turnID &&
               shown.revision == approval.revision && shown.acceptanceCriteria == approval.acceptanceCriteria;
    };
    const EventProjection::Approval *shown = firstWithToolUse(m_eventProjection.approvals, approval.toolUseID);
    const bool valid = (decision == QLatin1StringView("approved") || decision == QLatin1StringView("declined")) &&
                       isOpen(approval) && isAnswerable(approval) && approval.sessionID == m_sessionID &&
                       !m_answeredApprovalIDs.contains(approval.toolUseID) && shown && sameGate(*shown);
    if (!valid) {
        setMessage(kStaleApproval);
        co_return;
    }
    co_await sendControl(NativeControls::Command::approval(m_sessionID, approval.toolUseID, decision, approval.turnID,
                                                           approval.revision));
}
