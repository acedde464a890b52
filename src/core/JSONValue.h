#pragma once

#include "core/Json.h"

#include <QString>

#include <map>
#include <variant>
#include <vector>

// A JSON value whose shape is not fixed, for documents read only for display. Decode-only: every
// JSON number is a double, as the display rules expect.
class JSONValue
{
public:
    using Array = std::vector<JSONValue>;
    using Object = std::map<QString, JSONValue>;
    struct Null
    {
    };

    JSONValue() = default;

    // Throws HubError with the decoding sentence when `bytes` hold no JSON value.
    static JSONValue decode(const QByteArray &bytes);
    static JSONValue fromJson(const Json &value);

    bool isNull() const { return std::holds_alternative<Null>(m_value); }
    const QString *string() const { return std::get_if<QString>(&m_value); }
    const double *number() const { return std::get_if<double>(&m_value); }
    const bool *boolean() const { return std::get_if<bool>(&m_value); }
    const Array *array() const { return std::get_if<Array>(&m_value); }
    const Object *object() const { return std::get_if<Object>(&m_value); }

    // Display text: strings bare, numbers shortest with ".0" for whole values, arrays in brackets
    // joined by ", ", objects as "key: value" sorted by key without braces.
    QString text() const;

private:
    std::variant<Null, QString, double, bool, Array, Object> m_value;
};
