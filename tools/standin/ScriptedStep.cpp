#include "standin/ScriptedStep.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace scriptedstep
{
namespace
{
constexpr std::array<std::string_view, 12> kMembers = {"match",   "times", "delayMs",  "status", "headers", "fault",
                                                       "rawBody", "body",  "bodySize", "data",   "errors",  "answer"};

using scenariolimits::isInteger;

// The largest body a step may pad to: far past any cap of the hub, and still a size the stand-in
// can hold for every connection at once.
constexpr qint64 kMaxBodySize = 64LL * 1024 * 1024;

// A field name as HTTP defines it (a token: no separators, no white space, no control characters).
bool isFieldName(const std::string &name)
{
    static const std::string_view kSeparators = "\"(),/:;<=>?@[\\]{}";
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && kSeparators.find(c) == std::string_view::npos;
    });
}

// Why a scripted header would break the answer's framing, or an empty text.
QString headerMistake(const std::string &name, const Json &value)
{
    if (!isFieldName(name) || !value.is_string())
        return QStringLiteral("\"headers\" must map header names to strings");
    const std::string &text = value.get_ref<const std::string &>();
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return QStringLiteral("the value of header \"%1\" holds CR, LF or NUL").arg(json::toQString(name));
    // The stand-in frames every answer itself; a second length or coding would make two answers of one.
    const QByteArray lower = QByteArray::fromStdString(name).toLower();
    if (lower == "content-length" || lower == "transfer-encoding")
        return QStringLiteral("header \"%1\" is the stand-in's own; shape the body instead").arg(json::toQString(name));
    return {};
}

bool is2xx(int status)
{
    return status >= 200 && status <= 299;
}

Outcome scenarioMistake(const char *sentence)
{
    Outcome outcome;
    outcome.scripted = true;
    outcome.response = HttpResponse::json(500, json::dump(Json{{"errors", Json::array({{{"message", sentence}}})}}));
    return outcome;
}
} // namespace

std::optional<Outcome::Fault> faultNamed(const std::string &name)
{
    if (name == "drop")
        return Outcome::Fault::Drop;
    if (name == "stall")
        return Outcome::Fault::Stall;
    if (name == "truncate")
        return Outcome::Fault::Truncate;
    return std::nullopt;
}

QString validate(const Json &step, bool graphql)
{
    if (!step.is_object())
        return QStringLiteral("a step must be an object");
    for (const auto &[key, value] : step.items()) {
        if (std::find(kMembers.begin(), kMembers.end(), key) == kMembers.end())
            return QStringLiteral("unknown step member \"%1\"").arg(json::toQString(key));
        if (!graphql && (key == "data" || key == "errors" || key == "answer"))
            return QStringLiteral("\"%1\" belongs to GraphQL steps").arg(json::toQString(key));
    }
    if (step.contains("delayMs") && !isInteger(step["delayMs"], 0, scenariolimits::kMaxDelayMs))
        return QStringLiteral("\"delayMs\" must be an integer from 0 to %1").arg(scenariolimits::kMaxDelayMs);
    // Informational codes are no final answer: a client would wait for the real one.
    if (step.contains("status") && !isInteger(step["status"], 200, 599))
        return QStringLiteral("\"status\" must be an HTTP status code from 200 to 599");
    if (step.contains("bodySize") && !isInteger(step["bodySize"], 0, kMaxBodySize))
        return QStringLiteral("\"bodySize\" must be a byte count of at most 64 MiB");
    if (step.contains("headers")) {
        if (!step["headers"].is_object())
            return QStringLiteral("\"headers\" must be an object of strings");
        for (const auto &[name, value] : step["headers"].items()) {
            if (const QString why = headerMistake(name, value); !why.isEmpty())
                return why;
        }
    }
    if (step.contains("fault") && !(step["fault"].is_string() && faultNamed(step["fault"].get<std::string>())))
        return QStringLiteral("\"fault\" must be \"drop\", \"stall\" or \"truncate\"");
    if (step.contains("rawBody") && !step["rawBody"].is_string())
        return QStringLiteral("\"rawBody\" must be a string");
    const int bodies = int(step.contains("rawBody")) + int(step.contains("body")) +
                       int(step.contains("data") || step.contains("errors") || step.contains("answer"));
    if (bodies > 1)
        return QStringLiteral("give one of \"rawBody\", \"body\" or the GraphQL members");
    if (step.contains("data") && step.contains("answer"))
        return QStringLiteral("give \"data\" or \"answer\", not both");
    return {};
}

bool matches(const Json &pattern, const Json &value)
{
    if (!pattern.is_object())
        return pattern == value;
    if (!value.is_object())
        return false;
    for (const auto &[key, expected] : pattern.items()) {
        const auto it = value.find(key);
        if (it == value.end() || !matches(expected, *it))
            return false;
    }
    return true;
}

bool replacesBody(const Json &step)
{
    if (step.contains("rawBody") || step.contains("body") || step.contains("data") || step.contains("errors") ||
        step.contains("answer"))
        return true;
    return step.contains("status") && !is2xx(step["status"].get<int>());
}

QByteArray padTo(QByteArray body, qsizetype size)
{
    const qsizetype missing = size - body.size();
    if (missing <= 0)
        return body;
    // Inside the outermost brackets the padding is insignificant white space, so the document stays
    // valid JSON of exactly the size asked for.
    const qsizetype at = (body.startsWith('{') || body.startsWith('[')) ? 1 : body.size();
    body.insert(at, QByteArray(missing, ' '));
    return body;
}

Outcome applyHttp(const Json &step, Outcome base, const QString &field)
{
    Outcome outcome = std::move(base);
    outcome.scripted = true;
    outcome.delayMs = step.value("delayMs", 0);
    if (step.contains("fault")) {
        outcome.fault = *faultNamed(step["fault"].get<std::string>());
        if (outcome.fault != Outcome::Fault::Truncate)
            return outcome;
    }

    if (step.contains("status"))
        outcome.response.status = step["status"].get<int>();
    if (replacesBody(step)) {
        outcome.response.headers.clear();
        outcome.response.setHeader("Content-Type", "application/json");
        if (step.contains("rawBody")) {
            outcome.response.body = json::toQString(step["rawBody"].get<std::string>()).toUtf8();
        } else if (step.contains("body")) {
            outcome.response.body = json::dump(step["body"]);
        } else if (step.contains("data") || step.contains("errors") || step.contains("answer")) {
            Json envelope = Json::object();
            if (step.contains("answer")) {
                if (field.isEmpty())
                    return scenarioMistake(
                        "The scenario gives an answer for an operation without a known result field.");
                envelope["data"] = Json{{json::toStd(field), step["answer"]}};
            }
            if (step.contains("data"))
                envelope["data"] = step["data"];
            if (step.contains("errors"))
                envelope["errors"] = step["errors"];
            outcome.response.body = json::dump(envelope);
        } else {
            outcome.response.body.clear();
        }
    }
    if (step.contains("headers")) {
        for (const auto &[name, value] : step["headers"].items()) {
            outcome.response.setHeader(QByteArray::fromStdString(name),
                                       QByteArray::fromStdString(value.get<std::string>()));
        }
    }
    if (step.contains("bodySize")) {
        const auto size = step["bodySize"].get<qsizetype>();
        if (outcome.response.body.size() > size)
            return scenarioMistake("The scripted body is longer than its bodySize.");
        outcome.response.body = padTo(std::move(outcome.response.body), size);
    }
    return outcome;
}
} // namespace scriptedstep
