#pragma once

#include "cloud/HubNetwork.h"
#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "live/EventProjection.h"

#include <QCoroTask>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Replies to the agents' input requests: the typed values of a form, the reply mutation
// "NativeElicitation", and the reply as the session model runs it, with its guard, its re-check
// after the identity renewal and its outcome in the status line.
namespace inputrequest
{
// What a reply reads and writes of the session model.
class Session
{
public:
    virtual ~Session() = default;
    virtual bool closingSession() const = 0;
    virtual bool controlInFlight() const = 0;
    virtual void setControlInFlight(bool inFlight) = 0;
    virtual const std::optional<HubConfiguration> &configuration() const = 0;
    virtual const std::optional<QString> &identityToken() const = 0;
    virtual const QString &sessionID() const = 0;
    // Whether the projection still holds a request with this id.
    virtual bool awaitsInputRequest(const QString &requestID) const = 0;
    // Renews the identity token when its expiry is near; throws the renewal's sentence.
    virtual QCoro::Task<void> refreshIdentityIfNeeded() = 0;
    // The reply was recorded: the pending-input generation moves on and the request leaves the
    // projection.
    virtual void inputRequestAnswered(const QString &requestID) = 0;
    virtual void setMessage(QString message) = 0;
};

// Sends one platform request; HubNetwork's platform session by default.
using Transport = std::function<QCoro::Task<HubNetwork::Reply>(HubNetwork::Request, CancelToken)>;

// The typed values of an accepted form: each field's text converted to the JSON type its schema
// property names ("boolean", "integer", "number", "object", "array"; any other as text), an empty
// optional field left out. Throws HubError: "Complete the required field: <name>" for a required
// field empty or without a value, "<name> requires true or false.", "<name> requires an integer.",
// "<name> requires a finite number.", and the JSON reader's sentence for an object or array that
// is no JSON object or array.
Json typedValues(const Json &schema, const QMap<QString, QString> &content);

// The reply's "requestState": the request's state as the text it arrived in, or its JSON text
// ("null" without one).
QString requestStateText(const EventProjection::Elicitation &request);

// The mutation's "input" object; "content" only for an accepted form request.
Json replyInput(const QString &sessionID, const EventProjection::Elicitation &request, const QString &action,
                const QMap<QString, QString> &content);

// The reply as the session model's status line reports it. Never throws. `alive` is the object the
// session lives in: once it is gone, nothing more is touched.
QCoro::Task<void> reply(Session *session, QObject *alive, EventProjection::Elicitation request, QString action,
                        QMap<QString, QString> content, Transport transport = {});
} // namespace inputrequest
