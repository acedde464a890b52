// Opening a document as working material: read off the main thread, shown, and recorded in the
// journal as "document.opened".
#include "session/HubModel.h"

#include "core/HubError.h"
#include "project/Detached.h"
#include "project/DocumentOpening.h"
#include "session/OpenPanels.h"

QCoro::Task<void> HubModel::openDocument()
{
    if (!m_panels)
        co_return;
    QPointer self(this);
    const std::shared_ptr<OpenPanels> panels = m_panels;
    const std::optional<QUrl> chosen = co_await panels->chooseDocument();
    if (!self || !chosen || !chosen->isLocalFile() || chosen->toLocalFile().isEmpty())
        co_return;

    // The read, and the count of its characters for the record, run on a worker thread. An opening
    // started later wins over this one when both are reading at once, so the document shown is
    // always the one chosen last.
    const qint64 opening = ++m_documentOpenings;
    struct Read
    {
        documentopening::Opened document;
        EventPayload record;
    };
    auto work = [path = chosen->toLocalFile()] {
        Read read{documentopening::read(path), {}};
        read.record = documentopening::openedPayload(read.document);
        return read;
    };
    Read read;
    try {
        read = co_await detached(std::move(work));
    } catch (const std::exception &error) {
        if (self && opening == m_documentOpenings)
            setMessage(errorDescription(error));
        co_return;
    }
    if (!self || opening != m_documentOpenings)
        co_return;
    setDocument(read.document.text);
    setDocumentURL(QUrl::fromLocalFile(read.document.path));
    if (!m_capturedPDF.isNull())
        setCapturedPDF({});

    // Nothing was awaited since the document was shown, so the record counts the shown document.
    const std::shared_ptr<WorkspaceLog> log = m_log;
    if (!log)
        co_return;
    try {
        co_await log->append(QStringLiteral("document.opened"), std::move(read.record));
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
    }
}
