#include "cloud/CognitoLogin.h"
#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "platform/SecretServiceKeyring.h"
#include "platform/WebAuthSession.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

// A second hub process: renews silently from the keyring, with the configuration of its environment.
// Prints "renewed" and exits 0, prints "none" and exits 3 when no sign-in is stored, or prints the
// failure's sentence on standard error and exits 1.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Renewal only: no sign-in window.
    CognitoLogin login(
        std::make_shared<SecretServiceKeyring>(), [] { return std::unique_ptr<WebAuthSession>(); },
        HubNetwork::shared().session());
    int status = 1;
    auto run = [&]() -> QCoro::Task<void> {
        try {
            const HubConfiguration configuration(HubConfiguration::configuredEnvironment());
            const auto tokens = co_await login.restore(configuration);
            if (tokens && tokens->identityToken) {
                std::fputs("renewed\n", stdout);
                status = 0;
            } else {
                std::fputs("none\n", stdout);
                status = 3;
            }
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s\n", qPrintable(errorDescription(error)));
        }
        app.quit();
    };
    QTimer::singleShot(0, &app, [&] { run(); });
    QTimer::singleShot(60000, &app, [&] { app.quit(); });
    app.exec();
    return status;
}
