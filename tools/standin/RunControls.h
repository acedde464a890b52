#pragma once

class ServiceRegistry;

// The six run-control mutations (stop, interject, approval, browser, run state, skip). Each checks
// its variables the way the platform's schema does and, unless the scenario says otherwise,
// accepts the control.
namespace runcontrols
{
void registerService(ServiceRegistry &registry);
} // namespace runcontrols
