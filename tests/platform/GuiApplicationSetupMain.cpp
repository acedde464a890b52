#include "platform/GuiApplicationSetup.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

// The process is prepared exactly as the application prepares it, then gets its application object.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    GuiApplicationSetup::prepare({QByteArrayLiteral("tavrilo-code")});
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
