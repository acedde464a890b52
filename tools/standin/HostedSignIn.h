#pragma once

#include <memory>

class ServiceRegistry;
class WorkspaceSelection;

// The identity provider's hosted sign-in: the authorize page (which consents at once), the page
// behind an https redirect URI (which forwards to the desktop callback) and the token endpoint with
// the authorization-code grant (PKCE S256 checked) and the refresh-token grant. See README.md,
// "Hosted sign-in". Tokens are signed for the workspace `selection` holds for the user, else for the
// account's own.
namespace hostedsignin
{
void registerService(ServiceRegistry &registry, std::shared_ptr<const WorkspaceSelection> selection = {});
} // namespace hostedsignin
