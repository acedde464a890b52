#include "standin/ShellConnection.h"

#include "standin/BuildShells.h"
#include "standin/CommandChannel.h"
#include "standin/EventLog.h"
#include "standin/SocketDrop.h"
#include "standin/Scenario.h"
#include "standin/ServiceContext.h"

#include <QAbstractSocket>
#include <QRegularExpression>

namespace
{
constexpr char kInput = 0x00;
constexpr char kOutput = 0x01;
constexpr char kError = 0x02;
constexpr char kStatus = 0x03;
constexpr char kResize = 0x04;
constexpr char kHeartbeat = 0x05;
constexpr char kClose = char(0xFF);

// "$shellId" anywhere as a string value stands for the connection's shell.
Json withShell(Json value, const QString &shellID)
{
    if (value.is_string() && value.get<std::string>() == "$shellId")
        return json::toStd(shellID);
    if (value.is_object() || value.is_array())
        for (auto &member : value)
            member = withShell(member, shellID);
    return value;
}
} // namespace

ShellConnection::ShellConnection(QWebSocket *socket, ServiceContext &context, std::shared_ptr<BuildShells> shells)
    : QObject(socket), m_socket(socket), m_context(context), m_shells(std::move(shells))
{
    socket->setMaxAllowedIncomingMessageSize(quint64(commandchannel::kMaxClientMessageBytes));
    static const QRegularExpression shellPath(QStringLiteral("/shells/([^/]+)$"));
    m_shellID = shellPath.match(socket->requestUrl().path()).captured(1);
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &ShellConnection::playNext);
    connect(socket, &QWebSocket::binaryMessageReceived, this, &ShellConnection::received);
    connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &) {
        log({{"event", "text"}});
        end();
        m_socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported);
    });
    connect(socket, &QWebSocket::disconnected, this, [this] {
        log({{"event", "closed"}, {"code", int(m_socket->closeCode())}});
        end();
        m_socket->deleteLater();
    });

    const auto shell = m_shells->shells.find(m_shellID);
    if (shell == m_shells->shells.end() || shell->released) {
        // The platform knows no such shell: a policy violation.
        log({{"event", "refused"}});
        end();
        m_socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    const int attempt = ++shell->connections;
    const Json view{{"shellId", json::toStd(m_shellID)},
                    {"attempt", attempt},
                    {"host", json::toStd(socket->requestUrl().host())}};
    if (auto step = m_context.scenario.take("commandChannel", "*", view))
        m_step = std::move(*step);
    log({{"event", "open"}, {"attempt", attempt}});
    if (m_step.value("connect", true))
        sendStatus({{"status", "Success"}, {"metadata", {{"shellId", "$shellId"}, {"reconnected", attempt > 1}}}});
    for (const auto &action : m_step.value("send", Json::array()))
        m_actions.push_back(action);
    playNext();
}

ShellConnection::~ShellConnection() = default;

void ShellConnection::log(Json entry)
{
    entry["kind"] = "commandChannel";
    entry["shellId"] = json::toStd(m_shellID);
    m_context.log.append(std::move(entry));
}

