#pragma once

#include <QString>

#include <exception>
#include <string>

// The one error type of the hub. It carries a complete user-facing sentence, which is also its
// description; nothing inspects it beyond that text.
class HubError : public std::exception
{
public:
    explicit HubError(QString sentence);

    static HubError message(QString sentence) { return HubError(std::move(sentence)); }
    // A fixed sentence written in the source.
    static HubError fixed(const char *sentence) { return HubError(QString::fromLatin1(sentence)); }

    const QString &description() const noexcept { return m_sentence; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_sentence;
    std::string m_utf8;
};

// Thrown where a cancellation token ends an awaited operation.
class CancelledError : public std::exception
{
public:
    const char *what() const noexcept override;
};

// The description the user sees for any failure: a HubError's sentence, a cancellation's fixed
// sentence, or a generic sentence for anything else.
QString errorDescription(const std::exception &error);
QString errorDescription(std::exception_ptr error);
