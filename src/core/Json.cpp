#include "core/Json.h"

#include "core/HubError.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace json
{
QString decodingErrorSentence()
{
    return QStringLiteral("The data couldn't be read because it isn't in the correct format.");
}

namespace
{
// Thrown by the parser callback at the first level past the cap: the parse stops there instead of
// reading (and keeping a stack for) the rest.
struct TooDeep
{
};
} // namespace

std::optional<Json> tryParse(std::string_view bytes, int maxDepth)
{
    // The parser itself is iterative, but every later walk of the value (dump, comparison)
    // recurses, so depth is bounded where the bytes come in. The callback is told the depth of
    // each value it sees: 0 for the outermost.
    const Json::parser_callback_t limit = [maxDepth](int depth, Json::parse_event_t event, Json &) {
        if (depth >= maxDepth &&
            (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start))
            throw TooDeep{};
        return true;
    };
    try {
        Json result = Json::parse(bytes.begin(), bytes.end(), limit, /*allow_exceptions=*/false);
        if (result.is_discarded())
            return std::nullopt;
        return result;
    } catch (const TooDeep &) {
        return std::nullopt;
    } catch (const Json::exception &) {
        return std::nullopt;
    }
}

Json parse(const QByteArray &bytes, int maxDepth)
{
    auto value = tryParse(bytes, maxDepth);
    if (!value)
        throw HubError(decodingErrorSentence());
    return std::move(*value);
}

QByteArray dump(const Json &value)
{
    const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

namespace
{
template <typename Char> void appendEscaped(QByteArray &out, Char c)
{
    static constexpr char hex[] = "0123456789abcdef";
    switch (c) {
    case '"': out.append("\\\"", 2); break;
    case '\\': out.append("\\\\", 2); break;
    case '\n': out.append("\\n", 2); break;
    case '\r': out.append("\\r", 2); break;
    case '\t': out.append("\\t", 2); break;
    case '\b': out.append("\\b", 2); break;
    case '\f': out.append("\\f", 2); break;
    default: {
        const char buf[6] = {'\\', 'u', '0', '0', hex[(c >> 4) & 0xF], hex[c & 0xF]};
        out.append(buf, 6);
    }
    }
}

inline bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }
} // namespace

void appendQuoted(QByteArray &out, std::string_view utf8)
{
    out.append('"');
    size_t runStart = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (!needsEscape(c))
            continue;
        out.append(utf8.data() + runStart, qsizetype(i - runStart));
        appendEscaped(out, c);
        runStart = i + 1;
    }
    out.append(utf8.data() + runStart, qsizetype(utf8.size() - runStart));
    out.append('"');
}

void appendQuoted(QByteArray &out, QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    appendQuoted(out, std::string_view(utf8.constData(), size_t(utf8.size())));
}

QString shortestDouble(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    std::array<char, 64> buf{};
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16);
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                         plain ? std::chars_format::fixed : std::chars_format::scientific);
    if (ec != std::errc())
        return QStringLiteral("0.0");
    std::string text(buf.data(), end);
    if (plain) {
        if (text.find('.') == std::string::npos)
            text += ".0";
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    }
    // to_chars writes "1e+16" / "1e-05" already with sign and two digits at least.
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<QString> string(const Json &object, std::string_view key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return toQString(it->get_ref<const std::string &>());
}

std::optional<qint64> integer(const Json &object, std::string_view key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || it->is_number_float())
        return std::nullopt;
    return wholeNumber(*it);
}

std::optional<qint64> wholeNumber(const Json &value)
{
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v > std::uint64_t(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(v);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (!value.is_number_float())
        return std::nullopt;
    // Checked as a double before the cast: casting a value outside the range is undefined.
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    const double d = value.get<double>();
    if (!(d >= -kLimit && d < kLimit) || d != std::trunc(d))
        return std::nullopt;
    return qint64(d);
}

std::optional<qint64> wholeNumber(const Json &object, std::string_view key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end())
        return std::nullopt;
    return wholeNumber(*it);
}
} // namespace json
