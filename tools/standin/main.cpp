// tavrilo-standin: the stand-in platform for tests and demos. See README.md.

#include "standin/EventLog.h"
#include "standin/ProxyServer.h"
#include "standin/ServiceRegistry.h"
#include "standin/Services.h"
#include "standin/SignalBridge.h"
#include "standin/TestAuthority.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>

#include <csignal>
#include <cstdio>

namespace
{
struct Options
{
    QString stateDir;
    QString scenarioPath;
    quint16 port = 0;
};

int usage(const char *why)
{
    std::fprintf(stderr, "tavrilo-standin: %s\nusage: tavrilo-standin [--state-dir DIR] [--scenario FILE] [--port N]\n",
                 why);
    return 2;
}

QString defaultStateDir()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tavrilo-standin");
}

int fail(const QString &why)
{
    std::fprintf(stderr, "tavrilo-standin: %s\n", qPrintable(why));
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    Options options;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (i + 1 >= args.size())
            return usage("every option takes a value");
        const QString value = args[++i];
        if (arg == QLatin1StringView("--state-dir")) {
            options.stateDir = value;
        } else if (arg == QLatin1StringView("--scenario")) {
            options.scenarioPath = value;
        } else if (arg == QLatin1StringView("--port")) {
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (!ok || port > 65535)
                return usage("--port takes a number from 0 to 65535");
            options.port = quint16(port);
        } else {
            return usage("unknown option");
        }
    }
    if (options.stateDir.isEmpty())
        options.stateDir = defaultStateDir();
    options.stateDir = QDir(options.stateDir).absolutePath();
    if (!QDir().mkpath(options.stateDir))
        return fail(QStringLiteral("cannot create the state folder %1").arg(options.stateDir));
    QFile::setPermissions(options.stateDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QString error;
    auto authority = TestAuthority::open(options.stateDir, &error);
    if (!authority)
        return fail(error);

    // Each run starts its log afresh: indices begin at 0.
    QFile::remove(QDir(options.stateDir).filePath(QStringLiteral("log.jsonl")));
    EventLog log(QDir(options.stateDir).filePath(QStringLiteral("log.jsonl")));
    ServiceRegistry registry;
    registerServices(registry);
    ProxyServer server(*authority, registry, log);

    if (!options.scenarioPath.isEmpty()) {
        QFile file(options.scenarioPath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read the scenario %1").arg(options.scenarioPath));
        const auto document = json::tryParse(file.readAll());
        if (!document)
            return fail(QStringLiteral("the scenario %1 is not JSON").arg(options.scenarioPath));
        if (!server.setScenario(*document, "file", &error))
            return fail(QStringLiteral("the scenario %1 is invalid: %2").arg(options.scenarioPath, error));
    }

    if (!server.listen(QHostAddress::LocalHost, options.port))
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(options.port).arg(server.errorString()));
    log.append({{"kind", "start"}, {"port", server.serverPort()}});

    SignalBridge termination;
    QObject::connect(&termination, &SignalBridge::terminationRequested, &app, &QCoreApplication::quit);

    std::printf("tavrilo-standin ready port=%u ca=%s\n", unsigned(server.serverPort()),
                qPrintable(authority->certificatePath()));
    std::fflush(stdout);

    const int status = app.exec();
    server.shutdown();
    log.append({{"kind", "stop"}});
    return status;
}
