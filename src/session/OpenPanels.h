#pragma once

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

// The modal choosers of folders and documents that the session model asks the user through. The
// window shows them with Qt Quick Dialogs; tests answer them. Each ends with the chosen item's file
// URL, or none when the user cancels.
class OpenPanels
{
public:
    virtual ~OpenPanels() = default;

    // One existing folder (files cannot be chosen); `message` is shown above the choice when it is
    // not empty.
    virtual QCoro::Task<std::optional<QUrl>> chooseFolder(QString message) = 0;
    // One file of the kinds a working document may be: PDF, plain text or source code.
    virtual QCoro::Task<std::optional<QUrl>> chooseDocument() = 0;
};
