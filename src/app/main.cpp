#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/TavriloRoleContract.h"
#include "vision/NativeVisionCore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // The vision command wins over every other mode and runs before any application object exists.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--vision-analyze") == 0) {
            QStringList arguments;
            for (int k = 0; k < argc; ++k)
                arguments.append(QString::fromLocal8Bit(argv[k]));
            return NativeVisionCore::runCLI(argc, argv);
        }
    }
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    try {
        const HubConfiguration configuration(HubConfiguration::configuredEnvironment());
        const QStringList &roles = TavriloRoleContract::roles();
        out << "Tavrilo hub: application " << configuration.appID << ", workspace root " << configuration.root
            << ", platform " << configuration.graphQLEndpoint->toString() << ", sign-in "
            << configuration.authDomain.toString() << ", " << roles.size() << " roles ("
            << roles.join(QStringLiteral(", ")) << ")." << Qt::endl;
        return 0;
    } catch (const HubError &error) {
        err << error.description() << Qt::endl;
        return 1;
    }
}
