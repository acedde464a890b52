// The working-tree changes view: one companion read at a time, whose answer reaches the view only
// while the changes generation and the project root are still the ones it was read for.
#include "session/HubModel.h"

#include "core/HubError.h"
#include "project/NativeChanges.h"

QCoro::Task<void> HubModel::refreshChanges(std::optional<QString> path)
{
    if (m_changesShuttingDown || m_closingSession || !m_configuration)
        co_return;
    if (m_changesLoading) {
        // Kept, not dropped: a call that changed files must see its change listed. One request is
        // kept; a later one replaces it, since only the latest selection matters. It runs when the
        // read in flight ends, and this caller returns once it has.
        m_pendingChangesRefresh = std::move(path);
        const Job reading = m_changesReadTask;
        co_await reading.finished();
        co_return;
    }

    setChangesLoading(true);
    auto readAll = [model = QPointer(this), path](CancelToken) -> QCoro::Task<void> {
        std::optional<std::optional<QString>> next = path;
        while (model && next) {
            co_await model->readChanges(*std::exchange(next, std::nullopt));
            if (!model)
                co_return;
            next = std::exchange(model->m_pendingChangesRefresh, std::nullopt);
            if (model->m_changesShuttingDown || model->m_closingSession || !model->m_configuration)
                next.reset();
        }
        if (model) {
            model->setChangesLoading(false);
            model->setChangesReadTask({});
        }
    };
    const Job reading = Job::start(std::move(readAll));
    if (!reading.isFinished())
        setChangesReadTask(reading);
    co_await reading.finished();
}

QCoro::Task<void> HubModel::readChanges(std::optional<QString> path)
{
    QPointer self(this);
    const QString root = m_configuration->root;
    const qint64 generation = m_changesGeneration;
    QString failure;
    try {
        const NativeChangeResult result = co_await NativeChanges::read(root, path);
        if (!self || m_changesGeneration != generation || !m_configuration || m_configuration->root != root)
            co_return;
        if (result.usable()) {
            setChangeFiles(result.files);
            setChangesTruncated(result.truncated);
            setSelectedChangePath(result.selected ? std::optional(result.selected->path) : path);
            setSelectedChangeDiff(result.selected ? result.selected->diff : QString());
            setSelectedChangeAST(result.selected ? result.selected->ast : std::nullopt);
            setChangesError(result.selectionError.value_or(QString()));
            co_return;
        }
        failure = result.failure();
    } catch (const std::exception &error) {
        failure = errorDescription(error);
    }
    if (self && m_changesGeneration == generation)
        setChangesError(failure);
}
