#include "ui/IconTheme.h"

#include <QIcon>
#include <QStandardPaths>

void useHubIconTheme()
{
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = data + QStringLiteral("/icons");
        if (!paths.contains(icons))
            paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
}
