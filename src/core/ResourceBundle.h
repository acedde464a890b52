#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The folders of resources installed with the executable. Each module's resources live in a folder
// named "<Module>_<Module>.bundle", looked for in the install tree's resource folder
// (<exe>/../share/tavrilo-hub) and then beside the executable.
class ResourceBundle
{
public:
    enum class Module { TavriloHub, TavriloRoleContract };

    // The bundle of `module`, located once per process. A missing bundle is an installation
    // fault: the process stops with "unable to find bundle named <Module>_<Module>".
    static const ResourceBundle &of(Module module);

    // The first candidate folder holding `bundleName` as a directory, if any.
    static std::optional<QString> locate(const QString &bundleName, const QStringList &candidates);
    static QString bundleName(Module module);
    static QStringList defaultCandidates();

    explicit ResourceBundle(QString path) : m_path(std::move(path)) {}

    const QString &path() const { return m_path; }
    // The resource's path when the bundle holds it as a file.
    std::optional<QString> resource(const QString &name, const QString &extension) const;

private:
    QString m_path;
};
