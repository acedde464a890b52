#pragma once

#include "core/Json.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <optional>

// Upper bounds of what a scenario may ask for. A scenario past one is refused as a whole, with the
// reason, so that no script can make the stand-in allocate without end or wait for ever.
namespace scenariolimits
{
inline constexpr qint64 kMaxTimes = 1'000'000;
inline constexpr qint64 kMaxDelayMs = 600'000;
inline constexpr qsizetype kMaxHosts = 1000;

// Whether `value` is an integer from `low` to `high`.
inline bool isInteger(const Json &value, qint64 low, qint64 high)
{
    if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<quint64>() > quint64(high)))
        return false;
    const auto n = value.get<qint64>();
    return n >= low && n <= high;
}
// Whether `value` is a close code an endpoint may send (RFC 6455 section 7.4): the defined ones
// that are not reserved for local use, and the ranges left to libraries and applications.
inline bool isSendableCloseCode(const Json &value)
{
    if (!isInteger(value, 1000, 4999))
        return false;
    const auto code = value.get<qint64>();
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || code >= 3000;
}
} // namespace scenariolimits

// What a test or a demo scripts: per service section and key (a GraphQL operation name, an HTTPS
// route name, ...), a queue of steps spent in order and a default step. The format is described
// in README.md; the steps of each section are checked by that section's validator.
class Scenario
{
public:
    // Why a step of a section is invalid, or an empty text when it is valid.
    using StepValidator = std::function<QString(const Json &step)>;
    using Sections = std::map<std::string, StepValidator, std::less<>>;

    // Checks the whole document first: a scenario with any mistake is refused as a whole.
    static std::optional<Scenario> fromJson(const Json &document, const Sections &sections, QString *error);

    // The step for one request: the first queue entry of `section`/`key` whose "match" holds in
    // `view` (an entry with "times" serves that many requests), else the default when its "match"
    // holds. Spent entries are gone for good.
    std::optional<Json> take(std::string_view section, std::string_view key, const Json &view);

    // Host names that CONNECT accepts besides the platform's own.
    const QStringList &extraHosts() const { return m_extraHosts; }

private:
    struct Entry
    {
        Json step;
        qint64 remaining = 1;
    };
    struct Script
    {
        std::deque<Entry> queue;
        std::optional<Json> fallback;
    };

    static std::string scriptKey(std::string_view section, std::string_view key);

    QStringList m_extraHosts;
    std::map<std::string, Script> m_scripts; // by scriptKey
};
