#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <QCoroTask>

class HubModel;

// The model's operations as the window calls them: each returns at once, the operation runs on as
// the model's task (kept until it ends, its failure written to the status line), and what it
// decides shows in the model's properties. Arguments are what QML has: ids, texts and a map of a
// form's values. A guard that must know when a close is over waits for `sessionCloseEnded`.
class HubActions : public QObject
{
    Q_OBJECT

public:
    explicit HubActions(HubModel *model);

    // Sign-in and workspace.
    Q_INVOKABLE void signIn();
    Q_INVOKABLE void selectWorkspace(const QString &tenantId);

    // Profile and project.
    Q_INVOKABLE void selectExistingProfile();
    Q_INVOKABLE void returnToProfiles();
    Q_INVOKABLE void chooseProject();
    Q_INVOKABLE void selectRecentProject(const QString &directory);
    Q_INVOKABLE void openRepository(const QString &address, const QString &ref);
    Q_INVOKABLE void openDocument();
    // `path` is the project-relative path to select, or undefined for the list alone.
    Q_INVOKABLE void refreshChanges(const QVariant &path);
    Q_INVOKABLE void refreshLedger();

    // The turn and its run controls.
    Q_INVOKABLE void execute();
    Q_INVOKABLE void interrupt();
    Q_INVOKABLE void skipActiveStep();
    Q_INVOKABLE void pause();
    Q_INVOKABLE void resume();
    // Ends with `interjectionEnded`, whatever its outcome.
    Q_INVOKABLE void interject(const QString &text);
    // "customer" takes the live browser, "agent" hands it back.
    Q_INVOKABLE void setBrowserHolder(const QString &holder);
    Q_INVOKABLE void stop();
    // The approval card with `approvalID` as the window shows it, answered "approved" or "declined".
    Q_INVOKABLE void answerApproval(const QString &approvalID, const QString &decision);
    // The input request `requestID` answered "accept" or "decline" with the form's values by field
    // name (texts, numbers and truth values as the form holds them).
    Q_INVOKABLE void replyElicitation(const QString &requestID, const QString &action, const QVariantMap &content);

    // The workspace tools.
    Q_INVOKABLE void openWorkspaceBrowser();
    Q_INVOKABLE void openWorkspaceShell();

    // Closes the session the model owns; `sessionCloseEnded` tells how it ended.
    Q_INVOKABLE void closeSession();

Q_SIGNALS:
    // A close asked for through `closeSession` ended: `closed` when the quit, close or stop may go on.
    void sessionCloseEnded(bool closed);
    // An interjection sent through `interject` has ended (its outcome is in the status line).
    void interjectionEnded();

private:
    void spawnOnModel(QCoro::Task<void> task);
    QCoro::Task<void> closing();
    QCoro::Task<void> interjecting(QString text);

    QPointer<HubModel> m_model;
};
