#include "core/ResourceBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <mutex>

QString ResourceBundle::bundleName(Module module)
{
    const QString name =
        module == Module::TavriloHub ? QStringLiteral("TavriloHub") : QStringLiteral("TavriloRoleContract");
    return name + u'_' + name + QStringLiteral(".bundle");
}

QStringList ResourceBundle::defaultCandidates()
{
    // /proc/self/exe works before (and without) a QCoreApplication.
    const QString exeDir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    return {QDir::cleanPath(exeDir + QStringLiteral("/../share/tavrilo-hub")), exeDir};
}

std::optional<QString> ResourceBundle::locate(const QString &bundleName, const QStringList &candidates)
{
    for (const auto &folder : candidates) {
        const QString path = QDir(folder).filePath(bundleName);
        if (QFileInfo(path).isDir())
            return path;
    }
    return std::nullopt;
}

const ResourceBundle &ResourceBundle::of(Module module)
{
    static std::once_flag once[2];
    static std::optional<ResourceBundle> bundles[2];
    const int index = module == Module::TavriloHub ? 0 : 1;
    std::call_once(once[index], [&] {
        const QString name = bundleName(module);
        const auto path = locate(name, defaultCandidates());
        if (!path) {
            const QByteArray line = "unable to find bundle named " + name.chopped(7).toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        }
        bundles[index].emplace(*path);
    });
    return *bundles[index];
}

std::optional<QString> ResourceBundle::resource(const QString &name, const QString &extension) const
{
    const QString path = QDir(m_path).filePath(name + u'.' + extension);
    if (QFileInfo(path).isFile())
        return path;
    return std::nullopt;
}
