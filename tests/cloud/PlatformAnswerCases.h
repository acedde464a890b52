#pragma once

#include "core/HubConfiguration.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Readable values in the tests' messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Answers of the platform's GraphQL service and what the hub makes of them, shared by the tests
// against the loopback server and against the stand-in platform.
namespace platformcases
{
struct GraphQLAnswer
{
    std::string name;
    int status;
    QByteArray body;
    std::optional<QByteArray> data; // the returned data object as compact JSON, or
    QString sentence;               // the error sentence
};
std::vector<GraphQLAnswer> graphQLAnswers();

// Answers to the stop control ("tavriloStopRun").
struct ControlAnswer
{
    std::string name;
    int status;
    QByteArray body;
    QString sentence; // empty: accepted
};
std::vector<ControlAnswer> controlAnswers();

// A valid configuration whose GraphQL endpoint is `endpoint`.
HubConfiguration configurationWithEndpoint(const QUrl &endpoint);

// A JSON document of exactly `size` bytes: `json` followed by spaces.
QByteArray padded(QByteArray json, qsizetype size);

inline const QString kDecoding = QStringLiteral("The data couldn't be read because it isn't in the correct format.");
} // namespace platformcases
