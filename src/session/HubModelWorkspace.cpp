// The window's doors to the workspace tools: replies to the agents' input requests, and opening
// the live browser and the build shell. The courses themselves live in InputRequestReply and
// WorkspaceToolOpening, written against small interfaces; this file is the model's side of them.
#include "session/HubModel.h"

#include "core/PropertyNotify.h"
#include "session/InputRequestReply.h"
#include "session/WorkspaceToolOpening.h"

#include <algorithm>

// What the reply and the opening courses read and write of the model. It lives in the frame of the
// model's own coroutine; the courses stop touching it once the model is gone.
class HubModel::WorkspaceSession final : public inputrequest::Session, public workspaceopening::Session
{
public:
    explicit WorkspaceSession(HubModel &model) : m_model(model) {}

    bool closingSession() const override { return m_model.closingSession(); }
    bool controlInFlight() const override { return m_model.controlInFlight(); }
    void setControlInFlight(bool inFlight) override { m_model.setControlInFlight(inFlight); }
    const std::optional<HubConfiguration> &configuration() const override { return m_model.configuration(); }
    const std::optional<QString> &identityToken() const override { return m_model.identityToken(); }
    const QString &sessionID() const override { return m_model.sessionID(); }
    const std::optional<QString> &activeSessionID() const override { return m_model.activeSessionID(); }
    NativeDocuments *documents() override { return m_model.documents(); }
    void configureDocuments(HubConfiguration configuration, QString session) override
    {
        m_model.configureDocuments(std::move(configuration), std::move(session));
    }
    void setMessage(QString message) override { m_model.setMessage(std::move(message)); }

    bool awaitsInputRequest(const QString &requestID) const override
    {
        const QList<EventProjection::Elicitation> &requests = m_model.eventProjection().elicitations;
        return std::any_of(requests.begin(), requests.end(),
                           [&](const EventProjection::Elicitation &request) { return request.requestID == requestID; });
    }
    QCoro::Task<void> refreshIdentityIfNeeded() override { return m_model.refreshIdentityIfNeeded(); }
    void inputRequestAnswered(const QString &requestID) override
    {
        m_model.m_answeredInputRequestIDs.insert(requestID);
        m_model.advancePendingInputGeneration();
        changeAndAnnounce(
            m_model.m_eventProjection, [&](EventProjection &projection) { projection.resolveElicitation(requestID); },
            &m_model, &HubModel::eventProjectionChanged);
    }

private:
    HubModel &m_model;
};

QCoro::Task<void> HubModel::replyElicitation(EventProjection::Elicitation request, QString action,
                                             QMap<QString, QString> content)
{
    WorkspaceSession session(*this);
    co_await inputrequest::reply(&session, this, std::move(request), std::move(action), std::move(content));
}

QCoro::Task<void> HubModel::openWorkspaceBrowser()
{
    WorkspaceSession session(*this);
    co_await workspaceopening::openBrowser(&session, this);
}

QCoro::Task<void> HubModel::openWorkspaceShell()
{
    WorkspaceSession session(*this);
    co_await workspaceopening::openShell(&session, this);
}
