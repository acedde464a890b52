#pragma once

#include "core/Json.h"
#include "core/WorkspaceEvent.h"

#include <QString>

#include <optional>
#include <string_view>
#include <vector>

// One value as an event consumer reads it: a payload value read back as JSON when it parses, else
// its own text; or a member of a JSON object. Absent when both pointers are null.
struct ReadValue
{
    const Json *json = nullptr;
    const QString *text = nullptr; // the raw payload text when it is no JSON document

    bool present() const { return json || text; }
    bool isString() const { return text || (json && json->is_string()); }
    bool isObject() const { return json && json->is_object(); }
    bool isArray() const { return json && json->is_array(); }
    bool isNumber() const { return json && json->is_number(); }
    bool isBoolean() const { return json && json->is_boolean(); }
    // The value when it is text, else nothing.
    std::optional<QString> string() const;
    // A JSON array whose every element is a string.
    bool isStringList() const;
    QStringList stringList() const;

    static ReadValue of(const Json &object, std::string_view key);
};

// The read copy of an event payload: each value is taken as UTF-8 and read as JSON with fragments
// allowed, falling back to the text when it does not parse. Values are read on first use only, so an
// event pays for the keys its consumer looks at.
class ReadPayload
{
public:
    explicit ReadPayload(const EventPayload &raw);
    ReadPayload(const ReadPayload &) = delete;
    ReadPayload &operator=(const ReadPayload &) = delete;

    ReadValue value(std::string_view key) const;
    // The value as received, without reading it as JSON.
    const QString *raw(std::string_view key) const;

    // Reads one text as a JSON fragment; nothing when it is no JSON document.
    static std::optional<Json> readFragment(const QString &text);

private:
    struct Entry
    {
        const QString *key;
        const QString *value;
        mutable std::optional<Json> parsed;
        mutable bool read = false;
    };
    const Entry *find(std::string_view key) const;

    std::vector<Entry> m_entries;
};
