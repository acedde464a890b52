#pragma once

#include "live/ReadPayload.h"

// What an event says its tool or check was given: the payload's "input" object, else its
// "arguments" object, else the whole read payload.
class PayloadInput
{
public:
    explicit PayloadInput(const ReadPayload &payload) : m_payload(payload)
    {
        for (const std::string_view key : {std::string_view("input"), std::string_view("arguments")}) {
            const ReadValue candidate = payload.value(key);
            if (candidate.isObject()) {
                m_object = candidate.json;
                break;
            }
        }
    }

    ReadValue value(std::string_view key) const
    {
        return m_object ? ReadValue::of(*m_object, key) : m_payload.value(key);
    }
    // The first of `keys` that is present, or an absent value.
    ReadValue firstPresent(std::initializer_list<std::string_view> keys) const
    {
        for (const auto key : keys)
            if (const ReadValue found = value(key); found.present())
                return found;
        return {};
    }

private:
    const ReadPayload &m_payload;
    const Json *m_object = nullptr;
};