void ShellConnection::received(const QByteArray &message)
{
    if (m_ended || message.isEmpty())
        return;
    const QByteArray payload = message.mid(1);
    switch (message[0]) {
    case kInput: {
        log({{"event", "input"}, {"bytes", payload.size()}, {"text", payload.left(200).toStdString()}});
        if (m_step.value("echo", true))
            sendFrame(kOutput, payload);
        // The echo shell's two commands: a harmless printf of two words joined (a capture's proof
        // that the shell runs what it is sent), and exit.
        static const QRegularExpression joinedPrint(QStringLiteral("^printf '%s%s\\\\n' ([!-~]+) ([!-~]+)\\s*$"));
        if (const auto joined = joinedPrint.match(QString::fromUtf8(payload)); joined.hasMatch())
            sendFrame(kOutput, (joined.captured(1) + joined.captured(2) + QStringLiteral("\r\n")).toUtf8());
        static const QRegularExpression exit(QStringLiteral("^exit (-?\\d+)\\s*$"));
        const auto command = exit.match(QString::fromUtf8(payload));
        if (command.hasMatch())
            sendStatus({{"status", "Success"},
                        {"metadata", {{"shellId", "$shellId"}}},
                        {"details", {{"causes", {{{"reason", "ExitCode"}, {"message", json::toStd(command.captured(1))}}}}}}});
        break;
    }
    case kResize: {
        const auto size = json::tryParse(payload);
        const int width = size ? size->value("width", 0) : 0;
        const int height = size ? size->value("height", 0) : 0;
        const auto shell = m_shells->shells.constFind(m_shellID);
        const bool authorised =
            shell != m_shells->shells.constEnd() && shell->authorised.contains(QPair<int, int>(width, height));
        log({{"event", "resize"}, {"width", width}, {"height", height}, {"authorised", authorised},
             {"json", payload.toStdString()}});
        break;
    }
    case kHeartbeat:
        log({{"event", "heartbeat"}});
        sendFrame(kHeartbeat, {});
        break;
    case kClose:
        log({{"event", "close"}});
        end();
        m_socket->close(QWebSocketProtocol::CloseCodeNormal);
        break;
    default:
        log({{"event", "unknown"}, {"channel", int(quint8(message[0]))}});
        break;
    }
}

void ShellConnection::playNext()
{
    while (!m_actions.empty() && !m_ended) {
        Json action = std::move(m_actions.front());
        m_actions.pop_front();
        if (const qint64 delay = action.value("delayMs", qint64(0)); delay > 0) {
            action.erase("delayMs");
            m_actions.push_front(std::move(action));
            m_pace.start(int(delay));
            return;
        }
        if (action.contains("drop")) {
            log({{"event", "drop"}});
            end();
            dropWhenFlushed(m_socket);
            return;
        }
        if (action.contains("close")) {
            log({{"event", "closeCode"}, {"code", action["close"]}});
            end();
            m_socket->close(QWebSocketProtocol::CloseCode(action["close"].get<int>()));
            return;
        }
        const qint64 repeat = action.value("repeat", qint64(1));
        for (qint64 i = 0; i < repeat; ++i) {
            if (action.contains("stdout")) {
                sendFrame(kOutput, QByteArray::fromStdString(action["stdout"].get<std::string>()));
            } else if (action.contains("stderr")) {
                sendFrame(kError, QByteArray::fromStdString(action["stderr"].get<std::string>()));
            } else if (action.contains("frame")) {
                m_socket->sendBinaryMessage(
                    QByteArray::fromBase64(QByteArray::fromStdString(action["frame"].get<std::string>())));
            } else if (action.contains("status")) {
                sendStatus(action["status"]);
            } else if (action.contains("heartbeat")) {
                sendFrame(kHeartbeat, {});
            } else if (action.contains("closeMessage")) {
                sendFrame(kClose, {});
            } else if (action.contains("text")) {
                m_socket->sendTextMessage(json::toQString(action["text"].get<std::string>()));
            } else if (action.contains("size")) {
                const qint64 size = action["size"].get<qint64>();
                QByteArray message(size, 'x');
                message[0] = char(action.value("channel", 1));
                m_socket->sendBinaryMessage(message);
            }
        }
    }
    if (!m_ended)
        log({{"event", "sent"}});
}

void ShellConnection::sendFrame(char channel, const QByteArray &payload)
{
    m_socket->sendBinaryMessage(QByteArray(1, channel) + payload);
}

void ShellConnection::sendStatus(Json status)
{
    sendFrame(kStatus, json::dump(withShell(std::move(status), m_shellID)));
}

void ShellConnection::end()
{
    m_ended = true;
    m_pace.stop();
    m_actions.clear();
}
