#include "project/NativeProjectHands.h"

#include "project/ProjectCall.h"

#include <QDir>
#include <QFileInfo>

namespace
{
QString resolvedRoot(const QString &root)
{
    const QString canonical = QFileInfo(root).canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? QFileInfo(root).absoluteFilePath() : canonical);
}
} // namespace

NativeProjectHands::NativeProjectHands(const QString &root)
    : m_state(std::make_shared<State>(resolvedRoot(root))), verificationGroup(m_state->verificationGroup),
      m_executor(QStringLiteral("project-hands"))
{}

NativeProjectHands::~NativeProjectHands()
{
    // The executor finishes the work already queued before it goes; stopping the children first
    // keeps that short.
    m_state->close();
}

const QString &NativeProjectHands::root() const
{
    return m_state->root.path();
}

QCoro::Task<void> NativeProjectHands::beginTurn()
{
    auto work = [state = m_state] {
        state->originals.clear();
        state->verificationGroup.rearm();
    };
    co_await m_executor.run(std::move(work));
}

QCoro::Task<ProjectOriginals> NativeProjectHands::originals()
{
    auto work = [state = m_state] { return state->originals; };
    co_return co_await m_executor.run(std::move(work));
}

QCoro::Task<NativeProjectHands::Answer> NativeProjectHands::execute(QByteArray encoded, QString agent,
                                                                    CancelToken token)
{
    auto work = [state = m_state, encoded, agent, token] {
        return projectcall::dispatch(*state, encoded, agent, token);
    };
    projectcall::Routed routed = co_await m_executor.run(std::move(work));
    // Nothing of `this` is touched from here on: the actor may be gone.
    co_return co_await projectcall::finish(std::move(routed), token);
}
