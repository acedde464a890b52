#pragma once

#include <memory>

class LiveSessions;
class ServiceRegistry;

// The six run-control mutations (stop, interject, approval, browser, run state, skip). Each checks
// its variables the way the platform's schema does and, unless the scenario says otherwise,
// accepts the control; an accepted control changes its session in `sessions`.
namespace runcontrols
{
void registerService(ServiceRegistry &registry, std::shared_ptr<LiveSessions> sessions = {});
} // namespace runcontrols
