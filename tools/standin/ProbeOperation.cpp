#include "standin/ProbeOperation.h"

#include "standin/ServiceRegistry.h"

namespace probeoperation
{
void registerService(ServiceRegistry &registry)
{
    registry.addGraphQLOperation(
        {QStringLiteral("NativeProbe"), QStringLiteral("probe"), [](const GraphQLCall &call) {
             return Json{
                 {"data", {{"probe", {{"operation", json::toStd(call.operation)}, {"variables", call.variables}}}}}};
         }});
}
} // namespace probeoperation
