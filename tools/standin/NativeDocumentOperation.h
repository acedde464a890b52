#pragma once

#include <memory>

class ServiceRegistry;
struct BuildShells;

// The workspace tools' one GraphQL document, "NativeDocument", whose result field names the tool:
// the build shell's grant, resize authorisation and release, the live browser's grant and frame
// capture. Each checks its variables the way the platform's schema does; a shell grant names the
// command channel's WebSocket URL and protocol, a browser grant the live-view page.
namespace nativedocument
{
void registerService(ServiceRegistry &registry, std::shared_ptr<BuildShells> shells);
} // namespace nativedocument
