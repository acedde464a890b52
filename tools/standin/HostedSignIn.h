#pragma once

class ServiceRegistry;

// The identity provider's hosted sign-in: the authorize page (which consents at once), the page
// behind an https redirect URI (which forwards to the desktop callback) and the token endpoint with
// the authorization-code grant (PKCE S256 checked) and the refresh-token grant. See README.md,
// "Hosted sign-in".
namespace hostedsignin
{
void registerService(ServiceRegistry &registry);
} // namespace hostedsignin
