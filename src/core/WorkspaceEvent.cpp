#include "core/WorkspaceEvent.h"

#include <QDateTime>
#include <QUuid>

#include <cmath>

namespace
{
void appendMember(QByteArray &out, std::string_view key, const QString &value)
{
    json::appendQuoted(out, key);
    out.append(':');
    json::appendQuoted(out, QStringView(value));
}
} // namespace

QByteArray WorkspaceEvent::encode() const
{
    QByteArray out;
    qsizetype estimate = 96 + id.size() + timestamp.size() + appID.size() + tenantID.size() + kind.size();
    for (auto it = payload.cbegin(); it != payload.cend(); ++it)
        estimate += 6 + it.key().size() + it.value().size();
    out.reserve(estimate);
    out.append('{');
    appendMember(out, "id", id);
    out.append(',');
    appendMember(out, "timestamp", timestamp);
    out.append(',');
    appendMember(out, "app_id", appID);
    out.append(',');
    appendMember(out, "tenant_id", tenantID);
    out.append(',');
    appendMember(out, "kind", kind);
    out.append(",\"payload\":{");
    bool first = true;
    for (auto it = payload.cbegin(); it != payload.cend(); ++it) {
        if (!first)
            out.append(',');
        first = false;
        json::appendQuoted(out, QStringView(it.key()));
        out.append(':');
        json::appendQuoted(out, QStringView(it.value()));
    }
    out.append("}}");
    return out;
}

Json WorkspaceEvent::toJson() const
{
    Json p = Json::object();
    for (auto it = payload.cbegin(); it != payload.cend(); ++it)
        p[it.key().toStdString()] = it.value().toStdString();
    return Json{{"id", id.toStdString()},         {"timestamp", timestamp.toStdString()},
                {"app_id", appID.toStdString()},  {"tenant_id", tenantID.toStdString()},
                {"kind", kind.toStdString()},     {"payload", std::move(p)}};
}

std::optional<WorkspaceEvent> WorkspaceEvent::decode(const Json &object)
{
    if (!object.is_object())
        return std::nullopt;
    WorkspaceEvent event;
    const std::pair<std::string_view, QString *> fields[] = {{"id", &event.id},
                                                             {"timestamp", &event.timestamp},
                                                             {"app_id", &event.appID},
                                                             {"tenant_id", &event.tenantID},
                                                             {"kind", &event.kind}};
    for (const auto &[key, target] : fields) {
        auto value = json::string(object, key);
        if (!value)
            return std::nullopt;
        *target = std::move(*value);
    }
    const auto payload = object.find("payload");
    if (payload == object.end() || !payload->is_object())
        return std::nullopt;
    for (const auto &[key, value] : payload->items()) {
        if (!value.is_string())
            return std::nullopt;
        event.payload.insert(json::toQString(key), json::toQString(value.get_ref<const std::string &>()));
    }
    return event;
}

std::optional<WorkspaceEvent> WorkspaceEvent::decode(const QByteArray &line)
{
    const auto object = json::tryParse(line);
    if (!object)
        return std::nullopt;
    return decode(*object);
}

QString WorkspaceEvent::stringValue(const Json &value)
{
    switch (value.type()) {
    case Json::value_t::boolean: return value.get<bool>() ? QStringLiteral("true") : QStringLiteral("false");
    case Json::value_t::string: return json::toQString(value.get_ref<const std::string &>());
    case Json::value_t::array:
    case Json::value_t::object: return QString::fromUtf8(json::dump(value));
    case Json::value_t::number_integer: return QString::number(value.get<std::int64_t>());
    case Json::value_t::number_unsigned: return QString::number(value.get<std::uint64_t>());
    case Json::value_t::number_float: {
        // Whole doubles read as integers (1.0 is "1"), as numbers decoded from JSON text describe
        // themselves; others in their shortest round-trip form.
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
            return QString::number(qint64(d));
        return json::shortestDouble(d);
    }
    default: return QStringLiteral("null");
    }
}

EventPayload WorkspaceEvent::stringPayload(const Json &object)
{
    EventPayload out;
    if (!object.is_object())
        return out;
    for (const auto &[key, value] : object.items())
        out.insert(json::toQString(key), stringValue(value));
    return out;
}

QString WorkspaceEvent::projectionID(const Json &frame, const QString &fallback)
{
    const auto session = json::string(frame, "sessionId");
    const auto seq = json::wholeNumber(frame, "seq");
    if (session && seq) {
        const QString turn = json::string(frame, "turnId").value_or(*session);
        QByteArray array("[");
        json::appendQuoted(array, QStringView(*session));
        array.append(',');
        json::appendQuoted(array, QStringView(turn));
        array.append(',');
        json::appendQuoted(array, std::to_string(*seq));
        array.append(']');
        return QStringLiteral("frame:") + QString::fromLatin1(array.toBase64());
    }
    if (const auto journalId = json::string(frame, "journalEventId"))
        return *journalId;
    return fallback;
}

QString WorkspaceEvent::newID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString WorkspaceEvent::now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}
