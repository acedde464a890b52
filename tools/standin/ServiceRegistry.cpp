#include "standin/ServiceRegistry.h"

void ServiceRegistry::addScenarioSection(std::string name, Scenario::StepValidator validator)
{
    m_sections.insert_or_assign(std::move(name), std::move(validator));
}

const ServiceRegistry::HttpsRoute *ServiceRegistry::httpsRoute(const QString &host, const QString &path) const
{
    for (const auto &route : m_httpsRoutes) {
        if (route.hosts(host) && route.path.match(path).hasMatch())
            return &route;
    }
    return nullptr;
}

const ServiceRegistry::WebSocketRoute *ServiceRegistry::webSocketRoute(const QString &host, const QString &path) const
{
    for (const auto &route : m_webSocketRoutes) {
        if (route.hosts(host) && route.path.match(path).hasMatch())
            return &route;
    }
    return nullptr;
}

const ServiceRegistry::GraphQLOperation *ServiceRegistry::operation(const QString &name) const
{
    for (const auto &operation : m_operations) {
        if (operation.name == name)
            return &operation;
    }
    return nullptr;
}

const ServiceRegistry::ControlRoute *ServiceRegistry::controlRoute(const QString &path) const
{
    for (const auto &route : m_controlRoutes) {
        if (route.path == path)
            return &route;
    }
    return nullptr;
}
