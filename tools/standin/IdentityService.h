#pragma once

#include "core/Json.h"

#include <QString>

#include <memory>

class ServiceRegistry;
class WorkspaceSelection;

namespace scenariolimits
{
// Memberships of one scripted account.
inline constexpr qsizetype kMaxWorkspaces = 1000;
} // namespace scenariolimits

// Who the signed-in user is and which workspaces the account may enter: the identity query
// (`NativeIdentity`) and the two mutations that record a workspace selection (`NativeSelectWorkspace`,
// `NativeRepairWorkspace`). A recorded selection is what the identity provider signs the user's next
// tokens for. See README.md, "Identity and workspaces".
namespace identityservice
{
void registerService(ServiceRegistry &registry, std::shared_ptr<WorkspaceSelection> selection);

// The claims of a compact JWT read without checking its signature; an empty object when it is none.
Json claimsOf(const QString &token);
// Why an "identity" account step is invalid, or an empty text when it is valid.
QString validateAccount(const Json &step);
} // namespace identityservice
