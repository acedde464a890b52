#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

using EventPayload = QMap<QString, QString>;

// One record of the local event journal and of the session model's event list.
struct WorkspaceEvent
{
    QString id;
    QString timestamp; // ISO 8601 text
    QString appID; // "app_id"
    QString tenantID; // "tenant_id"
    QString kind;
    EventPayload payload;

    // Compact JSON object with the six keys in declaration order.
    QByteArray encode() const;
    Json toJson() const;
    // Strict: all six keys, each a string, payload an object of strings; unknown keys ignored.
    static std::optional<WorkspaceEvent> decode(const Json &object);
    static std::optional<WorkspaceEvent> decode(const QByteArray &line);

    // Flattens a decoded JSON object into text values: booleans "true"/"false", strings as they
    // are, arrays and objects as compact JSON, numbers and null as their description.
    static EventPayload stringPayload(const Json &object);
    static QString stringValue(const Json &value);

    // The stable id of an event made from a session frame: "frame:" and the Base64 of
    // ["sessionId","turn","seq"] when the frame has a text sessionId and an integer seq (a number
    // without a fraction, 3.0 included), else its text journalEventId, else `fallback`.
    static QString projectionID(const Json &frame, const QString &fallback);

    // A fresh upper-case UUID and the current UTC time as "2026-12-09T08:26:13Z".
    static QString newID();
    static QString now();
};
