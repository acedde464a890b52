#include "platform/WebEngineAuthSession.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>

// The sign-in window needs a QApplication and the callback scheme registered before it exists.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    WebEngineAuthSession::prepare({QByteArrayLiteral("tavrilo-code")});
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
