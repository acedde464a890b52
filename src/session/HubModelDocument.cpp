// Opening a document as working material: read off the main thread, shown, and recorded in the
// journal as "document.opened".
#include "session/HubModel.h"

#include "core/HubError.h"
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

    // The read runs on a worker thread; an opening started later wins over this one when both are
    // reading at once, so the document shown is always the one chosen last.
    const qint64 opening = ++m_documentOpenings;
    documentopening::Opened opened;
    try {
        opened = co_await documentopening::readDetached(chosen->toLocalFile());
    } catch (const std::exception &error) {
        if (self && opening == m_documentOpenings)
            setMessage(errorDescription(error));
        co_return;
    }
    if (!self || opening != m_documentOpenings)
        co_return;
    setDocument(opened.text);
    setDocumentURL(QUrl::fromLocalFile(opened.path));
    if (!m_capturedPDF.isNull())
        setCapturedPDF({});

    const std::shared_ptr<WorkspaceLog> log = m_log;
    if (!log)
        co_return;
    try {
        // Counted from the document shown now, as the record is written.
        EventPayload payload = documentopening::openedPayload({opened.path, m_document});
        co_await log->append(QStringLiteral("document.opened"), std::move(payload));
    } catch (const std::exception &error) {
        if (self)
            setMessage(errorDescription(error));
    }
}
