#include "ui/Palette.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
struct Colour
{
    const char *name;
    const QColor &(*colour)();
    int red, green, blue;
};

// Each component as a fraction of full intensity, rendered to 8 bits to the nearest integer.
const Colour kColours[] = {
    {"paper", &Palette::paper, 244, 242, 237}, {"card", &Palette::card, 252, 251, 247},
    {"ink", &Palette::ink, 38, 48, 43},        {"muted", &Palette::muted, 99, 110, 99},
    {"green", &Palette::green, 48, 92, 69},    {"line", &Palette::line, 214, 217, 207},
    {"error", &Palette::error, 166, 41, 33},
};

TEST(Palette, SevenOpaqueColoursInEightBitSRGB)
{
    for (const auto &c : kColours) {
        const QColor colour = c.colour();
        EXPECT_EQ(colour.spec(), QColor::Rgb) << c.name;
        EXPECT_EQ(colour.alpha(), 255) << c.name;
        EXPECT_EQ(colour.red(), c.red) << c.name;
        EXPECT_EQ(colour.green(), c.green) << c.name;
        EXPECT_EQ(colour.blue(), c.blue) << c.name;
    }
}

TEST(Palette, QmlSeesTheSameColoursBesideQtQuick)
{
    // QtQuick imported first, as every view file does: its own `Palette` type must not hide ours.
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQuick
        import Tavrilo.Ui
        QtObject {
            readonly property var colours: [HubPalette.paper, HubPalette.card, HubPalette.ink, HubPalette.muted,
                                            HubPalette.green, HubPalette.line, HubPalette.error]
        })",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    ASSERT_TRUE(object) << qPrintable(component.errorString());
    const QVariantList colours = object->property("colours").toList();
    ASSERT_EQ(colours.size(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(colours[i].value<QColor>(), kColours[i].colour()) << kColours[i].name;
}
} // namespace
