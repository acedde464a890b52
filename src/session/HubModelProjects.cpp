// Switching the model to another project folder: a chosen folder, a row of the recent-project
// history, or a repository the companion checks out. Every switch first closes the session, which
// takes time, and then checks again everything that may have changed meanwhile.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "core/ScopedFlag.h"
#include "project/NativeRepository.h"
#include "project/ProjectSelection.h"
#include "session/OpenPanels.h"

#include <QDir>
#include <QFileInfo>

namespace
{
const QString kNotADirectory = QStringLiteral("Choose an existing project directory.");
const QString kContextChanged = QStringLiteral("The account or workspace changed before project selection completed.");
const QString kDirectoryChanged =
    QStringLiteral("The selected project directory changed during cleanup. Choose it again.");
const QString kRedirected = QStringLiteral("The selected project path was redirected during cleanup.");
const QString kRecentGone = QStringLiteral("This recent project no longer belongs to the selected workspace history.");
const QString kBadAddress =
    QStringLiteral("Use an HTTPS repository address without embedded credentials, query parameters, or fragments.");
const QString kParentPrompt =
    QStringLiteral("Choose the parent folder for this repository checkout. Existing work is preserved.");
const QString kWorkspaceChanged = QStringLiteral("The authenticated workspace changed before repository selection.");
const QString kOpening = QStringLiteral("Opening the selected repository\u2026");
const QString kOutsideParent = QStringLiteral("The repository destination is outside the selected parent folder.");
const QString kFetchFailed = QStringLiteral("Existing checkout selected. Its remote update could not be confirmed.");
const QString kRepositorySelected = QStringLiteral("Repository project selected.");
const QString kOpeningCancelled = QStringLiteral("Repository opening cancelled.");

// The local folder a panel chose; none for a cancelled panel or an address that names no local file.
std::optional<QString> localFolder(const std::optional<QUrl> &chosen)
{
    if (!chosen || !chosen->isLocalFile() || chosen->toLocalFile().isEmpty())
        return std::nullopt;
    return chosen->toLocalFile();
}

bool isCancellation(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError &) {
        return true;
    } catch (...) {
        return false;
    }
}
} // namespace

QCoro::Task<void> HubModel::chooseProject()
{
    if (m_running || m_closingSession || m_projectOpening || !m_panels)
        co_return;
    QPointer self(this);
    const std::shared_ptr<OpenPanels> panels = m_panels;
    const std::optional<QUrl> chosen = co_await panels->chooseFolder(QString());
    const std::optional<QString> folder = localFolder(chosen);
    if (!self || !folder)
        co_return;
    co_await selectProjectDirectory(*folder, false, std::nullopt);
}

QCoro::Task<void> HubModel::selectRecentProject(NativeRecentProject project)
{
    if (!controlsConnected())
        co_return;
    const auto row = std::find_if(m_recentProjects.cbegin(), m_recentProjects.cend(),
                                  [&](const NativeRecentProject &r) { return r.directory == project.directory; });
    if (row == m_recentProjects.cend())
        co_return;
    const QString directory = row->directory;
    co_await selectProjectDirectory(directory, false, directory);
}

QCoro::Task<bool> HubModel::selectProjectDirectory(QString path, bool fromRepository, std::optional<QString> recentPath)
{
    if (m_running || m_closingSession || m_controlInFlight || (m_projectOpening && !fromRepository) || !m_configuration)
        co_return false;
    QPointer self(this);
    HubConfiguration chosen = *m_configuration;
    const QString tenant = chosen.tenantID;
    const QString user = m_userID;

    QString resolved;
    std::optional<projectselection::DirectoryIdentity> before;
    try {
        resolved = projectselection::resolved(path);
        before = projectselection::directoryIdentity(resolved);
    } catch (const std::exception &error) {
        setMessage(errorDescription(error));
        co_return false;
    }
    if (!before) {
        setMessage(kNotADirectory);
        co_return false;
    }

    const qint64 expected = m_projectSelectionGeneration + 1;
    try {
        co_await closeSession();
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
        co_return false;
    }
    if (!self)
        co_return false;
    if (m_projectSelectionGeneration != expected || m_userID != user || !m_configuration ||
        m_configuration->tenantID != tenant || (fromRepository && !controlsConnected())) {
        setMessage(kContextChanged);
        co_return false;
    }

    // A folder that is gone now is a changed folder, not a failed read.
    std::optional<projectselection::DirectoryIdentity> after;
    try {
        if (QFileInfo::exists(resolved))
            after = projectselection::directoryIdentity(resolved);
    } catch (const std::exception &error) {
        setMessage(errorDescription(error));
        co_return false;
    }
    if (!after || *after != *before) {
        setMessage(kDirectoryChanged);
        co_return false;
    }

    chosen.root = resolved;
    HubConfiguration::CanonicalProject project;
    try {
        project = chosen.canonicalProject();
    } catch (const std::exception &error) {
        setMessage(errorDescription(error));
        co_return false;
    }
    chosen.root = project.root;
    if (QDir::cleanPath(project.root) != resolved) {
        setMessage(kRedirected);
        co_return false;
    }
    if (recentPath && (!controlsConnected() || project.root != *recentPath ||
                       std::none_of(m_recentProjects.cbegin(), m_recentProjects.cend(),
                                    [&](const NativeRecentProject &row) { return row.directory == *recentPath; }))) {
        setMessage(kRecentGone);
        co_return false;
    }

    // The tools, the journal's view and the history move together, with nothing awaited in between.
    auto hands = std::make_shared<NativeProjectHands>(project.root);
    clearChanges();
    setConfiguration(chosen);
    setSessionID(project.sessionID);
    m_hands = std::move(hands);
    refreshRecentProjects(true);
    setChangesShuttingDown(false);
    resetSessionView(ViewReset::session);
    renewHandsID();
    co_return true;
}

