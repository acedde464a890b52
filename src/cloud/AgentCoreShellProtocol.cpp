#include "cloud/AgentCoreShellProtocol.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/StrictDecoder.h"

#include <charconv>

namespace
{
using Failure = AgentCoreShellProtocol::ProtocolFailure;
using Status = AgentCoreShellProtocol::Status;

// Throws HubError for any status the shell cannot use.
Status readStatus(const Json &object)
{
    const StrictDecoder fields(object);
    Status status;
    status.kind = fields.optionalText("kind");
    status.status = fields.text("status");
    if (status.status != QLatin1String("Success") && status.status != QLatin1String("Failure"))
        throw HubError(json::decodingErrorSentence());
    if (const Json *metadata = fields.optionalObject("metadata")) {
        const StrictDecoder meta(*metadata);
        status.metadata = Status::Metadata{meta.optionalText("shellId"), meta.optionalBoolean("reconnected"),
                                           meta.optionalInteger("bytesDropped")};
    }
    if (const Json *details = fields.optionalObject("details")) {
        Status::Details read;
        const auto causes = details->find("causes");
        if (causes != details->end() && !causes->is_null()) {
            if (!causes->is_array())
                throw HubError(json::decodingErrorSentence());
            QList<Status::Cause> list;
            for (const Json &cause : *causes) {
                const StrictDecoder entry(cause);
                list.append(Status::Cause{entry.optionalText("reason"), entry.optionalText("message")});
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
        } catch (const HubError &) {
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
