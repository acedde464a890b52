#include "standin/LiveView.h"

#include "standin/EventLog.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"

#include "core/Deployment.h"

#include <QUrlQuery>

namespace liveview
{
namespace
{
constexpr const char *kForeignFrame = "https://foreign.tavrilo-cloud.example/frame.html";
constexpr const char *kForeignPage = "https://foreign.tavrilo-cloud.example/elsewhere.html";

bool isLiveViewHost(const QString &host)
{
    return host.toLower() == QLatin1StringView(deployment::kLiveViewHost.data(), qsizetype(deployment::kLiveViewHost.size()));
}

Outcome page(const HttpsExchange &exchange)
{
    const bool redirect = exchange.request.query.queryItemValue(QStringLiteral("redirect")) == QLatin1String("1");
    exchange.context.log.append({{"kind", "liveView"}, {"event", redirect ? "redirect" : "page"}});
    auto makeDefault = [&] {
        Outcome outcome;
        outcome.response.setHeader("Cache-Control", "no-store");
        if (redirect) {
            outcome.response.status = 302;
            outcome.response.setHeader("Location", kForeignPage);
            return outcome;
        }
        outcome.response.status = 200;
        outcome.response.setHeader("Content-Type", "text/html; charset=utf-8");
        outcome.response.body = QByteArray("<!doctype html><title>Live view</title><p id=\"live\">Live browser</p>"
                                           "<iframe src=\"") +
                                kForeignFrame + "\" width=\"200\" height=\"100\"></iframe>";
        return outcome;
    };
    return scriptedstep::answer(exchange.context.scenario, "https", "liveView", Json::object(), makeDefault);
}
} // namespace

void registerService(ServiceRegistry &registry)
{
    const QString path = QLatin1StringView(deployment::kLiveViewPath.data(), qsizetype(deployment::kLiveViewPath.size()));
    registry.addHttpsRoute({QStringLiteral("liveView"), isLiveViewHost, "GET",
                            QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(path))),
                            page});
}
} // namespace liveview
