#include "app/HubApplication.h"
#include "cloud/CognitoLogin.h"
#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "headless/HubEntry.h"
#include "platform/ChildProcess.h"
#include "platform/GuiApplicationSetup.h"
#include "vision/NativeVisionCore.h"

#include <QGuiApplication>

namespace
{
// The schemes the sign-in window must catch; the browser engine learns them once, before the
// application object exists. A configuration that does not hold is reported once the hub runs.
QByteArrayList callbackSchemes()
{
    QByteArrayList schemes{QUrl(QString(CognitoLogin::desktopCallbackURL)).scheme().toUtf8()};
    try {
        const HubConfiguration configuration(HubConfiguration::configuredEnvironment());
        if (const std::optional<QUrl> callback = CognitoLogin::expectedCallback(configuration.redirectURI))
            schemes << callback->scheme().toUtf8();
    } catch (const HubError &) {
    }
    return schemes;
}
} // namespace

int main(int argc, char **argv)
{
    // The vision command wins over every other mode and runs before any application object exists.
    const HubEntry::Mode mode = HubEntry::mode(argc, argv);
    if (mode == HubEntry::Mode::Vision)
        return NativeVisionCore::runCLI(argc, argv);
    // A child or a peer that goes away while the hub writes to it is an error to handle where it
    // happens, never a reason for the whole hub to end.
    ChildProcess::ignoreBrokenPipes();
    if (mode == HubEntry::Mode::Export)
        return HubEntry::runExport(argc, argv);
    // One application object for the window, the browser engine and off-screen rendering, made in
    // the order docs/ARCHITECTURE.md gives.
    GuiApplicationSetup::prepare(callbackSchemes());
    QGuiApplication app(argc, argv);
    // No command-line mode selected: the workspace window.
    return HubApplication::run(app);
}
