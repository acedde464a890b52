#include "live/ReadPayload.h"

#include <QLatin1StringView>

std::optional<QString> ReadValue::string() const
{
    if (text)
        return *text;
    if (json && json->is_string())
        return json::toQString(json->get_ref<const std::string &>());
    return std::nullopt;
}

bool ReadValue::isStringList() const
{
    if (!isArray())
        return false;
    for (const auto &element : *json)
        if (!element.is_string())
            return false;
    return true;
}

QStringList ReadValue::stringList() const
{
    QStringList out;
    if (!isStringList())
        return out;
    out.reserve(qsizetype(json->size()));
    for (const auto &element : *json)
        out.append(json::toQString(element.get_ref<const std::string &>()));
    return out;
}

ReadValue ReadValue::of(const Json &object, std::string_view key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    if (it == object.end())
        return {};
    return ReadValue{&*it, nullptr};
}

ReadPayload::ReadPayload(const EventPayload &raw)
{
    m_entries.reserve(size_t(raw.size()));
    for (auto it = raw.cbegin(); it != raw.cend(); ++it)
        m_entries.push_back(Entry{&it.key(), &it.value(), std::nullopt, false});
}

const ReadPayload::Entry *ReadPayload::find(std::string_view key) const
{
    const QLatin1StringView wanted(key.data(), qsizetype(key.size()));
    for (const auto &entry : m_entries)
        if (*entry.key == wanted)
            return &entry;
    return nullptr;
}

const QString *ReadPayload::raw(std::string_view key) const
{
    const Entry *entry = find(key);
    return entry ? entry->value : nullptr;
}

ReadValue ReadPayload::value(std::string_view key) const
{
    const Entry *entry = find(key);
    if (!entry)
        return {};
    if (!entry->read) {
        entry->parsed = readFragment(*entry->value);
        entry->read = true;
    }
    if (entry->parsed)
        return ReadValue{&*entry->parsed, nullptr};
    return ReadValue{nullptr, entry->value};
}

std::optional<Json> ReadPayload::readFragment(const QString &text)
{
    // A JSON document starts, after JSON white space, with one of these characters (or the byte
    // order mark the parser skips); anything else is plain text and needs no trip through the parser.
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == ' ' || u == '\t' || u == '\n' || u == '\r')
            continue;
        const bool canStart = u == '{' || u == '[' || u == '"' || u == '-' || (u >= '0' && u <= '9') || u == 't' ||
                              u == 'f' || u == 'n' || u == 0xFEFF;
        if (!canStart)
            return std::nullopt;
        break;
    }
    return json::tryParse(text.toUtf8());
}