QCoro::Task<void> HubModel::openRepository(QString address, QString ref)
{
    if (!controlsConnected() || m_running || m_closingSession || m_controlInFlight || m_projectOpening ||
        !m_configuration || m_userID.isEmpty() || !m_panels)
        co_return;
    if (!projectselection::repositoryAddress(address)) {
        setMessage(kBadAddress);
        co_return;
    }
    // Taken before the panel: the account or workspace must not change while it is open either.
    const QString user = m_userID;
    const QString tenant = m_configuration->tenantID;
    QPointer self(this);
    const std::shared_ptr<OpenPanels> panels = m_panels;
    const std::optional<QUrl> chosen = co_await panels->chooseFolder(kParentPrompt);
    const std::optional<QString> folder = localFolder(chosen);
    if (!self || !folder)
        co_return;

    try {
        co_await closeSession();
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
        co_return;
    }
    if (!self)
        co_return;
    const auto sameAccount = [&] {
        return controlsConnected() && m_userID == user && m_configuration && m_configuration->tenantID == tenant;
    };
    if (!sameAccount()) {
        setMessage(kWorkspaceChanged);
        co_return;
    }

    const ScopedFlag projectOpening(this, [this](bool on) { setProjectOpening(on); });
    const qint64 generation = m_projectSelectionGeneration;
    setMessage(kOpening);
    const QString parent = projectselection::resolved(*folder);
    const auto finish = [&](const QString &sentence) {
        setProjectOpenTask({});
        setMessage(sentence);
    };

    auto outcome = std::make_shared<std::optional<NativeRepository::Result>>();
    auto opening = [outcome, url = address.trimmed(), ref = ref.trimmed(),
                    parent](CancelToken token) -> QCoro::Task<void> {
        outcome->emplace(co_await NativeRepository::open(url, ref, parent, token));
    };
    const Job task = Job::start(std::move(opening));
    setProjectOpenTask(task);
    co_await task.finished();
    if (!self)
        co_return;
    if (const std::exception_ptr error = task.error()) {
        // A companion stopped by the cancellation fails with its exit sentence: still a cancellation.
        finish(task.token().cancelled() || isCancellation(error) ? kOpeningCancelled : errorDescription(error));
        co_return;
    }
    if (task.token().cancelled() || m_closingSession || m_projectSelectionGeneration != generation || !sameAccount() ||
        !*outcome) {
        finish(kOpeningCancelled);
        co_return;
    }

    const QString destination = projectselection::resolved((*outcome)->directory);
    if (!projectselection::strictlyInside(parent, destination)) {
        finish(kOutsideParent);
        co_return;
    }
    setProjectOpenTask({});
    const bool switched = co_await selectProjectDirectory(destination, true, std::nullopt);
    if (!self)
        co_return;
    if (switched && !m_closingSession && sameAccount() && m_configuration->root == destination)
        setMessage((*outcome)->fetchFailed ? kFetchFailed : kRepositorySelected);
    setProjectOpenTask({});
}

void HubModel::setProjectOpenTask(Job task)
{
    if (m_projectOpenTask == task)
        return;
    m_projectOpenTask = std::move(task);
    Q_EMIT hasOwnedCleanupChanged();
}
