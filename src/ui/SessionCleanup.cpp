#include "ui/SessionCleanup.h"

#include "core/async/NextEmission.h"
#include "session/HubActions.h"
#include "session/HubModel.h"

#include <unistd.h>

#include <cerrno>
#include <optional>

HubModelCleanup::HubModelCleanup(HubModel *model) : m_model(model) {}

bool HubModelCleanup::hasOwnedCleanup() const
{
    return m_model && m_model->hasOwnedCleanup();
}

QCoro::Task<bool> HubModelCleanup::closeSession()
{
    const QPointer<HubActions> actions = m_model ? m_model->actions() : nullptr;
    if (!actions)
        co_return true;
    // Connected before the close starts: a close that ends at once announces before any wait.
    std::optional<bool> closed;
    QObject receiver;
    QObject::connect(actions.data(), &HubActions::sessionCloseEnded, &receiver, [&closed](bool ended) {
        if (!closed)
            closed = ended;
    });
    actions->closeSession();
    while (!closed && actions) {
        NextEmission<HubActions> ended(actions.data(), &HubActions::sessionCloseEnded);
        co_await std::move(ended);
    }
    co_return closed.value_or(true);
}

void writeStandardErrorLine(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    qsizetype written = 0;
    // One write for the whole line; a short write (a full pipe) goes on with the rest.
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += n;
    }
}
