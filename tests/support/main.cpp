#include <QGuiApplication>

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char **argv)
{
    // Tests never need a display: windows, when any, render off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
