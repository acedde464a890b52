#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <optional>

// The frames of the build-shell channel: each binary WebSocket message is one frame whose first
// byte names the channel and whose remaining bytes are that channel's payload. Stateless: it only
// reads and builds frames.
class AgentCoreShellProtocol
{
public:
    // The channel bytes. Input (0) and resize (4) flow only from the hub to the service.
    enum Channel : quint8 {
        input = 0x00,
        standardOutput = 0x01,
        standardError = 0x02,
        statusChannel = 0x03,
        resizeChannel = 0x04,
        heartbeatChannel = 0x05,
        closeChannel = 0xFF,
    };

    static constexpr qsizetype kMaximumFrameBytes = 65536; // channel byte included
    static constexpr qsizetype kMaximumStatusBytes = 16384;
    static constexpr int kMaximumTerminalSize = 1000;

    // The shell's state as a status frame reports it.
    struct Status
    {
        struct Metadata
        {
            std::optional<QString> shellId;
            std::optional<bool> reconnected;
            std::optional<qint64> bytesDropped;
            bool operator==(const Metadata &) const = default;
        };
        struct Cause
        {
            std::optional<QString> reason;
            std::optional<QString> message;
            bool operator==(const Cause &) const = default;
        };
        struct Details
        {
            std::optional<QList<Cause>> causes;
            bool operator==(const Details &) const = default;
        };

        std::optional<QString> kind;
        QString status; // "Success" or "Failure"
        std::optional<Metadata> metadata;
        std::optional<Details> details;

        // A cause with the reason "ExitCode" says the shell's process ended.
        bool exited() const;
        // The first "ExitCode" cause's message as a decimal integer, when it is one.
        std::optional<qint64> exitCode() const;

        bool operator==(const Status &) const = default;
    };

    // What one received frame says.
    struct Message
    {
        enum class Kind {
            standardOutput,
            standardError,
            status,
            heartbeat,
            close,
        };
        Kind kind;
        QByteArray payload;           // the output bytes of standardOutput and standardError
        std::optional<Status> status; // set for status

        bool operator==(const Message &) const = default;
    };

    // The codec's refusal of a frame; the shell session words it for the user.
    class ProtocolFailure : public std::exception
    {
    public:
        enum class Kind {
            invalidFrame,
            invalidStatus,
        };
        explicit ProtocolFailure(Kind kind) : m_kind(kind) {}
        Kind kind() const noexcept { return m_kind; }
        const char *what() const noexcept override;
        bool operator==(const ProtocolFailure &other) const { return m_kind == other.m_kind; }

    private:
        Kind m_kind;
    };

    // Throws ProtocolFailure.
    static Message decode(const QByteArray &frame);
    // The terminal-resize frame; columns and rows from 1 to 1000, else ProtocolFailure.
    static QByteArray resize(int columns, int rows);

    static const QByteArray &heartbeat();
    static const QByteArray &close();
};
