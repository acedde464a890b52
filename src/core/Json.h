#pragma once

#include "core/Utf8.h"

#include <QByteArray>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

using Json = nlohmann::json;

namespace json
{
// Deepest nesting accepted from outside the process; deeper documents are refused rather than
// walked recursively later.
inline constexpr int kMaxDepth = 256;

// The sentence for input that is no JSON document of the expected shape.
QString decodingErrorSentence();

// Parses untrusted bytes: strict JSON (RFC 8259, valid UTF-8), at most `maxDepth` levels.
std::optional<Json> tryParse(std::string_view bytes, int maxDepth = kMaxDepth);
inline std::optional<Json> tryParse(const QByteArray &bytes, int maxDepth = kMaxDepth)
{
    return tryParse(std::string_view(bytes.constData(), size_t(bytes.size())), maxDepth);
}
// As tryParse, throwing HubError with decodingErrorSentence() on failure.
Json parse(const QByteArray &bytes, int maxDepth = kMaxDepth);

// Compact JSON text (no insignificant whitespace, UTF-8 kept, invalid UTF-8 replaced).
QByteArray dump(const Json &value);

// Appends `text` as a JSON string literal: quotes, backslash and control characters escaped,
// everything else kept as UTF-8.
void appendQuoted(QByteArray &out, QStringView text);
void appendQuoted(QByteArray &out, std::string_view utf8);

// Shortest decimal text that reads back as the same double ("1.0", "0.1", "1e+16", "1e-05").
QString shortestDouble(double value);

// Every character of the string, a leading U+FEFF included: it is text here, never a byte order
// mark.
inline QString toQString(const std::string &s) { return utf8::decode(QByteArrayView(s.data(), qsizetype(s.size()))); }
inline std::string toStd(const QString &s) { return s.toStdString(); }

// Text value of `object[key]` when it is a JSON string.
std::optional<QString> string(const Json &object, std::string_view key);
// Integer value of `object[key]` when it is a JSON integer that fits in 64 bits.
std::optional<qint64> integer(const Json &object, std::string_view key);
// Integer value of a JSON number without a fraction that fits in 64 bits, however it is written:
// 3, 3.0 and 3e0 are 3; 3.5, 1e300 and text are none. For fields whose writers may send an integer
// as a floating-point number.
std::optional<qint64> wholeNumber(const Json &value);
std::optional<qint64> wholeNumber(const Json &object, std::string_view key);
} // namespace json
