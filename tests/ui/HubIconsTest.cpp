#include "ui/IconTheme.h"

#include <QFontDatabase>
#include <QIcon>
#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include <memory>

// The symbol table and the fonts as the views read them: every symbol names an icon the Adwaita
// theme has, and every family is installed (scripts/setup), so no view falls back silently.
namespace
{
QVariant evaluate(QQmlEngine &engine, const QByteArray &expression)
{
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport Tavrilo.Ui\nQtObject { property var value: " + expression + " }",
                      QUrl(QStringLiteral("qrc:/test.qml")));
    EXPECT_TRUE(component.isReady()) << component.errorString().toStdString();
    if (!component.isReady())
        return {};
    std::unique_ptr<QObject> object(component.create());
    return object ? object->property("value") : QVariant();
}

TEST(HubIconsTest, EverySymbolNamesAnAdwaitaIcon)
{
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    useHubIconTheme();
    const QVariantMap table = evaluate(engine, "HubIcons.table").toMap();
    ASSERT_GE(table.size(), 20);
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        EXPECT_TRUE(QIcon::hasThemeIcon(it.value().toString()))
            << it.key().toStdString() << " -> " << it.value().toString().toStdString();
    EXPECT_EQ(evaluate(engine, "HubIcons.name(\"folder\")").toString(), QStringLiteral("folder-symbolic"));
    EXPECT_EQ(evaluate(engine, "HubIcons.name(\"no.such.symbol\")").toString(),
              QStringLiteral("image-missing-symbolic"));
}

TEST(HubFontsTest, EveryFamilyIsInstalled)
{
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    const QStringList installed = QFontDatabase::families();
    for (const char *family : {"defaultFamily", "serifFamily", "monospacedFamily", "roundedFamily"}) {
        const QString name = evaluate(engine, QByteArray("HubFonts.") + family).toString();
        EXPECT_TRUE(installed.contains(name)) << family << " " << name.toStdString();
    }
}
} // namespace
