#include "cloud/AgentCoreShellProtocol.h"

#include "cloud/StrictMembers.h"
#include "core/Json.h"

#include <charconv>

namespace
{
using Failure = AgentCoreShellProtocol::ProtocolFailure;
using Status = AgentCoreShellProtocol::Status;

// Throws strictmembers::WrongType for any status the shell cannot use.
Status readStatus(const Json &object)
{
    using namespace strictmembers;
    Status status;
    status.kind = string(object, "kind");
    const std::optional<QString> value = string(object, "status");
    if (!value || (*value != QLatin1String("Success") && *value != QLatin1String("Failure")))
        throw WrongType();
    status.status = *value;
    if (const Json *metadata = strictmembers::object(object, "metadata")) {
        status.metadata = Status::Metadata{string(*metadata, "shellId"), boolean(*metadata, "reconnected"),
                                           integer(*metadata, "bytesDropped")};
    }
    if (const Json *details = strictmembers::object(object, "details")) {
        Status::Details read;
        const auto causes = details->find("causes");
        if (causes != details->end() && !causes->is_null()) {
            if (!causes->is_array())
                throw WrongType();
            QList<Status::Cause> list;
            for (const Json &cause : *causes)
                list.append(Status::Cause{string(cause, "reason"), string(cause, "message")});
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
    case standardOutput:
        return Message{Message::Kind::standardOutput, payload, std::nullopt};
    case standardError:
        return Message{Message::Kind::standardError, payload, std::nullopt};
    case statusChannel: {
        if (payload.size() > kMaximumStatusBytes)
            throw Failure(Failure::Kind::invalidStatus);
        const std::optional<Json> object = json::tryParse(payload);
        if (!object)
            throw Failure(Failure::Kind::invalidStatus);
        try {
            return Message{Message::Kind::status, {}, readStatus(*object)};
        } catch (const strictmembers::WrongType &) {
            throw Failure(Failure::Kind::invalidStatus);
        }
    }
    case heartbeatChannel:
        return Message{Message::Kind::heartbeat, {}, std::nullopt};
    case closeChannel:
        return Message{Message::Kind::close, {}, std::nullopt};
    default:
        throw Failure(Failure::Kind::invalidFrame);
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
