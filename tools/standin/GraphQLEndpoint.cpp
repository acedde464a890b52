#include "standin/GraphQLEndpoint.h"

#include "standin/EventLog.h"
#include "standin/PlatformHosts.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"

#include <QRegularExpression>

namespace graphqlendpoint
{
namespace
{
Outcome errorAnswer(int status, const char *type, const QString &message)
{
    Outcome outcome;
    outcome.response = HttpResponse::json(
        status, json::dump(Json{{"errors", Json::array({{{"errorType", type}, {"message", json::toStd(message)}}})}}));
    return outcome;
}

// The first named operation of the document; clients may also name it in "operationName".
QString operationName(const Json &envelope, const QString &query)
{
    if (auto name = json::string(envelope, "operationName"); name && !name->isEmpty())
        return *name;
    static const QRegularExpression named(
        QStringLiteral("(?:^|[^_0-9A-Za-z])(?:query|mutation|subscription)\\s+([_A-Za-z][_0-9A-Za-z]*)"));
    const auto match = named.match(query);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

QString resultField(const QString &query)
{
    // After the operation's name and its variable declarations, if any, the selection set opens.
    static const QRegularExpression first(QStringLiteral(
        "(?:query|mutation|subscription)\\s*[_A-Za-z]*[_0-9A-Za-z]*\\s*(?:\\([^)]*\\))?\\s*\\{\\s*([_A-Za-z][_0-9A-Za-z]*)"));
    const auto match = first.match(query);
    return match.hasMatch() ? match.captured(1) : QString();
}

namespace
{
Outcome handle(const ServiceRegistry &registry, const HttpsExchange &exchange)
{
    ServiceContext &context = exchange.context;
    const auto envelope = json::tryParse(exchange.request.body);
    const auto query = envelope ? json::string(*envelope, "query") : std::nullopt;
    Json variables = envelope && envelope->is_object() ? envelope->value("variables", Json::object()) : Json();
    if (variables.is_null())
        variables = Json::object();
    // As the public service answers a body that is no GraphQL request: 400 and a malformed-request
    // error, before any scenario step.
    if (!envelope || !envelope->is_object() || !query || !variables.is_object()) {
        context.log.append({{"kind", "graphql"}, {"host", json::toStd(exchange.host)}, {"error", "malformed request"}});
        return errorAnswer(400, "MalformedHttpRequestException",
                           exchange.request.body.isEmpty() ? QStringLiteral("Request body is empty.")
                                                           : QStringLiteral("Unable to parse GraphQL query."));
    }
    const QString name = operationName(*envelope, *query);

    const QByteArray authorization = exchange.request.header("authorization");
    const QString token = authorization.startsWith("Bearer ") ? QString::fromUtf8(authorization.mid(7)) : QString();
    context.log.append({{"kind", "graphql"},
                        {"host", json::toStd(exchange.host)},
                        {"operation", json::toStd(name)},
                        {"query", json::toStd(*query)},
                        {"variables", variables},
                        {"token", json::toStd(token)}});
    if (token.trimmed().isEmpty())
        return errorAnswer(401, "UnauthorizedException", QStringLiteral("Valid authorization header not provided."));

    const GraphQLCall call{exchange.host, name, *query, variables, token, context};
    const auto *operation = registry.operation(name);
    auto makeDefault = [&] {
        Outcome outcome;
        if (!operation) {
            // A document the schema does not validate: "data" null beside the errors, as the public
            // service answers.
            const Json error{
                {"path", nullptr},
                {"locations", nullptr},
                {"message", json::toStd(QStringLiteral("Validation error: unknown operation %1.").arg(name))}};
            outcome.response =
                HttpResponse::json(200, json::dump(Json{{"data", nullptr}, {"errors", Json::array({error})}}));
            return outcome;
        }
        outcome.response = HttpResponse::json(200, json::dump(operation->answer(call)));
        return outcome;
    };

    // An operation of several result fields ("NativeDocument") registers none: its field is the
    // query's, for the steps' "match" and "answer".
    const QString field = operation && !operation->field.isEmpty() ? operation->field : resultField(*query);
    const Json view{{"operation", json::toStd(name)},
                    {"field", json::toStd(field)},
                    {"variables", variables},
                    {"query", json::toStd(*query)},
                    {"host", json::toStd(exchange.host)},
                    {"token", json::toStd(token)}};
    auto step = context.scenario.take("graphql", json::toStd(name), view);
    if (!step)
        step = context.scenario.take("graphql", "*", view);
    if (!step)
        return makeDefault();
    return scriptedstep::apply(*step, makeDefault, operation ? field : QString());
}
} // namespace

void registerService(ServiceRegistry &registry)
{
    registry.addScenarioSection("graphql", [](const Json &step) { return scriptedstep::validate(step, true); });
    registry.addHttpsRoute({QStringLiteral("graphql"), platformhosts::isGraphQLHost, "POST",
                            QRegularExpression(QRegularExpression::anchoredPattern(QStringLiteral("(?:/.*)?/graphql"))),
                            [&registry](const HttpsExchange &exchange) { return handle(registry, exchange); }});
}
} // namespace graphqlendpoint
