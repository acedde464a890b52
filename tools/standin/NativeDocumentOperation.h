#pragma once

#include <memory>

class ServiceRegistry;
struct BuildShells;

// The workspace tools' one GraphQL document, "NativeDocument", whose result field names the tool:
// the build shell's grant, resize authorisation and release. Each checks its input the way the
// platform's schema does; a grant names the command channel's WebSocket URL and protocol.
namespace nativedocument
{
void registerService(ServiceRegistry &registry, std::shared_ptr<BuildShells> shells);
} // namespace nativedocument
