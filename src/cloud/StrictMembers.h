#pragma once

#include "core/Json.h"

#include <QString>

#include <optional>
#include <string_view>

// Optional members of a JSON object read strictly: an absent or null member is none, a member of
// another type than the one expected throws WrongType, so that one bad member fails the whole record.
namespace strictmembers
{
struct WrongType
{
};

std::optional<QString> string(const Json &object, std::string_view key);
std::optional<bool> boolean(const Json &object, std::string_view key);
// A JSON integer that fits in 64 signed bits.
std::optional<qint64> integer(const Json &object, std::string_view key);
// nullptr when absent or null.
const Json *object(const Json &object, std::string_view key);
} // namespace strictmembers
