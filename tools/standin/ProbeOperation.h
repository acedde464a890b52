#pragma once

class ServiceRegistry;

// "NativeProbe": a generic operation for checking a GraphQL client. Its own answer echoes what
// arrived: {"data": {"probe": {"operation": ..., "variables": ...}}}; scenarios script any other.
namespace probeoperation
{
void registerService(ServiceRegistry &registry);
} // namespace probeoperation
