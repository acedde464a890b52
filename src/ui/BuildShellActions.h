#pragma once

#include "ui/ModelActions.h"

#include <QCoroTask>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>

// A line typed into the build shell: taken from the field at once (the field empties before
// anything is sent), sent with one line feed, and on failure reported and put back into the field,
// unless the user has typed something new there meanwhile.
namespace shellinput
{
struct Field
{
    std::function<QString()> text;
    std::function<void(const QString &)> setText;
};
using Sender = std::function<QCoro::Task<void>(QString)>;
using Reporter = std::function<void(const QString &)>;

// Empties the field and returns the task that sends what it held.
QCoro::Task<void> send(Field field, Sender sender, Reporter report);
} // namespace shellinput

// The build shell panel's actions that run as tasks: `BuildShellActions { model: root.model;
// viewState: root.viewState }`, then `actions.send()` and `actions.close()`.
class BuildShellActions : public ModelActions
{
    Q_OBJECT
    QML_ELEMENT

public:
    using ModelActions::ModelActions;

    // Sends the view's typed line with a line feed; a failure goes to the status line and the line
    // back into the field.
    Q_INVOKABLE void send();
    // Closes the shell; a failure goes to the status line.
    Q_INVOKABLE void close();

    // Replaces the shell's send (for tests without a shell).
    void setSender(shellinput::Sender sender) { m_sender = std::move(sender); }

private:
    shellinput::Sender m_sender;
};
