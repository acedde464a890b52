#pragma once

#include "standin/GraphQLCall.h"
#include "standin/HttpsExchange.h"
#include "standin/Outcome.h"
#include "standin/Scenario.h"
#include "standin/ServiceContext.h"

#include "core/Json.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QWebSocket;

// The tables of services the stand-in plays. Each service registers itself in Services.cpp with
// one line; the proxy looks requests up here and knows nothing of any service.
class ServiceRegistry
{
public:
    using HostFilter = std::function<bool(const QString &host)>;

    struct HttpsRoute
    {
        QString name; // also the key of its steps in the scenario's "https" section
        HostFilter hosts;
        QByteArray method;
        QRegularExpression path; // matched against the whole path
        std::function<Outcome(const HttpsExchange &)> handle;
    };

    struct WebSocketRoute
    {
        QString name;
        HostFilter hosts;
        QRegularExpression path;
        QStringList subprotocols; // offered to the client's handshake, in order of preference
        // Takes ownership of the upgraded socket.
        std::function<void(QWebSocket *socket, ServiceContext &context)> accept;
    };

    struct GraphQLOperation
    {
        QString name;  // the operation name, also the key of its steps in the "graphql" section
        QString field; // the result field that a step's "answer" fills
        // The operation's own answer envelope ({"data": ...} and/or {"errors": [...]}).
        std::function<Json(const GraphQLCall &)> answer;
    };

    // A request of the plain-HTTP control channel that a service answers itself, for what a scenario
    // cannot say ahead of time (for example "send this frame now").
    struct ControlRoute
    {
        QByteArray method;
        QString path; // exact, under "/_standin/"
        std::function<HttpResponse(const HttpRequest &, ServiceContext &)> handle;
    };

    void addHttpsRoute(HttpsRoute route) { m_httpsRoutes.push_back(std::move(route)); }
    void addControlRoute(ControlRoute route) { m_controlRoutes.push_back(std::move(route)); }
    void addWebSocketRoute(WebSocketRoute route) { m_webSocketRoutes.push_back(std::move(route)); }
    void addGraphQLOperation(GraphQLOperation operation) { m_operations.push_back(std::move(operation)); }
    // A scenario section of a service that scripts something other than HTTPS answers.
    void addScenarioSection(std::string name, Scenario::StepValidator validator);

    // The first route whose host filter and path hold (the method is the caller's check, so that a
    // wrong method can be told apart from a wrong path).
    const HttpsRoute *httpsRoute(const QString &host, const QString &path) const;
    const WebSocketRoute *webSocketRoute(const QString &host, const QString &path) const;
    const GraphQLOperation *operation(const QString &name) const;
    const ControlRoute *controlRoute(const QString &path) const;
    const std::vector<WebSocketRoute> &webSocketRoutes() const { return m_webSocketRoutes; }
    const Scenario::Sections &scenarioSections() const { return m_sections; }

private:
    std::vector<HttpsRoute> m_httpsRoutes;
    std::vector<ControlRoute> m_controlRoutes;
    std::vector<WebSocketRoute> m_webSocketRoutes;
    std::vector<GraphQLOperation> m_operations;
    Scenario::Sections m_sections;
};
