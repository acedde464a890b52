#pragma once

#include "core/async/SerialExecutor.h"
#include "project/VerificationChildGroup.h"

#include <QCoroTask>
#include <QString>

// The actor that runs the agents' project tools on one project root. Its state is touched only on its
// own serial executor; the main thread awaits its operations.
class NativeProjectHands
{
public:
    // `root` is resolved (links followed, standardised) and kept as the project root.
    explicit NativeProjectHands(const QString &root);

    const QString &root() const { return m_root; }
    // Forgets the turn's baselines of changed files and re-arms the verification group.
    QCoro::Task<void> beginTurn();

    VerificationChildGroup verificationGroup;

private:
    QString m_root;
    SerialExecutor m_executor;
};
