#pragma once

#include <QString>

class ServiceRegistry;

// The platform's GraphQL endpoint: POST of {"query", "variables"} with a bearer token, dispatched
// on the operation name to the registry's operation table, each answer shaped by the scenario's
// "graphql" section (keyed by operation name, "*" for any operation without steps of its own).
namespace graphqlendpoint
{
void registerService(ServiceRegistry &registry);

// The first field of an operation's selection set: its result field ("tavriloStopRun" in
// "mutation NativeStop($sessionId: ID!) { tavriloStopRun(sessionId: $sessionId) { ok } }").
QString resultField(const QString &query);
} // namespace graphqlendpoint
