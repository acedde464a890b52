#pragma once

#include "core/HubConfiguration.h"
#include "core/HubError.h"
#include "core/Json.h"
#include "core/async/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <optional>

// The run controls of a live session and the strict answer checks of the platform's ok/refusal
// convention.
class NativeControls
{
public:
    // One run control; every control names its session.
    class Command
    {
    public:
        enum class Kind {
            stop,
            interject,
            approval,
            browser,
            runState,
            skip,
        };

        static Command stop(QString session);
        // Only the first 2000 user-perceived characters of `text` are sent.
        static Command interject(QString session, QString text);
        static Command approval(QString session, QString toolUseID, QString decision,
                                std::optional<QString> expectedTurnID = std::nullopt,
                                std::optional<QString> expectedRevision = std::nullopt);
        static Command browser(QString session, QString holder);
        static Command runState(QString session, QString state);
        static Command skip(QString session, QString toolUseID, QString tool);

        struct Request
        {
            QString field;  // the mutation's result field
            QString query;  // the complete operation text
            Json variables; // an object
        };
        Request request() const;

        Kind kind() const { return m_kind; }
        const QString &session() const { return m_session; }

    private:
        explicit Command(Kind kind, QString session) : m_kind(kind), m_session(std::move(session)) {}

        Kind m_kind;
        QString m_session;
        QString m_text;                            // interject
        QString m_toolUseID;                       // approval, skip
        QString m_decision;                        // approval
        std::optional<QString> m_expectedTurnID;   // approval
        std::optional<QString> m_expectedRevision; // approval
        QString m_holder;                          // browser
        QString m_state;                           // runState
        QString m_tool;                            // skip
    };

    // The platform's answer to a run control.
    struct Answer
    {
        bool ok = false;
        std::optional<QString> refusal;
        std::optional<qint64> queued; // interjections: the queue position
        std::optional<QString> round; // interjections: the round it joins
    };

    // A refusal code of the platform, for callers that tell codes apart.
    class Refusal : public HubError
    {
    public:
        explicit Refusal(QString code);
        const QString &code() const noexcept { return m_code; }

    private:
        QString m_code;
    };

    // Largest answer accepted from a run control.
    static constexpr qint64 kMaximumAnswerBytes = 1048576;

    // Sends `command` and returns its answer, whose `ok` is true. Throws HubError with the control
    // sentences, the decoding sentence for an unreadable answer, HubNetworkError for transport
    // failures and the 45 s deadline, and CancelledError when `cancel` fires.
    static QCoro::Task<Answer> execute(Command command, HubConfiguration configuration, QString token,
                                       CancelToken cancel = {});

    // The answer object of `field` in a mutation's answer `body` of at most `maximumBytes` bytes.
    // Throws Refusal for a well-formed refusal code, HubError with the generic refusal sentence for
    // any other shape, and the decoding sentence for a body that is no JSON.
    static Json decodeAnswer(const QByteArray &body, const QString &field, qint64 maximumBytes);

    // Whether `code` has the form of a platform refusal code: an upper-case letter, then up to 63
    // upper-case letters, digits or underscores.
    static bool isRefusalCode(const QString &code);

    // The request that opens the build shell of a grant, with its 60 s as the transfer timeout for
    // the opener's handshake; only a secure WebSocket URL with a host and without user, password
    // or fragment is accepted, else HubError.
    static QNetworkRequest commandShellRequest(const QUrl &url);
};
