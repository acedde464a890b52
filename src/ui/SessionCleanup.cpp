#include "ui/SessionCleanup.h"

#include "session/HubModel.h"

#include <unistd.h>

#include <cerrno>

HubModelCleanup::HubModelCleanup(HubModel *model) : m_model(model) {}

bool HubModelCleanup::hasOwnedCleanup() const
{
    return m_model && m_model->hasOwnedCleanup();
}

QCoro::Task<void> HubModelCleanup::closeSession()
{
    if (QPointer<HubModel> model = m_model)
        co_await model->closeSession();
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
