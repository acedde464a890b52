#include "support/TestSupport.h"
#include "ui/PdfFile.h"

#include <QPainter>
#include <QPdfWriter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

using testsupport::waitUntil;

namespace
{
void writePdf(const QString &path, int pages)
{
    QPdfWriter writer(path);
    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.drawText(100, 100, QStringLiteral("page %1").arg(page + 1));
    }
}

// The same address again keeps the document (and with it the scroll position and zoom); another
// address replaces it.
TEST(PdfDocumentView, ReloadsOnlyWhenTheAddressChanges)
{
    QTemporaryDir folder;
    const QString one = folder.filePath(QStringLiteral("one.pdf"));
    const QString two = folder.filePath(QStringLiteral("two.pdf"));
    writePdf(one, 1);
    writePdf(two, 2);

    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    // Counts the document's loads: each goes through a change of its status.
    component.setData(R"(
        import QtQuick
        import Tavrilo.Ui
        NativePDFDocument {
            id: view
            width: 300; height: 400
            property int loads: 0
            Connections { target: view.pdf; function onLoaded() { view.loads += 1 } }
        })",
                      QUrl());
    ASSERT_TRUE(component.isReady()) << qPrintable(component.errorString());
    std::unique_ptr<QObject> view(
        component.createWithInitialProperties({{QStringLiteral("url"), QUrl::fromLocalFile(one)}}));
    ASSERT_TRUE(view) << qPrintable(component.errorString());
    auto *pdf = view->property("pdf").value<QObject *>();
    ASSERT_TRUE(pdf);
    ASSERT_TRUE(waitUntil([&] { return pdf->property("pageCount").toInt() == 1; }));

    const int loads = view->property("loads").toInt();

    view->setProperty("url", QUrl::fromLocalFile(one));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->property("loads").toInt(), loads);

    view->setProperty("url", QUrl::fromLocalFile(two));
    ASSERT_TRUE(waitUntil([&] { return pdf->property("pageCount").toInt() == 2; }));
    EXPECT_EQ(view->property("loads").toInt(), loads + 1);
    auto *file = qobject_cast<PdfFile *>(pdf);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->render(1, QSize(60, 80)).isNull());

    // A file that cannot be opened shows nothing.
    view->setProperty("url", QUrl::fromLocalFile(folder.filePath(QStringLiteral("missing.pdf"))));
    EXPECT_EQ(pdf->property("pageCount").toInt(), 0);
    EXPECT_EQ(view->property("loads").toInt(), loads + 2);
}
} // namespace
