#pragma once

class ServiceRegistry;

// The reply to an agent's input request, mutation "NativeElicitation" (result field
// `tavriloReplyElicitation`): its input is checked the way the platform's schema does and logged
// whole (kind "elicitation"), so tests can read what the hub sent.
namespace inputrequestreplies
{
void registerService(ServiceRegistry &registry);
} // namespace inputrequestreplies
