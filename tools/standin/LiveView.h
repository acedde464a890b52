#pragma once

class ServiceRegistry;

// The platform's live-view page (`https://<live-view host>/browser-live/index.html`) as a browser
// meets it: a page with an embedded frame from a foreign host, and, with `?redirect=1`, a redirect
// to a foreign host. The hub's live browser view must refuse both.
namespace liveview
{
void registerService(ServiceRegistry &registry);
} // namespace liveview
