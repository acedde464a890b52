#pragma once

#include <memory>

class LiveSessions;
class ServiceRegistry;

// The start of a live turn (`NativeStart`) and the pending inputs of its session (`NativePending`),
// as the scenario's "turn" section scripts them; the turn's frames are the "realtime" section's.
// See README.md, "A live turn".
namespace liveturn
{
void registerService(ServiceRegistry &registry, std::shared_ptr<LiveSessions> sessions);
} // namespace liveturn
