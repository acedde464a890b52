#include "live/StrictNumbers.h"

#include "core/WorkspaceEvent.h"

#include <charconv>
#include <limits>

namespace strictnumbers
{
std::optional<qint64> signedInteger(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 magnitude = 0;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max()) + 1; // |INT64_MIN|
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < '0' || u > '9')
            return std::nullopt;
        const unsigned digit = unsigned(u - '0');
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
    if (magnitude == limit)
        return std::nullopt;
    return qint64(magnitude);
}

std::optional<double> floatingPoint(QStringView text)
{
    if (text.isEmpty() || text.size() > 512)
        return std::nullopt;
    char buf[513] = {};
    qsizetype n = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80)
            return std::nullopt;
        buf[n++] = char(u);
    }
    const char *begin = buf;
    const char *end = buf + n;
    // from_chars takes a "-" but no "+"; one "+" is a valid sign, "+-1" is not.
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin == '-')
            return std::nullopt;
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

QString plainText(const Json &number)
{
    return WorkspaceEvent::stringValue(number);
}
} // namespace strictnumbers
