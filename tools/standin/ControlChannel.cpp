#include "standin/ControlChannel.h"

#include "standin/ProxyServer.h"

namespace controlchannel
{
namespace
{
HttpResponse answer(int status, const Json &body)
{
    return HttpResponse::json(status, json::dump(body));
}
} // namespace

HttpResponse handle(ProxyServer &server, const HttpRequest &request)
{
    if (request.path == QLatin1StringView("/_standin/scenario")) {
        if (request.method != "POST")
            return answer(405, {{"error", "use POST"}});
        const auto document = json::tryParse(request.body);
        if (!document)
            return answer(400, {{"error", "the scenario is not JSON"}});
        QString error;
        if (!server.setScenario(*document, "control", &error))
            return answer(400, {{"error", json::toStd(error)}});
        return answer(200, {{"ok", true}});
    }
    if (request.path == QLatin1StringView("/_standin/log")) {
        if (request.method != "GET")
            return answer(405, {{"error", "use GET"}});
        bool ok = true;
        const QString from = request.query.queryItemValue(QStringLiteral("from"));
        const qint64 cursor = from.isEmpty() ? 0 : from.toLongLong(&ok);
        if (!ok || cursor < 0)
            return answer(400, {{"error", "\"from\" must be an entry index"}});
        // Read before answering: entries appended while this answer is written belong to the next read.
        const qint64 next = server.log().size();
        return answer(200, {{"next", next}, {"entries", server.log().since(cursor)}});
    }
    if (const auto *route = server.registry().controlRoute(request.path)) {
        if (request.method != route->method)
            return answer(405, {{"error", "use " + route->method.toStdString()}});
        return route->handle(request, server.context());
    }
    return answer(404, {{"error", "no such control"}});
}
} // namespace controlchannel
