#include "platform/GuiApplicationSetup.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <csignal>

// The sign-in window needs the process prepared the way the application prepares it, before the
// application object exists.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    GuiApplicationSetup::prepare({QByteArrayLiteral("tavrilo-code")});
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
