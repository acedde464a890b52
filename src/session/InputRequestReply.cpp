#include "session/InputRequestReply.h"

#include "cloud/NativeControls.h"
#include "cloud/NativeLive.h"
#include "core/HubError.h"
#include "core/ScopedFlag.h"
#include "live/StrictNumbers.h"
#include "workspace/WorkspaceMutation.h"

#include <QPointer>

#include <cmath>
#include <set>

namespace inputrequest
{
namespace
{
const QString kNoLongerAvailable = QStringLiteral("This input request is no longer available in the current workspace.");
// The request is still there; only this press came while another control was being sent.
const QString kControlBusy =
    QStringLiteral("Another control is being sent. Answer the input request again once it has finished.");
const QString kChanged = QStringLiteral("This input request changed before the response could be sent.");
const QString kRequired = QStringLiteral("Complete the required field: ");
const QString kDocument = QStringLiteral("mutation NativeElicitation($input: TavriloElicitationReplyInput!) { "
                                         "tavriloReplyElicitation(input: $input) { ok refusal detail } }");
constexpr qint64 kAnswerBytes = 1048576;

// Each property's "type", when every property is an object; none at all otherwise.
std::map<QString, std::optional<QString>> propertyTypes(const Json &schema)
{
    std::map<QString, std::optional<QString>> types;
    const auto properties = schema.find("properties");
    if (properties == schema.end() || !properties->is_object())
        return {};
    for (const auto &[name, property] : properties->items()) {
        if (!property.is_object())
            return {};
        types[json::toQString(name)] = json::string(property, "type");
    }
    return types;
}

// The required names, when "required" is an array of strings; none otherwise.
std::vector<QString> requiredNames(const Json &schema)
{
    const auto required = schema.find("required");
    if (required == schema.end() || !required->is_array())
        return {};
    std::vector<QString> names;
    for (const Json &name : *required) {
        if (!name.is_string())
            return {};
        names.push_back(json::toQString(name.get<std::string>()));
    }
    return names;
}

Json typedValue(const QString &name, const QString &text, const std::optional<QString> &type)
{
    if (type == QLatin1String("boolean")) {
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            return text == QLatin1String("true");
        throw HubError(name + QStringLiteral(" requires true or false."));
    }
    if (type == QLatin1String("integer")) {
        if (const std::optional<qint64> value = strictnumbers::signedInteger(text))
            return *value;
        throw HubError(name + QStringLiteral(" requires an integer."));
    }
    if (type == QLatin1String("number")) {
        const std::optional<double> value = strictnumbers::floatingPoint(text);
        if (value && std::isfinite(*value))
            return *value;
        throw HubError(name + QStringLiteral(" requires a finite number."));
    }
    if (type == QLatin1String("object") || type == QLatin1String("array")) {
        // Either kind for either type, as the platform's reader takes them.
        Json value = json::parse(text.toUtf8());
        if (!value.is_object() && !value.is_array())
            throw HubError(json::decodingErrorSentence());
        return value;
    }
    return json::toStd(text);
}

} // namespace

Json typedValues(const Json &schema, const QMap<QString, QString> &content)
{
    const auto types = propertyTypes(schema);
    const std::vector<QString> required = requiredNames(schema);
    const std::set<QString> requiredSet(required.begin(), required.end());
    Json values = Json::object();
    for (auto it = content.begin(); it != content.end(); ++it) {
        if (it.value().isEmpty()) {
            if (requiredSet.count(it.key()))
                throw HubError(kRequired + it.key());
            continue;
        }
        const auto type = types.find(it.key());
        values[json::toStd(it.key())] =
            typedValue(it.key(), it.value(), type == types.end() ? std::nullopt : type->second);
    }
    for (const QString &name : required)
        if (!values.contains(json::toStd(name)))
            throw HubError(kRequired + name);
    return values;
}

QString requestStateText(const EventProjection::Elicitation &request)
{
    if (request.requestStateJSON)
        return *request.requestStateJSON;
    return QString::fromUtf8(json::dump(request.requestState.value_or(Json())));
}

Json replyInput(const QString &sessionID, const EventProjection::Elicitation &request, const QString &action,
                const QMap<QString, QString> &content)
{
    const bool acceptedForm = action == QLatin1String("accept") && request.mode == QLatin1String("form");
    Json values;
    if (acceptedForm)
        values = typedValues(request.schema, content);
    Json input{{"sessionId", json::toStd(sessionID)},
               {"requestId", json::toStd(request.requestID)},
               {"requestState", json::toStd(requestStateText(request))},
               {"action", json::toStd(action)}};
    if (acceptedForm)
        input["content"] = json::dump(values).toStdString();
    return input;
}

QCoro::Task<void> reply(Session *session, QObject *alive, EventProjection::Elicitation request, QString action,
                        QMap<QString, QString> content, Transport transport)
{
    // A press while another control is being sent is refused at once, changing nothing else: the
    // request is still there. One no longer answerable is refused the same way.
    if (!session->closingSession() && session->controlInFlight()) {
        session->setMessage(kControlBusy);
        co_return;
    }
    if (session->closingSession() || !session->configuration() ||
        !session->identityToken() || !session->awaitsInputRequest(request.requestID)) {
        session->setMessage(kNoLongerAvailable);
        co_return;
    }
    const QPointer<QObject> self(alive);
    // The session and workspace the reply belongs to, as they are when it is asked for.
    const QString sessionID = session->sessionID();
    const HubConfiguration configuration = *session->configuration();
    // No other run control goes out while this reply does.
    const ScopedFlag inFlight(alive, [session](bool on) { session->setControlInFlight(on); });
    if (!transport)
        transport = [](HubNetwork::Request outgoing, CancelToken token) {
            return HubNetwork::send(HubNetwork::shared().httpSession(), std::move(outgoing), std::move(token));
        };

    std::exception_ptr failure;
    try {
        // The form is checked and typed before anything is sent: a bad value costs no request.
        const Json input = replyInput(sessionID, request, action, content);
        // A token about to expire is renewed first; the renewal may take a while.
        co_await session->refreshIdentityIfNeeded();
        if (!self)
            co_return;
        const std::optional<QString> token = session->identityToken();
        if (!token)
            throw HubError(QStringLiteral("Sign in before using workspace controls."));
        // The model may have moved on during the renewal: a reply for another session or workspace,
        // or for a request that is no longer open, is not sent.
        if (session->closingSession() || session->sessionID() != sessionID || !session->configuration() ||
            session->configuration()->tenantID != configuration.tenantID ||
            !session->awaitsInputRequest(request.requestID))
            throw HubError(kChanged);
        // Named first: GCC 12 cannot keep an initializer list alive across a co_await in one expression.
        Json variables{{"input", input}};
        co_await workspacemutation::call(std::move(transport), configuration, *token, kDocument, std::move(variables),
                                         QStringLiteral("tavriloReplyElicitation"), kAnswerBytes);
        if (!self)
            co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        session->setMessage(errorDescription(failure));
        co_return;
    }
    // Recorded. A request of a session the model has left meanwhile is not looked up in the
    // new one's projection (a request there may share its id), and the new session's pending
    // inputs are not made stale by it.
    if (session->sessionID() == sessionID && session->configuration() &&
        session->configuration()->tenantID == configuration.tenantID)
        session->inputRequestAnswered(request.requestID);
    session->setMessage(QStringLiteral("Runtime input response recorded."));
}
} // namespace inputrequest
