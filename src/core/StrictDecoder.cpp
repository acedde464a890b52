#include "core/StrictDecoder.h"

#include "core/HubError.h"

StrictDecoder::StrictDecoder(const Json &object) : m_object(object)
{
    if (!object.is_object())
        fail();
}

void StrictDecoder::fail()
{
    throw HubError(json::decodingErrorSentence());
}

const Json *StrictDecoder::find(std::string_view key) const
{
    const auto it = m_object.find(key);
    if (it == m_object.end() || it->is_null())
        return nullptr;
    return &*it;
}

QString StrictDecoder::text(std::string_view key) const
{
    auto value = optionalText(key);
    if (!value)
        fail();
    return *std::move(value);
}

std::optional<QString> StrictDecoder::optionalText(std::string_view key) const
{
    const Json *value = find(key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        fail();
    return json::toQString(value->get_ref<const std::string &>());
}

bool StrictDecoder::boolean(std::string_view key) const
{
    const auto value = optionalBoolean(key);
    if (!value)
        fail();
    return *value;
}

std::optional<bool> StrictDecoder::optionalBoolean(std::string_view key) const
{
    const Json *value = find(key);
    if (!value)
        return std::nullopt;
    if (!value->is_boolean())
        fail();
    return value->get<bool>();
}

qint64 StrictDecoder::integer(std::string_view key) const
{
    const auto value = optionalInteger(key);
    if (!value)
        fail();
    return *value;
}

std::optional<qint64> StrictDecoder::optionalInteger(std::string_view key) const
{
    if (!find(key))
        return std::nullopt;
    const auto number = json::integer(m_object, key);
    if (!number)
        fail();
    return number;
}

const Json *StrictDecoder::optionalObject(std::string_view key) const
{
    const Json *value = find(key);
    if (value && !value->is_object())
        fail();
    return value;
}

std::optional<double> StrictDecoder::optionalNumber(std::string_view key) const
{
    const Json *value = find(key);
    if (!value)
        return std::nullopt;
    if (!value->is_number())
        fail();
    return value->get<double>();
}

const Json &StrictDecoder::array(std::string_view key) const
{
    const Json *value = find(key);
    if (!value || !value->is_array())
        fail();
    return *value;
}
