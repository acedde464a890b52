#pragma once

#include "core/WorkspaceEvent.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

// Which specialists are working, how fast they produce output, and whether they run in parallel;
// fed by every merged event's kind and raw payload.
struct NativePresence
{
    Q_GADGET
    // The working roles in seat order.
    Q_PROPERTY(QStringList working READ workingRoles)
    Q_PROPERTY(float velocity MEMBER velocity)
    Q_PROPERTY(bool measuredRate MEMBER measuredRate)
    Q_PROPERTY(bool parallel MEMBER parallel)

public:
    QSet<QString> working; // always role ids of roles()
    float velocity = 0;    // output tokens per second; 0 when not measured
    bool measuredRate = false;
    bool parallel = false;

    void consume(const QString &kind, const EventPayload &payload);
    QStringList workingRoles() const;

    bool operator==(const NativePresence &) const = default;

    // The specialist roles in seat order, read once per process. A role's index is its mask bit.
    static const QStringList &roles();
    static bool isRole(const QString &id);
    // Bit i set when roles()[i] is in `set`; roles from index 64 on add no bit.
    static qint64 mask(const QSet<QString> &set);
    static qint64 mask(const QSet<QString> &set, const QStringList &roles);
};
