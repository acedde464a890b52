// Project calls: a "project_call" frame is admitted, named, run at most once per session on the
// project tools, and its answer delivered to the platform with bounded retries. Every decision
// after a wait is taken again against the model as it is then.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/ScopedFlag.h"
#include "core/async/Sleep.h"
#include "session/ProjectCallRules.h"

using projectcalls::Call;

QCoro::Task<void> HubModel::handleProjectCall(Json frame, Json payload, HubConfiguration configuration,
                                              CancelToken cancel)
{
    const projectcalls::Context context{m_sessionID, configuration.tenantID, m_handsID, bool(m_hands), nowMs()};
    const std::optional<Call> admitted = projectcalls::admit(frame, payload, context);
    if (!admitted)
        co_return;
    const Call call = *admitted;
    const QString key = projectcalls::callKey(call);
    const QByteArray digest = projectcalls::requestDigest(call.agent, payload);

    // Tested and taken before the first wait: a second delivery of a call still being handled ends here.
    if (m_projectCallsInFlight.contains(key))
        co_return;
    const ScopedFlag inFlight(this, [this, key](bool on) {
        if (on)
            m_projectCallsInFlight.insert(key);
        else
            m_projectCallsInFlight.remove(key);
    });
    QPointer self(this);

    projectcalls::prune(m_projectAnswers, m_projectCallTombstones, call.sessionID, nowMs());

    if (const auto cached = m_projectAnswers.constFind(key); cached != m_projectAnswers.constEnd()) {
        // A replay of an answer the platform has not confirmed: sent again, never run again.
        if (cached->requestDigest == digest && cached->handsID == call.handsID && cached->tool == call.tool &&
            cached->deadline == call.deadline && !cached->recorded)
            co_await deliverProjectAnswer(key, call, digest, configuration, cancel);
        co_return;
    }
    if (const auto started = m_projectCallTombstones.constFind(key); started != m_projectCallTombstones.constEnd()) {
        if (started->requestDigest != digest)
            setMessage(projectcalls::changedReplaySentence());
        co_return;
    }

    projectcalls::checkLimits(m_projectAnswers, m_projectCallTombstones, m_projectCallsInFlight);

    m_projectCallTombstones.insert(key, ProjectCallTombstone{call.sessionID, digest});
    // The tools of the project this call was admitted for, even if the project changes meanwhile.
    const std::shared_ptr<NativeProjectHands> hands = m_hands;
    const NativeProjectHands::Answer answer = co_await hands->execute(json::dump(payload), call.agentText, cancel);
    if (!self)
        co_return;
    // Run for another session, workspace or executor: dropped; the tombstone keeps it from running again.
    if (m_sessionID != call.sessionID || !m_configuration || m_configuration->tenantID != call.tenantID ||
        m_handsID != call.handsID)
        co_return;

    m_projectAnswers.insert(key, ProjectAnswer{call.sessionID, digest, call.handsID, call.tool, call.deadline,
                                               answer.status, answer.result, answer.changed, false});
    if (!answer.changed.isEmpty()) {
        co_await refreshChanges(answer.changed.first());
        if (!self)
            co_return;
    }
    co_await deliverProjectAnswer(key, call, digest, configuration, cancel);
}

QCoro::Task<void> HubModel::deliverProjectAnswer(QString key, projectcalls::Call call, QByteArray digest,
                                                 HubConfiguration configuration, CancelToken cancel)
{
    QPointer self(this);
    const auto sameCall = [&] {
        return m_sessionID == call.sessionID && m_configuration && m_configuration->tenantID == call.tenantID &&
               m_handsID == call.handsID;
    };
    const auto cachedAnswer = [&]() -> ProjectAnswer * {
        const auto it = m_projectAnswers.find(key);
        return it != m_projectAnswers.end() && it->requestDigest == digest ? &*it : nullptr;
    };
    const auto attemptAllowed = [&] {
        return !cancel.cancelled() && !m_closingSession && nowMs() < call.deadline && sameCall();
    };

    const ProjectAnswer *start = cachedAnswer();
    if (!start || start->handsID != call.handsID || start->tool != call.tool || start->deadline != call.deadline ||
        start->recorded || !sameCall())
        co_return;
    const Json variables = projectcalls::answerVariables(call, *start);

    QString token;
    Json data;
    for (int attempt = 0;; ++attempt) {
        if (!attemptAllowed())
            break;
        bool retry = true;
        try {
            token = co_await currentVerifiedToken(cancel);
            if (!self)
                co_return;
            if (!attemptAllowed() || !cachedAnswer())
                break;
            data =
                co_await NativeLive::graphql(projectcalls::answerDocument(), variables, configuration, token, cancel);
            if (!self)
                co_return;
            const projectcalls::Verdict verdict = projectcalls::judge(data);
            if (verdict == projectcalls::Verdict::recorded) {
                if (ProjectAnswer *answer = cachedAnswer())
                    answer->recorded = true;
            }
            retry = verdict == projectcalls::Verdict::retry;
        } catch (const std::exception &) {
            // Token and transport failures are passing: the error itself is never shown.
            if (!self)
                co_return;
        }
        if (!retry || attempt == 3)
            break;
        try {
            co_await sleepFor(std::chrono::milliseconds(200 << attempt), cancel);
        } catch (const CancelledError &) {
        }
        if (!self)
            co_return;
        if (cancel.cancelled())
            break;
    }

    if (!cancel.cancelled() && !m_closingSession && m_sessionID == call.sessionID && m_configuration &&
        m_configuration->tenantID == call.tenantID) {
        if (const ProjectAnswer *answer = cachedAnswer(); answer && !answer->recorded)
            setMessage(projectcalls::unconfirmedSentence());
    }
    if (const auto it = m_projectAnswers.constFind(key);
        it != m_projectAnswers.constEnd() && (it->recorded || !(nowMs() < it->deadline)))
        m_projectAnswers.erase(it);
}
