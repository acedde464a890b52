// Opening a working document through the model: the size limit, PDFs by extension, strict UTF-8,
// and the "document.opened" journal record.
#include "ProjectModelSupport.h"

#include "core/WorkspaceLog.h"

#include <QPainter>
#include <QPdfWriter>

#include <unistd.h>

using namespace projectmodel;
using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
const QString kTooLarge = QStringLiteral("Choose a document smaller than 10 MB.");

class DocumentOpening : public ::testing::Test
{
protected:
    QString write(const QString &name, const QByteArray &bytes) const
    {
        testsupport::writeFile(m_folder.at(name), bytes);
        return m_folder.at(name);
    }
    QString pdf(const QString &name, const QString &text) const
    {
        QPdfWriter writer(m_folder.at(name));
        QPainter painter(&writer);
        if (!text.isEmpty())
            painter.drawText(QPointF(400, 800), text);
        painter.end();
        return m_folder.at(name);
    }
    void open(const QString &path)
    {
        panels->documents.push_back(QUrl::fromLocalFile(path));
        awaitFor(model->openDocument(), std::chrono::seconds(30));
    }
    // A journal of its own application id, and the "document.opened" records written to it.
    std::shared_ptr<WorkspaceLog> journal()
    {
        HubConfiguration configuration(
            HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("hub-documents-%1").arg(::getpid())},
                           {QStringLiteral("TAVRILO_WORKSPACE_ROOT"), m_folder.path()}});
        configuration.tenantID = sessiontest::kTenant;
        auto log = std::make_shared<WorkspaceLog>(configuration);
        awaitFor(log->readDeltas());
        return log;
    }
    static std::vector<EventPayload> opened(WorkspaceLog &log)
    {
        std::vector<EventPayload> records;
        for (const WorkspaceEvent &event : awaitFor(log.readDeltas()).events)
            if (event.kind == QLatin1String("document.opened"))
                records.push_back(event.payload);
        return records;
    }

    Folder m_folder;
    std::shared_ptr<ScriptedPanels> panels = std::make_shared<ScriptedPanels>();
    std::unique_ptr<HubModel> model = makeModel(panels);
};

TEST_F(DocumentOpening, TextUpToTheLimitOpensAndIsJournaled)
{
    const auto log = journal();
    model->setLog(log);
    model->setCapturedPDF(QImage(4, 4, QImage::Format_RGB32));
    const QString largest = write(QStringLiteral("largest.txt"), QByteArray(9999999, 'a'));
    open(largest);
    EXPECT_EQ(model->document().size(), 9999999);
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(largest));
    EXPECT_TRUE(model->capturedPDF().isNull());
    EXPECT_EQ(opened(*log), (std::vector<EventPayload>{{{QStringLiteral("path"), largest},
                                                        {QStringLiteral("characters"), QStringLiteral("9999999")}}}));

    // One byte more is refused, and what was open stays.
    open(write(QStringLiteral("over.txt"), QByteArray(10000000, 'a')));
    EXPECT_EQ(model->message(), kTooLarge);
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(largest));
    EXPECT_EQ(model->document().size(), 9999999);

    // Not UTF-8: the reader's sentence, and the document stays.
    open(write(QStringLiteral("latin.txt"), "caf\xe9"));
    EXPECT_EQ(
        model->message(),
        QStringLiteral("The file \u201Clatin.txt\u201D couldn\u2019t be opened because it isn\u2019t UTF-8 text."));
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(largest));
    EXPECT_TRUE(opened(*log).empty());
}

TEST_F(DocumentOpening, PdfsByTheirExtensionInAnyCase)
{
    const auto log = journal();
    model->setLog(log);
    open(pdf(QStringLiteral("Report.PDF"), QStringLiteral("Quarterly figures")));
    EXPECT_TRUE(model->document().contains(QStringLiteral("Quarterly figures")));

    // A scan without a text layer opens empty and counts no characters.
    const QString scan = pdf(QStringLiteral("scan.pdf"), QString());
    open(scan);
    EXPECT_TRUE(model->document().isEmpty());
    const auto records = opened(*log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records.back().value(QStringLiteral("characters")), QStringLiteral("0"));
    EXPECT_EQ(records.back().value(QStringLiteral("path")), scan);

    model->setMessage(QString());
    open(write(QStringLiteral("fake.pdf"), "just text"));
    EXPECT_EQ(model->message(), QStringLiteral("This PDF could not be opened."));
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(scan));
}

TEST_F(DocumentOpening, WithoutAJournalOrWithACancelledPanel)
{
    const QString notes = write(QStringLiteral("notes.md"), "# Notes\n\u00e9t\u00e9\n");
    open(notes);
    EXPECT_EQ(model->document(), QStringLiteral("# Notes\n\u00e9t\u00e9\n"));
    model->setMessage(QStringLiteral("(status before)"));
    awaitFor(model->openDocument());
    EXPECT_EQ(panels->documentRequests, 2);
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(notes));
    EXPECT_EQ(model->message(), QStringLiteral("(status before)"));
}

// Reads run off the main thread, so two openings can overlap: the one chosen last is shown,
// whichever read ends first.
TEST_F(DocumentOpening, TheLastChosenDocumentWins)
{
    const QString large = write(QStringLiteral("large.txt"), QByteArray(9000000, 'a'));
    const QString small = write(QStringLiteral("small.txt"), "small\n");
    panels->documents = {QUrl::fromLocalFile(large), QUrl::fromLocalFile(small)};
    const auto first = start(model->openDocument());
    const auto second = start(model->openDocument());
    ASSERT_TRUE(waitUntil([&] { return first->done && second->done; }, std::chrono::seconds(30)));
    EXPECT_EQ(model->documentURL(), QUrl::fromLocalFile(small));
    EXPECT_EQ(model->document(), QStringLiteral("small\n"));
}
} // namespace
