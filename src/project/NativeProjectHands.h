#pragma once

#include "core/async/CancelToken.h"
#include "core/async/SerialExecutor.h"
#include "project/ProjectFileTools.h"
#include "project/VerificationChildGroup.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <memory>

// The actor that runs the agents' project tools on one project root. Its state is touched only on its
// own serial executor; the main thread awaits its operations. A call that is running when the actor
// is destroyed still ends normally: its children are stopped and its state lives until it returns.
class NativeProjectHands
{
public:
    struct State;

private:
    // First: `verificationGroup` refers into it.
    std::shared_ptr<State> m_state;

public:
    using Original = ProjectOriginal;

    // The answer to one project call.
    struct Answer
    {
        // "success" or "error".
        QString status;
        // The text shown to the agent.
        QString result;
        // The project paths the call wrote, as the agent named them.
        QStringList changed;
    };

    // `root` is resolved (links followed, standardised) and kept as the project root.
    explicit NativeProjectHands(const QString &root);
    ~NativeProjectHands();
    NativeProjectHands(const NativeProjectHands &) = delete;
    NativeProjectHands &operator=(const NativeProjectHands &) = delete;

    // The byte cap of a file that is read and of the text that a write tool writes.
    static constexpr qint64 maximum = projectfiles::kMaximum;

    const QString &root() const;
    // Forgets the turn's baselines of changed files and re-arms the verification group.
    QCoro::Task<void> beginTurn();

    // Runs one project call: `encoded` is the call's JSON payload, `agent` the id of the agent whose
    // frame carried it. Never fails: every refusal and error is an answer with status "error".
    // Cancelling `token` stops a build verification or a search that is running for the call.
    QCoro::Task<Answer> execute(QByteArray encoded, QString agent, CancelToken token = {});

    // The baselines of the files changed in this turn, keyed by project-relative path.
    QCoro::Task<ProjectOriginals> originals();

    // Shared with the actor's state: session close cancels it from the main thread.
    VerificationChildGroup &verificationGroup;

private:
    SerialExecutor m_executor;
};
