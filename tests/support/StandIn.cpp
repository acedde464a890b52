#include "support/StandIn.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

#include <stdexcept>

namespace
{
constexpr int kStartMs = 15'000; // the first start makes a key pair and a certificate
constexpr int kRequestMs = 5'000;
constexpr int kStopMs = 5'000;

[[noreturn]] void failWith(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}
} // namespace

StandIn::StandIn(std::optional<Json> scenario)
{
    if (!m_stateDir.isValid())
        failWith(QStringLiteral("StandIn: no temporary state folder"));
    QStringList arguments{QStringLiteral("--state-dir"), m_stateDir.path(), QStringLiteral("--port"),
                          QStringLiteral("0")};
    if (scenario) {
        const QString path = m_stateDir.filePath(QStringLiteral("start-scenario.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(json::dump(*scenario)) < 0)
            failWith(QStringLiteral("StandIn: cannot write the start scenario"));
        file.close();
        arguments << QStringLiteral("--scenario") << path;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-standin"), arguments);
    if (!m_process.waitForStarted(kStartMs))
        failWith(QStringLiteral("StandIn: cannot start tavrilo-standin: ") + m_process.errorString());

    static const QRegularExpression ready(QStringLiteral("^tavrilo-standin ready port=(\\d+) ca=(.+)$"));
    QDeadlineTimer deadline(kStartMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running)
            failWith(QStringLiteral("StandIn: tavrilo-standin ended before it was ready"));
        if (deadline.hasExpired())
            failWith(QStringLiteral("StandIn: tavrilo-standin was not ready in time"));
        m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const auto match = ready.match(line);
    if (!match.hasMatch())
        failWith(QStringLiteral("StandIn: unexpected first line: ") + line);
    m_port = quint16(match.captured(1).toUInt());
    m_caPath = match.captured(2);
}

StandIn::~StandIn()
{
    if (m_process.state() != QProcess::NotRunning)
        stop();
}

QUrl StandIn::proxyUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

QNetworkProxy StandIn::proxy() const
{
    return QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), m_port);
}

StandIn::ControlReply StandIn::control(const QByteArray &method, const QByteArray &target, const QByteArray &body) const
{
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    if (!socket.waitForConnected(kRequestMs))
        failWith(QStringLiteral("StandIn: cannot reach the control channel: ") + socket.errorString());
    socket.write(method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray received;
    QDeadlineTimer deadline(kRequestMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        received += socket.readAll();
    }
    received += socket.readAll();
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.1 ") || headEnd < 0)
        failWith(QStringLiteral("StandIn: no answer on the control channel"));
    return {received.mid(9, 3).toInt(), received.mid(headEnd + 4)};
}

void StandIn::setScenario(const Json &scenario) const
{
    const ControlReply reply = control("POST", "/_standin/scenario", json::dump(scenario));
    if (reply.status != 200)
        failWith(QStringLiteral("StandIn: scenario refused: ") + QString::fromUtf8(reply.body));
}

StandIn::LogPage StandIn::logEntries(qint64 from) const
{
    const ControlReply reply = control("GET", "/_standin/log?from=" + QByteArray::number(from));
    const auto page = json::tryParse(reply.body);
    if (reply.status != 200 || !page || !page->is_object() || !json::integer(*page, "next"))
        failWith(QStringLiteral("StandIn: unreadable log: ") + QString::fromUtf8(reply.body));
    LogPage result;
    result.next = *json::integer(*page, "next");
    for (const auto &entry : (*page)["entries"])
        result.entries.push_back(entry);
    return result;
}

std::optional<Json> StandIn::waitForEntry(qint64 from, const std::function<bool(const Json &)> &predicate,
                                          std::chrono::milliseconds timeout) const
{
    QDeadlineTimer deadline(timeout);
    qint64 cursor = from;
    while (true) {
        // The stand-in answers while this process keeps its own event loop turning, so replies that
        // the test is waiting for still make progress between reads.
        LogPage page = logEntries(cursor);
        for (const auto &entry : page.entries) {
            if (predicate(entry))
                return entry;
        }
        cursor = page.next;
        if (deadline.hasExpired())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void StandIn::applyToEnvironment() const
{
    qputenv("https_proxy", proxyUrl().toString().toUtf8());
    qputenv("SSL_CERT_FILE", m_caPath.toUtf8());
}

int StandIn::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate(); // SIGTERM
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
