#include "support/TestSupport.h"
#include "ui/QuickOpenPanels.h"

#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

using testsupport::awaitFor;
using testsupport::waitUntil;
using testsupport::writeFile;

namespace
{
enum class Chooser { Folder, Document };

const char *dialogClass(Chooser chooser)
{
    return chooser == Chooser::Folder ? "QQuickFolderDialog" : "QQuickFileDialog";
}

// The dialog Qt Quick Dialogs shows in the window for one of ours.
const char *builtInClass(Chooser chooser)
{
    return chooser == Chooser::Folder ? "QQuickFolderDialogImpl" : "QQuickFileDialogImpl";
}

const char *chosenProperty(Chooser chooser)
{
    return chooser == Chooser::Folder ? "selectedFolder" : "selectedFile";
}

// Panels over an off-screen window, where Qt Quick Dialogs shows its own dialogs inside the window.
class OpenPanelsTest : public ::testing::Test
{
protected:
    OpenPanelsTest()
    {
        m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        m_window = std::make_unique<QQuickWindow>();
        m_window->resize(800, 600);
        m_window->show();
        m_panels = std::make_unique<QuickOpenPanels>(&m_engine);
        m_panels->setWindow(m_window.get());
        writeFile(m_folder.filePath(QStringLiteral("notes.txt")), "notes\n");
    }

    QCoro::Task<std::optional<QUrl>> choose(Chooser chooser, const QString &message = {})
    {
        return chooser == Chooser::Folder ? m_panels->chooseFolder(message) : m_panels->chooseDocument();
    }

    QUrl item(Chooser chooser) const
    {
        return QUrl::fromLocalFile(chooser == Chooser::Folder ? m_folder.path()
                                                              : m_folder.filePath(QStringLiteral("notes.txt")));
    }

    // The dialogs of `chooser` in the window.
    QList<QObject *> dialogs(Chooser chooser) const
    {
        QList<QObject *> found;
        if (m_window)
            for (QObject *child : m_window->findChildren<QObject *>())
                if (child->inherits(dialogClass(chooser)))
                    found << child;
        return found;
    }

    QObject *openDialog(Chooser chooser) const
    {
        const QList<QObject *> found = dialogs(chooser);
        return found.size() == 1 && found.front()->property("visible").toBool() ? found.front() : nullptr;
    }

    // Selects the test's folder or file in the shown dialog, as a click on its entry does.
    bool pick(Chooser chooser) const
    {
        for (QObject *shown : m_window->findChildren<QObject *>())
            if (shown->inherits(builtInClass(chooser)) && shown->property("visible").toBool())
                return shown->setProperty(chosenProperty(chooser), item(chooser));
        return false;
    }

    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QuickOpenPanels> m_panels;
    QTemporaryDir m_folder;
};

// How a choice ends: the user's answer, the loss of the dialog (with the panels or with the window)
// while the choice waits, or both, the answer coming just before the loss and before the waiter
// could resume.
enum class Ending { Accept, Reject, Close, PanelsGo, WindowGoes, AcceptThenPanelsGo, AcceptThenWindowGoes };

struct EndingCase
{
    const char *name;
    Chooser chooser;
    QString message;
    Ending ending;
    // Ends with the picked item, else as cancelled.
    bool chosen;
};

void PrintTo(const EndingCase &c, std::ostream *os)
{
    *os << c.name;
}

class OpenPanelsEnding : public OpenPanelsTest, public ::testing::WithParamInterface<EndingCase>
{
};

// The dialog shows the message it was given; the choice ends with the user's answer, or as
// cancelled when the dialog is destroyed before; the dialog is gone once the choice has ended.
TEST_P(OpenPanelsEnding, EndsWithTheAnswerOrAsCancelled)
{
    const EndingCase &c = GetParam();
    QCoro::Task<std::optional<QUrl>> choice = choose(c.chooser, c.message);
    QPointer<QObject> dialog = openDialog(c.chooser);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->property("title").toString(), c.message);
    ASSERT_TRUE(pick(c.chooser));
    switch (c.ending) {
    case Ending::Accept:
        QMetaObject::invokeMethod(dialog, "accept");
        break;
    case Ending::Reject:
        QMetaObject::invokeMethod(dialog, "reject");
        break;
    case Ending::Close:
        QMetaObject::invokeMethod(dialog, "close");
        break;
    case Ending::PanelsGo:
        m_panels.reset();
        break;
    case Ending::WindowGoes:
        m_window.reset();
        break;
    case Ending::AcceptThenPanelsGo:
        QMetaObject::invokeMethod(dialog, "accept");
        m_panels.reset();
        break;
    case Ending::AcceptThenWindowGoes:
        QMetaObject::invokeMethod(dialog, "accept");
        m_window.reset();
        break;
    }
    const std::optional<QUrl> chosen = awaitFor(std::move(choice));
    const std::optional<QUrl> expected = c.chosen ? std::optional(item(c.chooser)) : std::nullopt;
    EXPECT_EQ(chosen, expected);
    EXPECT_TRUE(waitUntil([&] { return dialog.isNull(); }));
}

