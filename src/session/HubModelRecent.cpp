// The recent-project list of the profile and project selector.
#include "session/HubModel.h"

void HubModel::refreshRecentProjects(bool recordCurrent)
{
    setRecentProjects({});
    setProjectSelectionNotice({});
    // A capture process never touches the history; without a signed-in user there is none to show.
    if (m_captureCredentialsOnly || !controlsConnected() || !m_configuration || m_userID.isEmpty())
        return;
    try {
        setRecentProjects(NativeProjects::recent(m_configuration->appID, m_userID, m_configuration->tenantID,
                                                 recordCurrent ? std::optional(m_configuration->root) : std::nullopt));
    } catch (const std::exception &) {
        // The reason stays out of the selector: the user can always choose a folder instead.
        setProjectSelectionNotice(QStringLiteral(
            "Recent project history is unavailable on this computer. Choose a project folder to continue."));
    }
}
