#include "core/JSONValue.h"

#include <QStringList>

JSONValue JSONValue::decode(const QByteArray &bytes)
{
    return fromJson(json::parse(bytes));
}

JSONValue JSONValue::fromJson(const Json &value)
{
    JSONValue out;
    switch (value.type()) {
    case Json::value_t::string: out.m_value = json::toQString(value.get_ref<const std::string &>()); break;
    case Json::value_t::boolean: out.m_value = value.get<bool>(); break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: out.m_value = value.get<double>(); break;
    case Json::value_t::array: {
        Array items;
        items.reserve(value.size());
        for (const auto &item : value)
            items.push_back(fromJson(item));
        out.m_value = std::move(items);
        break;
    }
    case Json::value_t::object: {
        Object members;
        for (const auto &[key, item] : value.items())
            members.emplace(json::toQString(key), fromJson(item));
        out.m_value = std::move(members);
        break;
    }
    default: out.m_value = Null{}; break;
    }
    return out;
}

QString JSONValue::text() const
{
    struct Render
    {
        QString operator()(Null) const { return QStringLiteral("null"); }
        QString operator()(const QString &s) const { return s; }
        QString operator()(double d) const { return json::shortestDouble(d); }
        QString operator()(bool b) const { return b ? QStringLiteral("true") : QStringLiteral("false"); }
        QString operator()(const Array &items) const
        {
            QStringList parts;
            parts.reserve(qsizetype(items.size()));
            for (const auto &item : items)
                parts << item.text();
            return u'[' + parts.join(QStringLiteral(", ")) + u']';
        }
        QString operator()(const Object &members) const
        {
            // std::map keeps keys in ascending order of QString comparison (UTF-16 code units).
            QStringList parts;
            for (const auto &[key, item] : members)
                parts << key + QStringLiteral(": ") + item.text();
            return parts.join(QStringLiteral(", "));
        }
    };
    return std::visit(Render{}, m_value);
}