const QString kParentPrompt = QStringLiteral("Choose the parent folder for this repository checkout.");

INSTANTIATE_TEST_SUITE_P(
    Choices, OpenPanelsEnding,
    ::testing::Values(EndingCase{"FolderAccepted", Chooser::Folder, kParentPrompt, Ending::Accept, true},
                      EndingCase{"FolderWithoutMessageAccepted", Chooser::Folder, QString(), Ending::Accept, true},
                      EndingCase{"FolderRejected", Chooser::Folder, kParentPrompt, Ending::Reject, false},
                      EndingCase{"FolderClosed", Chooser::Folder, QString(), Ending::Close, false},
                      EndingCase{"FolderWithThePanels", Chooser::Folder, QString(), Ending::PanelsGo, false},
                      EndingCase{"FolderWithTheWindow", Chooser::Folder, kParentPrompt, Ending::WindowGoes, false},
                      EndingCase{"FolderAcceptedThenThePanelsGo", Chooser::Folder, QString(),
                                 Ending::AcceptThenPanelsGo, true},
                      EndingCase{"DocumentAccepted", Chooser::Document, QString(), Ending::Accept, true},
                      EndingCase{"DocumentRejected", Chooser::Document, QString(), Ending::Reject, false},
                      EndingCase{"DocumentClosed", Chooser::Document, QString(), Ending::Close, false},
                      EndingCase{"DocumentWithThePanels", Chooser::Document, QString(), Ending::PanelsGo, false},
                      EndingCase{"DocumentWithTheWindow", Chooser::Document, QString(), Ending::WindowGoes, false},
                      EndingCase{"DocumentAcceptedThenTheWindowGoes", Chooser::Document, QString(),
                                 Ending::AcceptThenWindowGoes, true}),
    [](const auto &info) { return std::string(info.param.name); });

// The document dialog starts out showing every kind a working document may be, whatever the case of
// the name's extension, and nothing else.
TEST_F(OpenPanelsTest, DocumentDialogShowsTheDocumentKinds)
{
    QCoro::Task<std::optional<QUrl>> choice = m_panels->chooseDocument();
    QObject *dialog = openDialog(Chooser::Document);
    ASSERT_TRUE(dialog);
    auto *filter = dialog->property("selectedNameFilter").value<QObject *>();
    ASSERT_TRUE(filter);
    const QStringList globs = filter->property("globs").toStringList();
    const auto shown = [&](const QString &name) {
        return std::any_of(globs.cbegin(), globs.cend(), [&](const QString &glob) {
            return QRegularExpression::fromWildcard(glob, Qt::CaseSensitive).match(name).hasMatch();
        });
    };
    for (const char *name : {"paper.pdf", "SCAN.PDF", "notes.txt", "README.md", "main.cpp", "App.swift", "tool.py",
                             "build.sh", "LIST.TXT"})
        EXPECT_TRUE(shown(QString::fromLatin1(name))) << name;
    for (const char *name : {"photo.png", "archive.zip", "report.docx", "pdf", "notes.txt.bak"})
        EXPECT_FALSE(shown(QString::fromLatin1(name))) << name;

    QMetaObject::invokeMethod(dialog, "reject");
    EXPECT_EQ(awaitFor(std::move(choice)), std::nullopt);
}

// Without a window no dialog can be shown, and the choice ends at once instead of waiting forever.
TEST_F(OpenPanelsTest, WithoutAWindowEndsAsCancelled)
{
    m_window.reset();
    EXPECT_EQ(awaitFor(m_panels->chooseFolder(QString())), std::nullopt);
    EXPECT_EQ(awaitFor(m_panels->chooseDocument()), std::nullopt);
}

// A choice nobody waits for any more still ends, and its dialog goes with it.
TEST_F(OpenPanelsTest, AbandonedChoiceStillClosesItsDialog)
{
    {
        QCoro::Task<std::optional<QUrl>> choice = m_panels->chooseFolder(QString());
        ASSERT_TRUE(openDialog(Chooser::Folder));
    }
    QMetaObject::invokeMethod(openDialog(Chooser::Folder), "reject");
    EXPECT_TRUE(waitUntil([&] { return dialogs(Chooser::Folder).isEmpty(); }));
}
} // namespace
