#include "cloud/StrictMembers.h"

namespace strictmembers
{
namespace
{
// The member, or nullptr when it is absent or null.
const Json *present(const Json &object, std::string_view key)
{
    if (!object.is_object())
        throw WrongType();
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}
} // namespace

std::optional<QString> string(const Json &object, std::string_view key)
{
    const Json *member = present(object, key);
    if (!member)
        return std::nullopt;
    if (!member->is_string())
        throw WrongType();
    return json::toQString(member->get_ref<const std::string &>());
}

std::optional<bool> boolean(const Json &object, std::string_view key)
{
    const Json *member = present(object, key);
    if (!member)
        return std::nullopt;
    if (!member->is_boolean())
        throw WrongType();
    return member->get<bool>();
}

std::optional<qint64> integer(const Json &object, std::string_view key)
{
    if (!present(object, key))
        return std::nullopt;
    const std::optional<qint64> value = json::integer(object, key);
    if (!value)
        throw WrongType();
    return value;
}

const Json *object(const Json &object, std::string_view key)
{
    const Json *member = present(object, key);
    if (member && !member->is_object())
        throw WrongType();
    return member;
}
} // namespace strictmembers
