#pragma once

#include <QByteArray>
#include <QStringList>

// The specialist roles of the platform's agent team, in seat order, from the installed
// `role_contract.json`. The first role is the orchestrator's (seat 1).
class TavriloRoleContract
{
public:
    // Loaded and checked once per process. A missing or invalid contract is a damaged
    // installation: the process stops with one line on standard error, never with a default list.
    static const QStringList &roles();

    // Decodes and validates a contract; throws HubError naming the broken rule.
    static QStringList parse(const QByteArray &contractJson);
};
