#include "project/NativeProjectHands.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString resolvedRoot(const QString &root)
{
    const QString canonical = QFileInfo(root).canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? QFileInfo(root).absoluteFilePath() : canonical);
}

} // namespace

NativeProjectHands::NativeProjectHands(const QString &root)
    : m_root(resolvedRoot(root)), m_executor(QStringLiteral("project-hands"))
{
}

QCoro::Task<void> NativeProjectHands::beginTurn()
{
    auto work = [this] { verificationGroup.rearm(); };
    co_await m_executor.run(work);
}
