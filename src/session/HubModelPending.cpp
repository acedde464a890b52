// The pending inputs of the session: the platform's run controls (browser availability and holder,
// open approvals) and its open input requests replace the model's whole, unless stale. An input
// request answered here stays gone whatever a later answer says: the platform's list lags its
// recorded replies.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/PropertyNotify.h"
#include "core/ScopedCount.h"

namespace
{
const QString kPendingQuery = QStringLiteral(
    "query NativePending($sessionId: ID!) { tavriloRunControls(sessionId: $sessionId) { browserAvailable "
    "browserHolder approvals { id kind summary detail paused decision recordedAt acceptanceCriteria turnId revision "
    "round } } tavriloPendingElicitations(sessionId: $sessionId) { requestId params requestState } }");

// The objects of `object[key]` when it is a list of objects; nothing otherwise.
Json::array_t objectList(const Json &object, std::string_view key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array() ||
        !std::all_of(it->begin(), it->end(), [](const Json &entry) { return entry.is_object(); }))
        return {};
    return it->get<Json::array_t>();
}

} // namespace

QCoro::Task<void> HubModel::refreshPendingInputs()
{
    if (m_closingSession || !m_configuration)
        co_return;
    const HubConfiguration configuration = *m_configuration;
    const qint64 generation = m_pendingInputGeneration;
    const QString session = m_sessionID;
    QPointer self(this);
    const ScopedCount invocation(this, [this](int delta) { changeActiveInvocations(delta); });

    co_await refreshIdentityIfNeeded();
    if (!self)
        co_return;
    if (!m_identityToken)
        throw HubError(QStringLiteral("Sign in before using workspace controls."));
    Json variables{{"sessionId", json::toStd(session)}};
    const Json data =
        co_await NativeLive::graphql(kPendingQuery, std::move(variables), configuration, *m_identityToken);
    // An event of a gate kind, a new session or a close since the question makes the answer stale.
    if (!self || m_closingSession || m_sessionID != session || m_pendingInputGeneration != generation)
        co_return;

    const auto controls = data.find("tavriloRunControls");
    if (controls != data.end() && controls->is_object()) {
        const auto available = controls->find("browserAvailable");
        if (available != controls->end() && available->is_boolean())
            setBrowserSessionPresent(available->get<bool>());
        const std::optional<QString> holder = json::string(*controls, "browserHolder");
        if (holder == QLatin1StringView("agent") || holder == QLatin1StringView("customer"))
            setBrowserHolder(*holder);
        if (!m_browserSessionPresent)
            setBrowserHolder(QStringLiteral("agent"));
    } else {
        setBrowserSessionPresent(false);
        setBrowserHolder(QStringLiteral("agent"));
    }
    if (!m_browserSessionPresent)
        m_documents.invalidateBrowser();

    QList<EventProjection::Approval> approvals;
    if (controls != data.end() && controls->is_object())
        for (const Json &record : objectList(*controls, "approvals"))
            if (auto approval = EventProjection::durableApproval(record, session))
                approvals.append(std::move(*approval));
    QList<EventProjection::Elicitation> elicitations;
    for (const Json &record : objectList(data, "tavriloPendingElicitations"))
        if (auto elicitation = EventProjection::pendingElicitation(record);
            elicitation && !m_answeredInputRequestIDs.contains(elicitation->requestID))
            elicitations.append(std::move(*elicitation));
    changeAndAnnounce(
        m_eventProjection,
        [&](EventProjection &projection) {
            projection.approvals = std::move(approvals);
            projection.elicitations = std::move(elicitations);
        },
        this, &HubModel::eventProjectionChanged);
}
