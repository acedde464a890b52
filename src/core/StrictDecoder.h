#pragma once

#include "core/Json.h"

#include <QString>

#include <optional>
#include <string_view>

// Reads the fields of one JSON object the way a typed record decodes: a required key that is
// missing or null, or a value of another JSON type, throws HubError with the decoding sentence;
// an optional key that is missing or null is none.
// Integers must be written as JSON integers: a fraction or an exponent is no integer.
class StrictDecoder
{
public:
    explicit StrictDecoder(const Json &object);

    QString text(std::string_view key) const;
    std::optional<QString> optionalText(std::string_view key) const;
    bool boolean(std::string_view key) const;
    std::optional<bool> optionalBoolean(std::string_view key) const;
    qint64 integer(std::string_view key) const;
    std::optional<qint64> optionalInteger(std::string_view key) const;
    // nullptr when absent or null.
    const Json *optionalObject(std::string_view key) const;
    std::optional<double> optionalNumber(std::string_view key) const;
    const Json &array(std::string_view key) const;

private:
    // The value under `key`, or null when missing or null.
    const Json *find(std::string_view key) const;
    [[noreturn]] static void fail();

    const Json &m_object;
};
