// Profile navigation: between the profile and project selector and the workspace.
#include "session/HubModel.h"

void HubModel::selectExistingProfile()
{
    if (m_closingSession || m_projectOpening)
        return;
    refreshRecentProjects(true);
    setChangesShuttingDown(false);
    setSelectedProfile(true);
}

QCoro::Task<void> HubModel::returnToProfiles()
{
    QPointer self(this);
    try {
        co_await closeSession();
    } catch (const std::exception &) {
        // The workspace stays on screen; the status line and cleanupFailure already say why.
        co_return;
    }
    if (self)
        setSelectedProfile(false);
}
