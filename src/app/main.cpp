#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/TavriloRoleContract.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
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
