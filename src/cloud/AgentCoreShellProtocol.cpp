#include "cloud/AgentCoreShellProtocol.h"

#include "core/Json.h"

#include <charconv>

namespace
{
using Failure = AgentCoreShellProtocol::ProtocolFailure;
using Status = AgentCoreShellProtocol::Status;

// Thrown while reading a status object; every such failure makes the frame unusable.
struct BadStatus
{
};

std::optional<QString> optionalString(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_string())
        throw BadStatus();
    return json::toQString(it->get_ref<const std::string &>());
}

std::optional<bool> optionalBool(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_boolean())
        throw BadStatus();
    return it->get<bool>();
}

std::optional<qint64> optionalInteger(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    const std::optional<qint64> value = json::integer(object, key);
    if (!value)
        throw BadStatus();
    return value;
}

const Json *optionalObject(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    if (!it->is_object())
        throw BadStatus();
    return &*it;
}

Status readStatus(const Json &object)
{
    if (!object.is_object())
        throw BadStatus();
    Status status;
    status.kind = optionalString(object, "kind");
    const std::optional<QString> value = optionalString(object, "status");
    if (!value || (*value != QLatin1String("Success") && *value != QLatin1String("Failure")))
        throw BadStatus();
    status.status = *value;
    if (const Json *metadata = optionalObject(object, "metadata")) {
        status.metadata = Status::Metadata{optionalString(*metadata, "shellId"), optionalBool(*metadata, "reconnected"),
                                           optionalInteger(*metadata, "bytesDropped")};
    }
    if (const Json *details = optionalObject(object, "details")) {
        Status::Details read;
        const auto causes = details->find("causes");
        if (causes != details->end() && !causes->is_null()) {
            if (!causes->is_array())
                throw BadStatus();
            QList<Status::Cause> list;
            for (const Json &cause : *causes) {
                if (!cause.is_object())
                    throw BadStatus();
                list.append(Status::Cause{optionalString(cause, "reason"), optionalString(cause, "message")});
            }
            read.causes = std::move(list);
        }
        status.details = std::move(read);
    }
    return status;
}

const Status::Cause *firstExitCause(const Status &status)
{
    if (!status.details || !status.details->causes)
        return nullptr;
    for (const Status::Cause &cause : *status.details->causes) {
        if (cause.reason == QLatin1String("ExitCode"))
            return &cause;
    }
    return nullptr;
}

QByteArray oneByte(char byte)
{
    return QByteArray(1, byte);
}
} // namespace

const char *AgentCoreShellProtocol::ProtocolFailure::what() const noexcept
{
    return m_kind == Kind::invalidFrame ? "invalid build-shell frame" : "invalid build-shell status";
}

bool AgentCoreShellProtocol::Status::exited() const
{
    return firstExitCause(*this) != nullptr;
}

std::optional<qint64> AgentCoreShellProtocol::Status::exitCode() const
{
    const Cause *cause = firstExitCause(*this);
    if (!cause || !cause->message)
        return std::nullopt;
    const QByteArray text = cause->message->trimmed().toUtf8();
    const char *begin = text.constData();
    const char *end = begin + text.size();
    // from_chars takes a "-" but not a "+"; a sign must be followed by a digit either way.
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin == end || *begin == '-')
            return std::nullopt;
    }
    qint64 value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

AgentCoreShellProtocol::Message AgentCoreShellProtocol::decode(const QByteArray &frame)
{
    if (frame.isEmpty() || frame.size() > kMaximumFrameBytes)
        throw Failure(Failure::Kind::invalidFrame);
    const QByteArray payload = frame.mid(1);
    switch (quint8(frame[0])) {
    case standardOutput: return Message{Message::Kind::standardOutput, payload, std::nullopt};
    case standardError: return Message{Message::Kind::standardError, payload, std::nullopt};
    case statusChannel: {
        if (payload.size() > kMaximumStatusBytes)
            throw Failure(Failure::Kind::invalidStatus);
        const std::optional<Json> object = json::tryParse(payload);
        if (!object)
            throw Failure(Failure::Kind::invalidStatus);
        try {
            return Message{Message::Kind::status, {}, readStatus(*object)};
        } catch (const BadStatus &) {
            throw Failure(Failure::Kind::invalidStatus);
        }
    }
    case heartbeatChannel: return Message{Message::Kind::heartbeat, {}, std::nullopt};
    case closeChannel: return Message{Message::Kind::close, {}, std::nullopt};
    default: throw Failure(Failure::Kind::invalidFrame);
    }
}

QByteArray AgentCoreShellProtocol::resize(int columns, int rows)
{
    if (columns < 1 || columns > kMaximumTerminalSize || rows < 1 || rows > kMaximumTerminalSize)
        throw Failure(Failure::Kind::invalidFrame);
    // Keys in sorted order, compact: {"height":R,"width":C}.
    return oneByte(char(resizeChannel)) + "{\"height\":" + QByteArray::number(rows) +
           ",\"width\":" + QByteArray::number(columns) + "}";
}

const QByteArray &AgentCoreShellProtocol::heartbeat()
{
    static const QByteArray frame = oneByte(char(heartbeatChannel));
    return frame;
}

const QByteArray &AgentCoreShellProtocol::close()
{
    static const QByteArray frame = oneByte(char(closeChannel));
    return frame;
}
