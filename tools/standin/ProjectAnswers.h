#pragma once

class ServiceRegistry;

// The answer mutation of project calls (NativeAnswer). Checks its input the way the platform's
// schema does, takes the first answer of each call and refuses later ones as already answered, and
// logs every answer it takes or refuses so that tests can see what arrived.
namespace projectanswers
{
void registerService(ServiceRegistry &registry);
} // namespace projectanswers
