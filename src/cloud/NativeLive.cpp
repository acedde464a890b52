#include "cloud/NativeLive.h"

#include "core/HubError.h"

namespace
{
const QString kRequestFailed = QStringLiteral("Platform request failed.");

// The platform's error messages in order, joined with "; ". Elements without a message, and blank
// messages, are left out; when nothing is left the user still gets a sentence.
QString errorsSentence(const Json &errors)
{
    QStringList messages;
    for (const Json &error : errors) {
        const std::optional<QString> message = json::string(error, "message");
        if (message && !message->trimmed().isEmpty())
            messages.append(*message);
    }
    return messages.isEmpty() ? kRequestFailed : messages.join(QStringLiteral("; "));
}

QString requiredString(const Json &object, std::string_view key)
{
    const std::optional<QString> value = json::string(object, key);
    if (!value)
        throw HubError(json::decodingErrorSentence());
    return *value;
}
} // namespace

NativeLive::NativeLive(QObject *parent) : NativeLive(RealtimeSubscription::Options(), parent) {}

NativeLive::NativeLive(RealtimeSubscription::Options realtime, QObject *parent)
    : QObject(parent), m_subscription(new RealtimeSubscription(std::move(realtime), this))
{}

NativeLive::Workspace NativeLive::Workspace::decode(const Json &object)
{
    if (!object.is_object())
        throw HubError(json::decodingErrorSentence());
    Workspace workspace;
    workspace.tenantId = requiredString(object, "tenantId");
    workspace.tenantName = requiredString(object, "tenantName");
    workspace.role = requiredString(object, "role");
    const auto isDefault = object.find("isDefault");
    if (isDefault == object.end() || !isDefault->is_boolean())
        throw HubError(json::decodingErrorSentence());
    workspace.isDefault = isDefault->get<bool>();
    return workspace;
}

QList<NativeLive::Workspace> NativeLive::Workspace::decodeList(const Json &array)
{
    if (!array.is_array())
        throw HubError(json::decodingErrorSentence());
    QList<Workspace> workspaces;
    workspaces.reserve(qsizetype(array.size()));
    for (const Json &element : array)
        workspaces.append(decode(element));
    return workspaces;
}

HubNetwork::Request NativeLive::request(const QUrl &endpoint, const QString &token, const QString &operation,
                                        const Json &variables)
{
    HubNetwork::Request request;
    request.request.setUrl(endpoint);
    request.request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.request.setRawHeader("Content-Type", "application/json");
    request.method = "POST";
    request.deadline = HubNetwork::platformDeadline();
    Json envelope = Json::object();
    envelope["query"] = json::toStd(operation);
    envelope["variables"] = variables.is_null() ? Json::object() : variables;
    request.body = json::dump(envelope);
    return request;
}

QCoro::Task<Json> NativeLive::graphql(QString operation, Json variables, HubConfiguration configuration, QString token,
                                      CancelToken cancel)
{
    if (!configuration.graphQLEndpoint)
        throw HubError(QStringLiteral("Missing platform endpoint."));
    const HubNetwork::Reply reply =
        co_await HubNetwork::send(HubNetwork::shared().httpSession(),
                                  request(*configuration.graphQLEndpoint, token, operation, variables), cancel);
    cancel.throwIfCancelled();

    if (reply.status < 200 || reply.status > 299)
        throw HubError(kRequestFailed);
    const Json answer = json::parse(reply.body);
    // Only objects and arrays are JSON documents here; a bare value is not readable at all.
    if (answer.is_array())
        throw HubError(kRequestFailed);
    if (!answer.is_object())
        throw HubError(json::decodingErrorSentence());

    // Errors are examined before data: an answer with both fails.
    const auto errors = answer.find("errors");
    if (errors != answer.end() && errors->is_array() && !errors->empty() &&
        std::all_of(errors->begin(), errors->end(), [](const Json &e) { return e.is_object(); }))
        throw HubError(errorsSentence(*errors));

    const auto data = answer.find("data");
    if (data == answer.end() || !data->is_object())
        throw HubError(QStringLiteral("Platform returned no data."));
    co_return *data;
}

QCoro::Task<void> NativeLive::disconnectAndWait()
{
    const Job receiver = m_subscription->receiver();
    m_subscription->disconnect();
    if (receiver.isValid())
        co_await receiver.finished();
}
